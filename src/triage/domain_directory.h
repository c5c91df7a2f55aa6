// The domain's directory below the data folder, where its users' databases
// and whitelists live.
#pragma once

#include <string>

#include "platform/text_files.h"

namespace varnolt {

// Creates the domain's directory (DomainDirectory) below an existing data
// folder, not its parents. The filter makes it on the domain's first event;
// a host that writes a user's file before then makes it the same way.
CreateDirectoryResult CreateDomainDirectory(TextFiles& files, const std::string& data_folder,
                                            const std::string& domain);

}  // namespace varnolt
