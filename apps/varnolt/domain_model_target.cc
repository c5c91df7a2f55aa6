#include "varnolt/domain_model_target.h"

#include <filesystem>

#include "backends/mailstore/store_names.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"

namespace varnolt::cli {

DomainModelTarget DomainModelOf(Session& session, const std::string& domain) {
  if (!mailstore::IsValidName(domain) || domain.size() > mailstore::kMaxDomainBytes) {
    throw UsageError("'" + domain + "' is not a valid domain name (no '/', '\\', '.' or '..', at most " +
                     std::to_string(mailstore::kMaxDomainBytes) + " bytes)");
  }
  const std::string data_folder = session.DataFolder();
  if (data_folder.empty()) throw hosting::CommandError("the constructor string is empty, so there is no data folder");
  DomainModelTarget target{domain, ""};
  std::error_code error;
  const std::filesystem::path folder = ToFileSystemPath(data_folder);
  if (!std::filesystem::is_directory(folder / domain, error)) {
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_directory(error) && mailstore::LowerKey(name) == mailstore::LowerKey(domain)) target.domain = name;
    }
  }
  target.model_path = DomainModelPath(data_folder, target.domain);
  return target;
}

}  // namespace varnolt::cli
