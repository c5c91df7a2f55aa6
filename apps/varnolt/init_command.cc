// `init`: a new home with its config, registry, empty store and data folder.
#include <filesystem>
#include <iostream>

#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/file_io.h"
#include "varnolt/registry_values.h"
#include "varnolt/user_manual_text.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

struct InitOptions {
  std::string data_folder;
  bool force = false;
};

// The settings a new home starts with.
void WriteDefaultSettings(Registry& registry) {
  SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, "DebugLevel", DwordValue(1));
  SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, "HideSpam", DwordValue(0));
  SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, "ProviderMode", DwordValue(0));
  SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, "UseJunkMailFolder", StringValue("Junk E-Mail"));
  SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, "UseWhiteList", DwordValue(1));
  SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, "AutoWhiteList", DwordValue(1));
}

// Removes the files of an earlier home that --force replaces.
void RemoveOldHome(const std::string& home) {
  for (const char* name : {kConfigFileName, kDefaultRegistryFile, kDefaultStoreFile}) {
    const fs::path path = fs::path(home) / name;
    fs::remove(path);
    if (std::string(name) == kDefaultStoreFile) {
      fs::remove(path.string() + "-wal");
      fs::remove(path.string() + "-shm");
    }
  }
}

void RunInit(Session& session, const InitOptions& options) {
  const std::string home = session.Home();
  if (HomeExists(home) && !options.force) {
    throw CommandError("a varnolt home already exists at " + home + " (use --force to replace it)");
  }
  // Found first, so that a build without the component leaves nothing behind.
  const std::string library = LocateFilterLibrary();
  const std::string data_folder =
      options.data_folder.empty() ? (fs::path(home) / kDefaultDataFolder).string()
                                  : AbsoluteAgainst(fs::current_path().string(), options.data_folder);

  fs::create_directories(home);
  if (options.force) RemoveOldHome(home);
  fs::create_directories(data_folder);
  ReplaceFile((fs::path(home) / kConfigFileName).string(), DefaultConfigText());

  const HomeConfig& config = session.Config();
  MailStore::Open(config.store_path, /*create_if_missing=*/true);
  Registry& registry = session.GetPlatform().Reg();
  WriteDefaultSettings(registry);
  SetValue(registry, HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue, StringValue(data_folder));
  RegisterFilter(session.GetPlatform(), library);

  // An administrator's own manual is worth more than ours: only a missing one is written.
  const fs::path manual = fs::path(data_folder) / kUserManualSourceFile;
  if (!fs::exists(manual)) ReplaceFile(manual.string(), DefaultUserManual());

  std::cout << "created varnolt home " << home << " (data folder " << data_folder << ")\n";
}

}  // namespace

void AddInitCommand(CLI::App& app, Session& session) {
  auto options = std::make_shared<InitOptions>();
  CLI::App* init = app.add_subcommand("init", "Create the home: config, registry with the default settings, "
                                              "an empty store, the data folder and its user manual");
  init->add_option("--data-folder", options->data_folder,
                   "The filter's data folder, relative to the current folder (default: <home>/data); "
                   "its absolute path becomes the constructor string");
  init->add_flag("--force", options->force, "Replace an existing home (its store and registry start empty)");
  init->callback([&session, options] { RunInit(session, *options); });
}

}  // namespace varnolt::cli
