#include "dovecot/plugin_host.h"

#include <sys/stat.h>

#include <stdexcept>
#include <vector>

#include "backends/complus/file_shared_properties.h"
#include "diagnostics/event_log_writer.h"
#include "diagnostics/text_log.h"
#include "dovecot/postgres_module.h"
#include "hosting/host_platform.h"
#include "hosting/registry_values.h"

namespace varnolt::dovecot {
namespace {

// The hive as it is now: a writer replaces it (a new inode) or rewrites it.
std::string HiveIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "missing";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::unique_ptr<RealPlatform> MakePlatform(const hosting::HomeConfig& config, const std::string& instance = "",
                                           hosting::VerdictSlot verdicts = nullptr) {
  std::shared_ptr<ComponentServices> services;
  if (!instance.empty()) {
    services = std::make_shared<FileComponentServices>(
        config.home + "/" + kDovecotSettingsCache, instance + " hive " + HiveIdentity(config.registry_path));
  }
  // The home's [engine] settings hold for deliveries through Dovecot too.
  return hosting::MakeHostPlatform(config, std::move(verdicts), std::move(services), LoadedPostgresModels);
}

std::unique_ptr<PluginHost>& ProcessHost() {
  static std::unique_ptr<PluginHost> host;
  return host;
}

// Platforms a failed load handed to the filter library: the library may
// still point at them, so they live as long as the process.
std::vector<std::unique_ptr<RealPlatform>>& Abandoned() {
  static std::vector<std::unique_ptr<RealPlatform>> platforms;
  return platforms;
}

}  // namespace

PluginHost* PluginHost::Running(const std::string& home) {
  PluginHost* host = ProcessHost().get();
  if (!host || home == host->given_home_) return host;
  if (host->config_.home != hosting::ResolveHome(home)) {
    throw std::runtime_error("this process already runs the filter of the varnolt home " + host->config_.home +
                             ", not of " + home);
  }
  return host;
}

PluginHost& PluginHost::ForHome(const std::string& home, const std::string& instance) {
  if (PluginHost* running = Running(home)) return *running;
  std::unique_ptr<PluginHost>& host = ProcessHost();
  std::unique_ptr<PluginHost> fresh(new PluginHost());
  fresh->given_home_ = home;
  fresh->config_ = hosting::LoadHomeConfig(hosting::ResolveHome(home));
  fresh->platform_ = MakePlatform(fresh->config_, instance, fresh->verdicts_);
  try {
    fresh->filter_ = hosting::CreateRegisteredFilter(*fresh->platform_);
  } catch (...) {
    Abandoned().push_back(std::move(fresh->platform_));
    throw;
  }
  PluginHost* created = fresh.get();
  fresh->journal_ = std::make_unique<hosting::JournalWriter>(
      fresh->config_, "dovecot", [created](const std::string& line) { created->LogFailure(line, "journal"); }, true,
      LoadedPostgresJournal);
  host = std::move(fresh);
  return *host;
}

void PluginHost::LogFailure(const std::string& text, const std::string& source) {
  try {
    auto filter = filter_.sync_events.As<IExchangeFilter>(IID_ExchangeFilterDefault);
    if (filter) filter->Log_Err("Dovecot plugin: " + text, E_FAIL, source);
  } catch (...) {
    // The failure is in Dovecot's log already.
  }
}

void PluginHost::LogNote(const std::string& text, const std::string& source) {
  try {
    auto filter = filter_.sync_events.As<IExchangeFilter>(IID_ExchangeFilterDefault);
    if (filter) filter->Log("Dovecot plugin: " + text + ": " + source);
  } catch (...) {
    // A note that cannot be written is lost; nothing depends on it.
  }
}

void ReportToHomeLogs(const std::string& home, const std::string& text, const std::string& source) {
  std::unique_ptr<RealPlatform> platform;
  try {
    platform = MakePlatform(hosting::LoadHomeConfig(hosting::ResolveHome(home)));
  } catch (...) {
    return;  // without a readable home there is no log of the filter to write to
  }
  const std::string message = "Dovecot plugin: " + text;
  try {
    const auto stored = hosting::QueryValue(platform->Reg(), HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue);
    const std::string data_folder = hosting::DataFolderOf(stored ? hosting::DisplayText(*stored) : "");
    if (!data_folder.empty()) AppendLogLine(*platform, data_folder, ErrorLogMessage(message, E_FAIL, source));
  } catch (...) {
    // The event log below may still take it.
  }
  try {
    ReportToEventLog(platform->Events(), message, EVENTLOG_ERROR_TYPE, 0);
  } catch (...) {
  }
}

}  // namespace varnolt::dovecot
