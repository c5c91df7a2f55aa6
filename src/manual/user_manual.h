// Delivery of the user manual: the administrator's message file "vnusrmnl.sys"
// in the data folder becomes the item "Varnolt_Manual.eml" of a mailbox folder.
#pragma once

#include <string>

#include "diagnostics/reporter.h"
#include "platform/names/data_layout.h"
#include "store/record.h"

namespace varnolt {

inline constexpr const char* kUserManualItemName = "Varnolt_Manual.eml";

// Creates folder_url + "/Varnolt_Manual.eml" (replacing an item of that name)
// with the source file's bytes as content, message class "IPM.Note" and
// message flags 2. A failure stops at its step (an item created before it
// stays) and is reported as "Creation of user manual failed: " with the
// folder URL as source; nothing is raised.
void CreateUserManual(Reporter& reporter, Connection& connection, const std::string& data_folder,
                      const std::string& folder_url);

}  // namespace varnolt
