// `config`: the filter's settings and the component's constructor string in the hive.
#include <charconv>
#include <iostream>

#include "backends/registry/hive_file.h"
#include "backends/registry/key_path.h"
#include "hosting/registry_values.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/known_settings.h"
#include "varnolt/settings_listing.h"

namespace varnolt::cli {
namespace {

struct SetOptions {
  std::string name;
  std::string value;
  std::string type;
  bool force = false;
};

// The number a dword VALUE stands for: a decimal integer that fits 32 bits,
// signed or unsigned.
std::optional<uint32_t> ParseDword(const std::string& text) {
  int64_t number = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, number);
  if (ec != std::errc() || ptr != end || number < INT32_MIN || number > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(number);
}

// Every value under the settings key, by the name as stored.
std::vector<NamedValue> StoredSettings(Session& session) {
  hosting::RequireHiveFile(session.Config().registry_path);
  HiveDocument hive;
  const HiveFile file(session.Config().registry_path);
  if (const int32_t status = file.Read(&hive); status != ERROR_SUCCESS) {
    throw hosting::CommandError("cannot read the registry " + file.path() + " (status " + std::to_string(status) + ")" +
                                hosting::StatusMeaning(status));
  }
  std::vector<NamedValue> values;
  const std::string key = CanonicalKeyPath(std::string(kMachineRoot) + "\\" + kSettingsKey);
  for (const auto& [folded, named] : hive.Values(key)) values.push_back(named);
  return values;
}

void RunList(Session& session, bool json) {
  std::cout << SettingsListing(StoredSettings(session), json);
}

void RunGet(Session& session, const std::string& name) {
  hosting::RequireHiveFile(session.Config().registry_path);
  const auto value = hosting::QueryValue(session.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kSettingsKey, name);
  if (!value) throw hosting::CommandError("no setting '" + name + "'");
  std::cout << hosting::DisplayText(*value) << '\n';
}

// A value the filter cannot convert would stop every later event, and a
// misspelt name would change nothing: both are refused before anything is written.
void RunSet(Session& session, const SetOptions& options) {
  const KnownSetting* known = FindKnownSetting(options.name);
  if (!known && !options.force) {
    const auto nearest = NearestKnownSetting(options.name);
    throw UsageError("'" + options.name + "' is not a setting the filter reads" +
                     (nearest ? " (did you mean '" + *nearest + "'?)" : "") +
                     "; give --force to write it anyway");
  }
  const auto number = ParseDword(options.value);
  // A text setting stays text even when it looks like a number (a folder named "2024").
  const bool text_setting = known && !known->is_number;
  const std::string type = !options.type.empty() ? options.type : (number && !text_setting ? "dword" : "sz");
  RegValue value;
  if (type == "dword") {
    if (!number) throw UsageError("'" + options.value + "' is not a 32-bit integer for a dword setting");
    value = hosting::DwordValue(*number);
  } else {
    value = hosting::StringValue(options.value);
  }
  if (known) {
    const std::string reason = UnusableValueReason(*known, value);
    if (!reason.empty()) throw UsageError(reason + "; nothing was written");
  }
  hosting::RequireHiveFile(session.Config().registry_path);
  hosting::SetValue(session.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kSettingsKey, known ? known->name : options.name,
                    value);
}

void RunUnset(Session& session, const std::string& name) {
  hosting::RequireHiveFile(session.Config().registry_path);
  if (!hosting::DeleteValue(session.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kSettingsKey, name)) {
    throw hosting::CommandError("no setting '" + name + "'");
  }
}

}  // namespace

void AddConfigCommand(CLI::App& app, Session& session) {
  CLI::App* config = app.add_subcommand(
      "config", "Show or change the filter's settings (HKEY_LOCAL_MACHINE\\Software\\Varnolt) "
                "and the constructor string");
  config->require_subcommand(1);

  auto list_json = std::make_shared<bool>(false);
  CLI::App* list = config->add_subcommand(
      "list", "Every setting with its value, default, allowed values and meaning (unset ones too)");
  list->add_flag("--json", *list_json, "A JSON array of {name, type, value, default, allowed, meaning}");
  list->callback([&session, list_json] { RunList(session, *list_json); });

  auto describe_name = std::make_shared<std::string>();
  CLI::App* describe = config->add_subcommand("describe", "What one setting does, in full, and its current value");
  describe->add_option("NAME", *describe_name, "The setting, like ProviderMode")->required();
  describe->callback([&session, describe_name] {
    const auto value =
        hosting::QueryValue(session.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kSettingsKey, *describe_name);
    std::cout << SettingExplanation(*describe_name, value);
  });

  auto get_name = std::make_shared<std::string>();
  CLI::App* get = config->add_subcommand("get", "Print one setting's value");
  get->add_option("NAME", *get_name, "The setting")->required();
  get->callback([&session, get_name] { RunGet(session, *get_name); });

  auto set_options = std::make_shared<SetOptions>();
  CLI::App* set = config->add_subcommand("set", "Write one setting");
  set->add_option("NAME", set_options->name, "The setting")->required();
  set->add_option("VALUE", set_options->value, "Its value")->required();
  set->add_option("--type", set_options->type,
                  "sz or dword (default: dword for an integer VALUE, else sz; always sz for UseJunkMailFolder)")
      ->check(CLI::IsMember({"sz", "dword"}));
  set->add_flag("--force", set_options->force, "Write a NAME that is none of the filter's six settings");
  set->footer("The settings: DebugLevel, HideSpam, ProviderMode, UseWhiteList, AutoWhiteList (numbers: a "
              "32-bit integer, or text that reads as one) and UseJunkMailFolder (text). A value the filter "
              "could not read is refused.");
  set->callback([&session, set_options] { RunSet(session, *set_options); });

  auto unset_name = std::make_shared<std::string>();
  CLI::App* unset = config->add_subcommand("unset", "Remove one setting");
  unset->add_option("NAME", *unset_name, "The setting")->required();
  unset->callback([&session, unset_name] { RunUnset(session, *unset_name); });

  auto ctor_value = std::make_shared<std::string>();
  CLI::App* ctor = config->add_subcommand(
      "constructor-string", "Print the constructor string, or set it to VALUE exactly as given (may be empty)");
  CLI::Option* ctor_option = ctor->add_option("VALUE", *ctor_value, "The new constructor string");
  ctor->callback([&session, ctor_value, ctor_option] {
    hosting::RequireHiveFile(session.Config().registry_path);
    Registry& registry = session.GetPlatform().Reg();
    if (ctor_option->count() > 0) {
      hosting::SetValue(registry, HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue,
                        hosting::StringValue(*ctor_value));
    } else {
      std::cout << session.ConstructorString() << '\n';
    }
  });
}

}  // namespace varnolt::cli
