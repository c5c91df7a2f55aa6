#include "triage/domain_directory.h"

#include "platform/names/data_layout.h"

namespace varnolt {

CreateDirectoryResult CreateDomainDirectory(TextFiles& files, const std::string& data_folder,
                                            const std::string& domain) {
  return files.CreateDirectory(DomainDirectory(data_folder, domain));
}

}  // namespace varnolt
