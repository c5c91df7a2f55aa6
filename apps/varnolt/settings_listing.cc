#include "varnolt/settings_listing.h"

#include <strings.h>

#include "hosting/registry_values.h"
#include "platform/registry.h"
#include "varnolt/cli_errors.h"
#include "varnolt/json_output.h"
#include "varnolt/known_settings.h"
#include "varnolt/setting_descriptions.h"
#include "varnolt/text_table.h"

namespace varnolt::cli {
namespace {

constexpr const char* kUnset = "(not set)";
// Settings take effect in a process that starts after the change: the filter
// reads each once per process.
constexpr const char* kWhenEffective =
    "A setting is read once per process: `varnolt` commands see a change at once, a long-running host "
    "(the Dovecot plugin) after it restarts. For an on/off setting any number but 0 means on.";

const NamedValue* FindStored(const std::vector<NamedValue>& stored, const char* name) {
  for (const NamedValue& value : stored) {
    if (strcasecmp(value.name.c_str(), name) == 0) return &value;
  }
  return nullptr;
}

std::string ShownValue(const RegValue& value) {
  const std::string text = hosting::DisplayText(value);
  return value.type == REG_SZ ? "\"" + OneLine(text) + "\"" : OneLine(text);
}

Json JsonOfValue(const RegValue& value) {
  if (value.type == REG_DWORD && value.data.size() == 4) return std::stol(hosting::DisplayText(value));
  return hosting::DisplayText(value);
}

// The type and the value a new home gets, as `init` writes them.
const RegValue& DefaultOf(const SettingDescription& setting) { return FindKnownSetting(setting.name)->default_value; }
std::string DefaultShown(const SettingDescription& setting) { return ShownValue(DefaultOf(setting)); }
std::string DefaultType(const SettingDescription& setting) { return hosting::TypeName(DefaultOf(setting).type); }

Json JsonRow(const std::string& name, const NamedValue* stored, const SettingDescription* setting) {
  return {{"name", name},
          {"type", stored ? Json(hosting::TypeName(stored->value.type)) : Json(nullptr)},
          {"value", stored ? JsonOfValue(stored->value) : Json(nullptr)},
          {"default", setting ? JsonOfValue(DefaultOf(*setting)) : Json(nullptr)},
          {"allowed", setting ? Json(setting->allowed) : Json(nullptr)},
          {"meaning", setting ? Json(setting->summary) : Json("not a setting of the filter; it ignores it")}};
}

}  // namespace

std::string SettingsListing(const std::vector<NamedValue>& stored, bool json) {
  Json array = Json::array();
  std::vector<std::vector<std::string>> rows{{"NAME", "TYPE", "VALUE", "DEFAULT", "ALLOWED", "MEANING"}};
  for (const SettingDescription& setting : SettingDescriptions()) {
    const NamedValue* value = FindStored(stored, setting.name);
    array.push_back(JsonRow(setting.name, value, &setting));
    rows.push_back({setting.name, value ? hosting::TypeName(value->value.type) : "-",
                    value ? ShownValue(value->value) : kUnset, DefaultShown(setting), setting.allowed,
                    setting.summary});
  }
  for (const NamedValue& value : stored) {
    if (FindSettingDescription(value.name)) continue;
    array.push_back(JsonRow(value.name, &value, nullptr));
    rows.push_back({OneLine(value.name), hosting::TypeName(value.value.type), ShownValue(value.value), "-", "-",
                    "not a setting of the filter; it ignores it"});
  }
  return json ? JsonText(array) : AlignColumns(rows);
}

std::string SettingExplanation(const std::string& name, const std::optional<RegValue>& value) {
  const SettingDescription* setting = FindSettingDescription(name);
  if (!setting) {
    std::string names;
    for (const SettingDescription& known : SettingDescriptions()) names += std::string(names.empty() ? "" : ", ") + known.name;
    const auto nearest = NearestKnownSetting(name);
    throw hosting::CommandError("'" + name + "' is not a setting of the filter" +
                                (nearest ? " (did you mean " + *nearest + "?)" : " (its settings: " + names + ")"));
  }
  std::string text = std::string(setting->name) + ": " + setting->summary + ".\n\n";
  text += "  type     " + DefaultType(*setting) + "\n";
  text += "  value    " + (value ? ShownValue(*value) : std::string(kUnset) + " (read as 0 or empty)") + "\n";
  text += "  default  " + DefaultShown(*setting) + "\n";
  text += "  allowed  " + std::string(setting->allowed) + "\n\n";
  text += std::string(setting->details) + "\n\n" + kWhenEffective + "\n";
  return text;
}

}  // namespace varnolt::cli
