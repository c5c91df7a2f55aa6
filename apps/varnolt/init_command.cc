// `init`: a new home with its config, registry, empty store and data folder;
// `init --repair`: the registration and settings of an existing home made
// whole again without touching its mail.
#include <filesystem>
#include <iostream>

#include "backends/journal/verdict_journal.h"
#include "backends/postgres/conninfo_secrets.h"
#include "hosting/registry_values.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/file_io.h"
#include "varnolt/known_settings.h"
#include "varnolt/user_manual_text.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

struct InitOptions {
  std::string data_folder;
  std::string postgresql;  // the models' database; empty: files
  bool repair = false;
  bool delete_mail = false;
  bool force = false;  // no longer accepted: it used to delete all mail
};

// The constructor string is the data folder's path, and the filter reads the
// folder back as its first ";"-separated field without blanks around it, with
// "\" as separator: a path that reading would change is refused.
void CheckDataFolder(const std::string& path) {
  std::string problem;
  if (path.find(';') != std::string::npos) problem = "holds a ';'";
  if (path.find('\\') != std::string::npos) problem = "holds a '\\'";
  if (!path.empty() && (path.front() == ' ' || path.back() == ' ')) problem = "begins or ends with a blank";
  for (const unsigned char c : path) {
    if (c < 0x20 || c == 0x7F) problem = "holds a control character";
  }
  if (!problem.empty()) {
    throw UsageError("the data folder '" + path + "' " + problem +
                     ", which the filter cannot take from its constructor string; choose another folder");
  }
}

std::string DataFolderPath(const std::string& home, const std::string& option) {
  const std::string path = option.empty() ? (fs::path(home) / hosting::kDefaultDataFolder).string()
                                          : hosting::AbsoluteAgainst(fs::current_path().string(), option);
  CheckDataFolder(path);
  return path;
}

// The group (the mail server's) reads the settings; a password in them is
// for the owner alone.
mode_t ConfigFileMode(const std::string& postgresql) {
  return !postgresql.empty() && postgres::HoldsPassword(postgresql) ? 0600 : 0640;
}

// Removes the files of an earlier home that --force-delete-mail replaces.
void RemoveOldHome(const std::string& home) {
  for (const char* name : {hosting::kConfigFileName, hosting::kDefaultRegistryFile, hosting::kDefaultStoreFile}) {
    const fs::path path = fs::path(home) / name;
    fs::remove(path);
    if (std::string(name) == hosting::kDefaultStoreFile) {
      fs::remove(path.string() + "-wal");
      fs::remove(path.string() + "-shm");
    }
  }
}

// An administrator's own manual is worth more than ours: only a missing one is written.
void EnsureDataFolder(const std::string& data_folder) {
  fs::create_directories(data_folder);
  const fs::path manual = fs::path(data_folder) / kUserManualSourceFile;
  if (!fs::exists(manual)) ReplaceFile(manual.string(), DefaultUserManual());
}

void RunCreate(Session& session, const InitOptions& options) {
  const std::string home = session.Home();
  // Found first, so that a build without the component leaves nothing behind.
  const std::string library = hosting::LocateFilterLibrary();
  const std::string data_folder = DataFolderPath(home, options.data_folder);

  fs::create_directories(home);
  if (options.delete_mail) RemoveOldHome(home);
  fs::create_directories(data_folder);
  std::string config_text = hosting::DefaultConfigText();
  if (!options.postgresql.empty()) {
    const std::string files = std::string("store = ") + hosting::kFileModelStore + "\npostgresql =\n";
    config_text.replace(
        config_text.find(files), files.size(),
        std::string("store = ") + hosting::kPostgresModelStore + "\npostgresql = " + options.postgresql + "\n");
  }
  ReplaceFile((fs::path(home) / hosting::kConfigFileName).string(), config_text, ConfigFileMode(options.postgresql));

  const hosting::HomeConfig& config = session.Config();
  MailStore::Open(config.store_path, /*create_if_missing=*/true);
  Registry& registry = session.GetPlatform().Reg();
  for (const KnownSetting& setting : KnownSettings()) {
    hosting::SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, setting.name, setting.default_value);
  }
  hosting::SetValue(registry, HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue, hosting::StringValue(data_folder));
  hosting::RegisterFilter(session.GetPlatform(), library);
  EnsureDataFolder(data_folder);
  if (config.engine_store == hosting::kPostgresModelStore) {
    std::cout << "model schema at version " << MigrateModelDatabase(config) << '\n';
  }

  std::cout << "created varnolt home " << home << " (data folder " << data_folder << ")\n";
}

// A file that cannot be read is kept beside, never overwritten:
// "<file>.damaged", "-2"... SQLite's side files go with it.
std::string SetDamagedFileAside(const std::string& path) {
  std::string aside = path + ".damaged";
  for (int n = 2; fs::exists(aside); ++n) aside = path + ".damaged-" + std::to_string(n);
  fs::rename(path, aside);
  for (const char* side : {"-wal", "-shm"}) {
    std::error_code missing;
    fs::rename(path + side, aside + side, missing);
  }
  return aside;
}

