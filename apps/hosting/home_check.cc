#include "hosting/home_check.h"

#include <filesystem>

#include "hosting/home_config.h"

namespace varnolt::hosting {
namespace {

namespace fs = std::filesystem;

std::string RepointAdvice(const std::string& home) {
  const fs::path own_data = fs::path(home) / kDefaultDataFolder;
  std::error_code ignored;
  const std::string target = fs::is_directory(own_data, ignored) ? own_data.string() : "<its data folder>";
  return "re-point it with: varnolt --home '" + home + "' config constructor-string '" + target + "'";
}

}  // namespace

std::optional<std::string> DataFolderProblem(const std::string& home, const std::string& data_folder) {
  if (data_folder.empty()) return std::nullopt;
  const fs::path folder = fs::path(data_folder).lexically_normal();
  const fs::path home_path = fs::path(home).lexically_normal();
  if (IsPathWithin(folder.string(), home_path.string())) return std::nullopt;
  std::error_code ignored;
  // The usual layout: <another home>/data.
  const fs::path owner = folder.has_filename() ? folder.parent_path() : folder.parent_path().parent_path();
  if (fs::exists(owner / kConfigFileName, ignored) && !fs::equivalent(owner, home_path, ignored)) {
    return "the constructor string names " + folder.string() + ", the data folder of another home (" +
           owner.string() + "): this home was copied or moved by hand, and the filter would use that home's "
           "models, whitelists and log; " + RepointAdvice(home);
  }
  if (!fs::is_directory(folder, ignored)) {
    return "the constructor string names " + folder.string() + ", which is no folder (was the home moved?); " +
           RepointAdvice(home);
  }
  return std::nullopt;
}

bool IsPathWithin(const std::string& inner, const std::string& outer) {
  const fs::path relative = fs::path(inner).lexically_relative(outer);
  return !relative.empty() && *relative.begin() != ".." && *relative.begin() != ".";
}

}  // namespace varnolt::hosting
