// The filter in a Dovecot process: loaded once per process from the varnolt
// home the settings name, exactly as the varnolt command loads it, so that
// both share settings, data folder, logs, whitelists and models.
#pragma once

#include <memory>
#include <string>

#include "backends/real_platform.h"
#include "host/interfaces.h"
#include "hosting/filter_host.h"
#include "hosting/home_config.h"
#include "hosting/host_platform.h"
#include "hosting/journal_writer.h"

namespace varnolt::dovecot {

class PluginHost {
 public:
  // The process's host for the home, created on first use. Throws
  // std::exception saying why the filter cannot run: no home, a broken one,
  // a filter that cannot be created, or a process that already serves
  // another home. A failed load is tried again on the next call.
  // instance names the run of the Dovecot server (vd_instance): the filter's
  // settings are loaded once per run, for all of its processes, and again
  // when the home's registry hive changes.
  static PluginHost& ForHome(const std::string& home, const std::string& instance);
  // The process's host when it exists already (nullptr before), found without
  // asking anything of Dovecot or of the file system when home is given as it
  // was at its creation. Throws as ForHome for another home.
  static PluginHost* Running(const std::string& home);

  IExStoreSyncEvents& SyncEvents() { return *filter_.sync_events; }
  // Writes the failure into the filter's text log; never throws.
  void LogFailure(const std::string& text, const std::string& source);
  // Writes what happened, no failure, into the filter's text log; never throws.
  void LogNote(const std::string& text, const std::string& source);
  // The filter's verdict of the latest event (reset by the caller before it).
  std::optional<SaveVerdict>& LastVerdict() { return *verdicts_; }
  // The home's verdict journal.
  hosting::JournalWriter& Journal() { return *journal_; }

 private:
  PluginHost() = default;

  std::string given_home_;  // as the plugin's setting names it
  hosting::HomeConfig config_;
  std::unique_ptr<RealPlatform> platform_;
  hosting::LoadedFilter filter_;
  hosting::VerdictSlot verdicts_ = std::make_shared<std::optional<SaveVerdict>>();
  std::unique_ptr<hosting::JournalWriter> journal_;
};

// The file in the home that keeps the filter's settings for the processes of
// one Dovecot run.
inline constexpr const char* kDovecotSettingsCache = "dovecot-settings.cache";

// Writes the failure into the filter's text log (an "Err:" line with the
// source) and the event log of the home, as far as the home can be read;
// never throws. For failures before the filter exists.
void ReportToHomeLogs(const std::string& home, const std::string& text, const std::string& source);

}  // namespace varnolt::dovecot