// A journal that cannot serve is set aside and a new one started: the
// figures it held are lost to the dashboard, the deliveries are not.
void RepairJournal(const std::string& path) {
  std::error_code ignored;
  if (!fs::exists(path, ignored)) return;
  const std::string damage = journal::VerdictJournal::Damage(path);
  if (damage.empty()) return;
  const std::string aside = SetDamagedFileAside(path);
  journal::VerdictJournal::Open(path, {});
  std::cout << "set the damaged verdict journal aside as " << aside << " (" << damage << ") and started a new one\n";
}

bool HiveReadable(Registry& registry) {
  HKEY key = 0;
  const int32_t status = registry.RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, &key);
  if (status == ERROR_SUCCESS) registry.RegCloseKey(key);
  return status != ERROR_BADDB;
}

// Keeps the config, the store (whatever it holds), the data folder and its
// logs (a damaged journal is set aside); writes the registration, the
// missing or unreadable settings and, when there is none or one is given,
// the constructor string.
void RunRepair(Session& session, const InitOptions& options) {
  const std::string home = session.Home();
  const std::string library = hosting::LocateFilterLibrary();
  const std::string config_path = (fs::path(home) / hosting::kConfigFileName).string();
  if (!fs::exists(config_path)) {
    ReplaceFile(config_path, hosting::DefaultConfigText(), ConfigFileMode(""));
    std::cout << "wrote a default " << config_path << '\n';
  }
  const hosting::HomeConfig& config = session.Config();
  // Opened (or made when missing) before any change: a damaged store stops the repair here.
  const size_t mailboxes = MailStore::Open(config.store_path, /*create_if_missing=*/true)->ListMailboxes().size();

  Registry& registry = session.GetPlatform().Reg();
  if (!HiveReadable(registry)) {
    std::cout << "set the unreadable registry aside as " << SetDamagedFileAside(config.registry_path) << '\n';
  }
  std::string restored;
  for (const KnownSetting& setting : KnownSettings()) {
    const auto value = hosting::QueryValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, setting.name);
    if (value && UnusableValueReason(setting, *value).empty()) continue;
    hosting::SetValue(registry, HKEY_LOCAL_MACHINE, kSettingsKey, setting.name, setting.default_value);
    restored += std::string(restored.empty() ? "" : ", ") + setting.name;
  }
  const auto stored = hosting::QueryValue(registry, HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue);
  std::string data_folder;
  if (stored && !hosting::DisplayText(*stored).empty() && options.data_folder.empty()) {
    data_folder = session.DataFolder();
    data_folder.pop_back();  // the filter's form ends in "\"
  } else {
    data_folder = DataFolderPath(home, options.data_folder);
    hosting::SetValue(registry, HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue,
                      hosting::StringValue(data_folder));
  }
  hosting::RegisterFilter(session.GetPlatform(), library);
  EnsureDataFolder(ToFileSystemPath(data_folder));
  RepairJournal(config.journal_path);
  if (session.Config().engine_store == hosting::kPostgresModelStore) {
    std::cout << "model schema at version " << MigrateModelDatabase(session.Config()) << '\n';
  }

  std::cout << "repaired varnolt home " << home << ": filter registered, "
            << (restored.empty() ? std::string("no setting needed restoring") : "default settings restored for " + restored)
            << ", data folder " << data_folder << ", store with " << mailboxes << " mailbox(es) kept\n";
}

void RunInit(Session& session, const InitOptions& options) {
  if (options.force) {
    throw UsageError("--force is no longer accepted, as it deleted all mail: " + std::string(hosting::kRepairAdvice) +
                     "; 'varnolt init --force-delete-mail' deletes the store and the settings and starts empty");
  }
  if (options.repair && options.delete_mail) throw UsageError("give --repair or --force-delete-mail, not both");
  if (options.repair) return RunRepair(session, options);
  const std::string home = session.Home();
  if (hosting::HomeExists(home) && !options.delete_mail) {
    throw hosting::CommandError("a varnolt home already exists at " + home + " (" + hosting::kRepairAdvice +
                                "; 'varnolt init --force-delete-mail' deletes all of its mail and starts empty)");
  }
  RunCreate(session, options);
}

}  // namespace

void AddInitCommand(CLI::App& app, Session& session) {
  auto options = std::make_shared<InitOptions>();
  CLI::App* init = app.add_subcommand("init", "Create the home: config, registry with the default settings, "
                                              "an empty store, the data folder and its user manual");
  init->add_option("--data-folder", options->data_folder,
                   "The filter's data folder, relative to the current folder (default: <home>/data, or with "
                   "--repair the one the registry names); its absolute path becomes the constructor string");
  init->add_option("--postgresql", options->postgresql,
                   "Keep the spam models in this PostgreSQL database (a libpq connection string) and create "
                   "their schema there: [engine] store = postgresql");
  init->add_flag("--repair", options->repair,
                 "Of an existing home, keep the config, the store, the data folder and its logs: register the "
                 "filter again, restore settings that are missing or unreadable to their defaults, and set the "
                 "constructor string when there is none (an unreadable registry or a damaged verdict journal is set "
                 "aside, not deleted)");
  init->add_flag("--force-delete-mail", options->delete_mail,
                 "Replace an existing home: DELETES ALL MAIL in its store, and its settings, and starts empty");
  init->add_flag("--force", options->force, "Refused: see --repair and --force-delete-mail")
      ->group("");  // kept out of the help, so that nobody learns to type it
  init->callback([&session, options] { RunInit(session, *options); });
}

}  // namespace varnolt::cli
