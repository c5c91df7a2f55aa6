#include "varnolt/session.h"

#include <iostream>
#include <memory>

#include "backends/mailstore/store_errors.h"
#include "diagnostics/text_log.h"
#include "hosting/home_check.h"
#include "hosting/host_platform.h"
#include "hosting/registry_values.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"

namespace varnolt::cli {

Session::~Session() = default;

std::string Session::Home() { return hosting::ResolveHome(home_option_); }

const hosting::HomeConfig& Session::Config() {
  if (!config_) config_ = std::make_unique<hosting::HomeConfig>(hosting::LoadHomeConfig(Home()));
  return *config_;
}

Platform& Session::GetPlatform() {
  if (!platform_) platform_ = hosting::MakeHostPlatform(Config(), verdicts_);
  return *platform_;
}

namespace {

// The home's store, opened by open; a missing one is the user's error.
std::unique_ptr<MailStore> OpenHomeStore(const hosting::HomeConfig& config,
                                         std::unique_ptr<MailStore> (*open)(const std::string&)) {
  try {
    return open(config.store_path);
  } catch (const ComError& error) {
    if (error.number() == kStoreNotFound) throw hosting::CommandError("no store at " + config.store_path);
    throw;
  }
}

std::unique_ptr<MailStore> OpenExisting(const std::string& path) { return MailStore::Open(path, false); }

}  // namespace

MailStore& Session::Store() {
  if (!store_) store_ = OpenHomeStore(Config(), OpenExisting);
  return *store_;
}

MailStore& Session::LookupStore() {
  if (store_) return *store_;
  if (!lookup_store_) lookup_store_ = OpenHomeStore(Config(), MailStore::OpenForReading);
  return *lookup_store_;
}

MailStore& Session::StoreWithFilter() {
  MailStore& store = Store();
  if (!filter_.sync_events) {
    WarnAboutDataFolder(hosting::DataFolderOf(ConstructorString()));
    filter_ = hosting::CreateRegisteredFilter(GetPlatform());
    store.RegisterSyncSink(filter_.sync_events);
    store.RegisterSystemSink(filter_.system_events);
  }
  return store;
}

BuiltinSpamEngine& Session::Engine() {
  Config();  // refuses an engine this build does not have
  if (!engine_) engine_ = std::make_unique<BuiltinSpamEngine>(hosting::EngineOptionsOf(Config()));
  return *engine_;
}

hosting::JournalWriter& Session::Journal() {
  if (!journal_) {
    // On the terminal and in the filter's log, where an administrator looks
    // for what went wrong with a delivery that no terminal saw.
    journal_ = std::make_unique<hosting::JournalWriter>(
        Config(), "varnolt",
        [this](const std::string& line) {
          std::cerr << "varnolt: warning: " << line << '\n';
          const std::string folder = hosting::DataFolderOf(ConstructorString());
          if (!folder.empty())
            AppendLogLine(GetPlatform(), folder, ErrorLogMessage("varnolt: " + line, E_FAIL, "journal"));
        },
        /*long_lived=*/false);
  }
  return *journal_;
}

std::string Session::ConstructorString() {
  const auto value = hosting::QueryValue(GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue);
  return value ? hosting::DisplayText(*value) : "";
}

std::string Session::DataFolder() {
  const std::string folder = hosting::DataFolderOf(ConstructorString());
  WarnAboutDataFolder(folder);
  return folder;
}

void Session::WarnAboutDataFolder(const std::string& folder) {
  if (data_folder_checked_) return;
  data_folder_checked_ = true;
  std::string path = ToFileSystemPath(folder);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (const auto problem = hosting::DataFolderProblem(Home(), path))
    std::cerr << "varnolt: warning: " << *problem << '\n';
}

}  // namespace varnolt::cli
