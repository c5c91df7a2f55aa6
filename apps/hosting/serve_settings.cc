#include "hosting/serve_settings.h"

#include <ini.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "hosting/command_error.h"

namespace varnolt::hosting {
namespace {

int CollectServe(void* user, const char* section, const char* name, const char* value) {
  if (std::strcmp(section, "serve") == 0) (*static_cast<std::map<std::string, std::string>*>(user))[name] = value;
  return 1;
}

}  // namespace

ServeSettings LoadServeSettings(const std::string& config_path) {
  std::map<std::string, std::string> values;
  const int result = ini_parse(config_path.c_str(), CollectServe, &values);
  if (result == -1 && errno == ENOENT) return {};
  if (result != 0) {
    throw CommandError(config_path + ": cannot read its [serve] settings" +
                       (result > 0 ? " (line " + std::to_string(result) + ")" : std::string()));
  }
  ServeSettings settings;
  if (const auto found = values.find("mailbox_metrics"); found != values.end() && !found->second.empty()) {
    if (found->second != "on" && found->second != "off") {
      throw CommandError(config_path + ": [serve] mailbox_metrics must be 'on' or 'off', not '" + found->second + "'");
    }
    settings.mailbox_metrics = found->second == "on";
  }
  if (const auto found = values.find("doveadm"); found != values.end()) {
    settings.doveadm = found->second;
    if (!settings.doveadm.empty() && settings.doveadm.front() != '/') {
      throw CommandError(config_path + ": [serve] doveadm must start with the program's absolute path, not '" +
                         settings.doveadm + "'");
    }
  }
  return settings;
}

}  // namespace varnolt::hosting
