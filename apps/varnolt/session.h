// What the commands of one run share: the home, and the store, registry,
// platform and filter opened on demand, each at most once per process.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backends/mailstore/mail_store.h"
#include "backends/real_platform.h"
#include "engine/builtin_spam_engine.h"
#include "hosting/filter_host.h"
#include "hosting/home_config.h"
#include "hosting/host_platform.h"
#include "hosting/journal_writer.h"
#include "platform/names/data_layout.h"

namespace varnolt::cli {

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The --home option as given ("" when absent).
  std::string& home_option() { return home_option_; }

  // The absolute home folder (option, $VARNOLT_HOME, ./varnolt-home).
  std::string Home();
  // The home's configuration; throws CommandError when there is no home.
  const hosting::HomeConfig& Config();
  // The platform of this process over the home's hive and event log.
  Platform& GetPlatform();
  // The home's existing store.
  MailStore& Store();
  // The home's existing store for lookups only (the open store when there is
  // one): opening it writes nothing.
  MailStore& LookupStore();
  // The store with the filter registered as its sink: for commands that raise events.
  MailStore& StoreWithFilter();
  // The configured spam engine, for commands that drive it directly.
  BuiltinSpamEngine& Engine();
  // The filter's verdict of the latest event (reset by the caller before it).
  std::optional<SaveVerdict>& LastVerdict() { return *verdicts_; }
  // The home's verdict journal, for the commands that raise events.
  hosting::JournalWriter& Journal();

  // The constructor string as stored ("" when none).
  std::string ConstructorString();
  // The exit status of a command that succeeded but has something to tell a
  // script (0 unless set).
  void SetExitStatus(int status) { exit_status_ = status; }
  int exit_status() const { return exit_status_; }

  // The data folder the filter derives from the constructor string
  // (DataFolderFromConstructorString: "\"-terminated), or "" when the string is empty.
  std::string DataFolder();

 private:
  // Says once on stderr when the data folder is another home's or missing.
  void WarnAboutDataFolder(const std::string& folder);

  std::string home_option_;
  bool data_folder_checked_ = false;
  int exit_status_ = 0;
  std::unique_ptr<hosting::HomeConfig> config_;
  std::unique_ptr<RealPlatform> platform_;
  std::unique_ptr<BuiltinSpamEngine> engine_;
  hosting::VerdictSlot verdicts_ = std::make_shared<std::optional<SaveVerdict>>();
  std::unique_ptr<hosting::JournalWriter> journal_;
  hosting::LoadedFilter filter_;
  std::unique_ptr<MailStore> lookup_store_;
  // Declared last: destroyed first, so the store drops its sinks before the filter goes.
  std::unique_ptr<MailStore> store_;
};

}  // namespace varnolt::cli
