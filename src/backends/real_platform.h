// The platform of a real host process: the local file system, the hive file
// registry, this process's component services, the chosen event log, the
// monotonic tick count and the local clock.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "backends/complus/in_process_services.h"
#include "backends/registry/hive_registry.h"
#include "backends/system/posix_text_files.h"
#include "backends/system/system_clock.h"
#include "platform/platform.h"
#include "platform/save_verdict.h"

namespace varnolt {

struct RealPlatformOptions {
  std::string registry_hive_path;         // the .reg file
  std::string event_log_target = "syslog";  // "syslog" or "file:<path>"
  // Makes one spam engine; unset: CreateSpamEngine throws.
  std::function<std::unique_ptr<SpamEngine>()> engine_factory;
  // The shared property manager's services; unset: this process's own.
  std::shared_ptr<ComponentServices> services;
  // Hears each verdict of the filter; unset: nobody.
  std::function<void(const SaveVerdict&)> verdict_sink;
};

class RealPlatform final : public Platform {
 public:
  // Throws ComError(E_INVALIDARG) for an unknown event log target.
  explicit RealPlatform(RealPlatformOptions options);
  ~RealPlatform() override;

  TickSource& Ticks() override { return ticks_; }
  Clock& LocalClock() override { return clock_; }
  TextFiles& Files() override { return files_; }
  Registry& Reg() override { return registry_; }
  // The services given, else the process-wide ones (the host marks the
  // process inside the application).
  ComponentServices& Services() override { return services_ ? *services_ : ProcessComponentServices(); }
  EventLog& Events() override { return *events_; }
  // Throws ComError when no engine factory was given or the factory fails.
  std::unique_ptr<SpamEngine> CreateSpamEngine() override;
  // Hands the verdict to the sink given; a failure of the sink is dropped.
  void TakeVerdict(const SaveVerdict& verdict) override;

 private:
  SteadyTickSource ticks_;
  ::varnolt::LocalClock clock_;
  PosixTextFiles files_;
  HiveRegistry registry_;
  std::unique_ptr<EventLog> events_;
  std::function<std::unique_ptr<SpamEngine>()> engine_factory_;
  std::function<void(const SaveVerdict&)> verdict_sink_;
  std::shared_ptr<ComponentServices> services_;
};

}  // namespace varnolt
