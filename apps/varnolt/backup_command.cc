// `backup DEST`: a consistent copy of a live home that works on its own: the
// store and the models copied through SQLite's online backup, every other
// file of the home and its data folder as it stands, and a constructor
// string that names the copy's own data folder.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "backends/journal/verdict_journal.h"
#include "backends/mailstore/online_backup.h"
#include "hosting/home_check.h"
#include "hosting/registry_values.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/file_io.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

struct BackupOptions {
  std::string destination;
  bool quiet = false;
};

struct BackupCounts {
  int databases = 0;
  int files = 0;
};

constexpr const char* kEventLogFile = "events.log";

// SQLite's side files (by their names: a database being created may not
// show its header yet): their content reaches the copy through the online backup.
bool IsDatabaseSideFile(const fs::path& path) {
  const std::string name = path.filename().string();
  for (const std::string_view suffix : {"-journal", "-wal", "-shm"}) {
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

void CopyOne(const fs::path& from, const fs::path& to, BackupCounts* counts) {
  std::error_code ignored;
  // The filter removes some files as it goes (a user's .create marker).
  if (!fs::exists(from, ignored)) return;
  if (IsSqliteDatabase(from.string())) {
    CopyDatabaseOnline(from.string(), to.string());
    ++counts->databases;
  } else {
    fs::copy_file(from, to);
    ++counts->files;
  }
}

// Every file below the data folder: models through the online backup,
// whitelists, the log, the manual and the rest byte for byte.
void CopyDataFolder(const fs::path& from, const fs::path& to, bool progress, BackupCounts* counts) {
  fs::create_directories(to);
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    const fs::path target = to / entry.path().lexically_relative(from);
    if (entry.is_directory()) {
      fs::create_directories(target);
    } else if (entry.is_regular_file() && !IsDatabaseSideFile(entry.path())) {
      files.push_back(entry.path());
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    CopyOne(files[i], to / files[i].lexically_relative(from), counts);
    if (progress) std::cerr << "\rcopying the data folder: " << i + 1 << "/" << files.size() << std::flush;
  }
  if (progress && !files.empty()) std::cerr << '\n';
}

// The home's own varnolt.conf when its store, registry and event log are the
// home's usual files; otherwise one that names the copies inside DEST.
void WriteConfig(const hosting::HomeConfig& config, const fs::path& destination) {
  const fs::path home = config.home;
  const std::string file_log = "file:" + (home / kEventLogFile).string();
  const bool usual = config.store_path == (home / hosting::kDefaultStoreFile).string() &&
                     config.registry_path == (home / hosting::kDefaultRegistryFile).string() &&
                     (config.event_log_target == file_log || config.event_log_target == "syslog");
  if (usual) {
    fs::copy_file(home / hosting::kConfigFileName, destination / hosting::kConfigFileName);
    return;
  }
  std::string text = hosting::DefaultConfigText();
  if (config.event_log_target == "syslog") {
    const std::string file_target = std::string("target = ") + hosting::kDefaultEventLogTarget;
    text.replace(text.find(file_target), file_target.size(), "target = syslog");
  }
  ReplaceFile((destination / hosting::kConfigFileName).string(), text);
}

// The constructor string with its first field (the data folder) replaced,
// the fields after it kept.
std::string RepointedConstructorString(const std::string& original, const std::string& data_folder) {
  const size_t separator = original.find(';');
  return data_folder + (separator == std::string::npos ? "" : original.substr(separator));
}

void CopyHome(const hosting::HomeConfig& config, const std::string& constructor_string, const std::string& data_folder,
              const fs::path& destination, const BackupOptions& options) {
  std::error_code ignored;
  BackupCounts counts;
  WriteConfig(config, destination);
  CopyDatabaseOnline(config.store_path, (destination / hosting::kDefaultStoreFile).string());
  ReplaceFile((destination / hosting::kDefaultRegistryFile).string(), ReadFileBytes(config.registry_path),
              static_cast<mode_t>(fs::status(config.registry_path).permissions() & fs::perms::all));
  // The verdict journal in its usual place (the copied varnolt.conf names it there).
  if (config.journal_path == (fs::path(config.home) / journal::kDefaultJournalFile).string() &&
      fs::exists(config.journal_path, ignored)) {
    CopyDatabaseOnline(config.journal_path, (destination / journal::kDefaultJournalFile).string());
  }
  const std::string file_prefix = "file:";
  if (config.event_log_target.rfind(file_prefix, 0) == 0 &&
      fs::exists(config.event_log_target.substr(file_prefix.size()), ignored)) {
    fs::copy_file(config.event_log_target.substr(file_prefix.size()), destination / kEventLogFile);
  }

  const fs::path new_data = destination / hosting::kDefaultDataFolder;
  if (!data_folder.empty() && fs::is_directory(data_folder, ignored)) {
    CopyDataFolder(data_folder, new_data, !options.quiet && isatty(STDERR_FILENO) == 1, &counts);
  } else if (!data_folder.empty()) {
    fs::create_directories(new_data);
  }

  // The copy's own constructor string, written through its own registry; an
  // empty one (no data folder) stays empty.
  Session copy;
  copy.home_option() = destination.string();
  if (!constructor_string.empty()) {
    hosting::SetValue(copy.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue,
                      hosting::StringValue(RepointedConstructorString(constructor_string, new_data.string())));
  }
  if (!options.quiet) {
    std::cout << "backed up " << config.home << " to " << destination.string() << " (the store; in the data folder "
              << counts.databases << " database file(s) and " << counts.files << " other file(s))\n"
              << "use it with: varnolt --home '" << destination.string() << "' ...\n";
    if (config.engine_store == hosting::kPostgresModelStore) {
      // The user's files only say "user known": the models themselves are in the database.
      std::cout << "not copied: the spam models, which are in PostgreSQL ([engine] postgresql); back them up with "
                   "pg_dump. The copy's varnolt.conf names the same database, so the copy and this home share "
                   "their models\n";
    }
  }
}

void RunBackup(Session& session, const BackupOptions& options) {
  const hosting::HomeConfig& config = session.Config();
  const fs::path destination = hosting::AbsoluteAgainst(fs::current_path().string(), options.destination);
  std::error_code ignored;
  if (fs::exists(destination, ignored) && !fs::is_empty(destination, ignored)) {
    throw hosting::CommandError(destination.string() + " exists and is not empty; a backup goes into a new folder");
  }
  const std::string constructor_string = session.ConstructorString();
  // Through the session, which warns when the home names another home's data folder.
  std::string data_folder = ToFileSystemPath(session.DataFolder());
  while (data_folder.size() > 1 && data_folder.back() == '/') data_folder.pop_back();
  for (const fs::path& source : {fs::path(config.home), fs::path(data_folder)}) {
    if (!source.empty() && (hosting::IsPathWithin(destination.string(), source.string()) || destination == source)) {
      throw hosting::CommandError("the backup cannot go inside " + source.string() + ", which it copies");
    }
  }

  fs::create_directories(destination);
  try {
    CopyHome(config, constructor_string, data_folder, destination, options);
  } catch (...) {
    // A half copy must not pass for a backup, nor block the next attempt.
    fs::remove_all(destination, ignored);
    throw;
  }
}

}  // namespace

void AddBackupCommand(CLI::App& app, Session& session) {
  auto options = std::make_shared<BackupOptions>();
  CLI::App* backup = app.add_subcommand(
      "backup", "Copy the home, live, into a new folder: the store and the spam models through SQLite's online "
                "backup, the registry, varnolt.conf, whitelists, the log and the rest of the data folder. The "
                "copy's constructor string names its own data folder, so it works at once with --home DEST. "
                "Models kept in PostgreSQL ([engine] store = postgresql) are not copied");
  backup->add_option("DEST", options->destination, "The new folder (missing or empty)")->required();
  backup->add_flag("--quiet,-q", options->quiet, "Print nothing but errors (no progress, no summary)");
  backup->callback([&session, options] { RunBackup(session, *options); });
}

}  // namespace varnolt::cli
