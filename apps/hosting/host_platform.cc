#include "hosting/host_platform.h"

#include <utility>

#include "diagnostics/text_log.h"
#include "hosting/command_error.h"
#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"

namespace varnolt::hosting {

EngineOptions EngineOptionsOf(const HomeConfig& config, PostgresModelsMaker postgres) {
  EngineOptions options;
  options.auto_learn.enabled = config.engine_auto_learn;
  options.domain_learning = config.engine_domain_learning;
  options.domain_consensus = config.engine_domain_consensus;
  if (config.engine_store == kPostgresModelStore) {
    options.models = postgres(config.engine_postgresql);
  }
  return options;
}

std::string DataFolderOf(const std::string& constructor_string) {
  // The filter logs the empty string as a failed construction; a host finds no folder in it.
  return constructor_string.empty() ? "" : DataFolderFromConstructorString(constructor_string);
}

std::unique_ptr<RealPlatform> MakeHostPlatform(const HomeConfig& config,
                                               VerdictSlot verdicts,
                                               std::shared_ptr<ComponentServices> services,
                                               PostgresModelsMaker postgres) {
  RealPlatformOptions options;
  options.services = std::move(services);
  options.registry_hive_path = config.registry_path;
  options.event_log_target = config.event_log_target;
  EngineOptions engine_options = EngineOptionsOf(config, postgres);
  // What the engine survives without failing its call goes to the filter's log
  // beside the model. The engines are made by this platform and end before it.
  auto log_platform = std::make_shared<Platform*>(nullptr);
  engine_options.notice = [log_platform](const std::string& dat_path, const ComError& error) {
    const std::string data_folder = SplitModelPath(dat_path).data_folder;
    if (*log_platform == nullptr || data_folder.empty()) return;
    try {
      AppendLogLine(**log_platform, data_folder, ErrorLogMessage(error.description(), error.number(), dat_path));
    } catch (const ComError&) {
      // Nowhere else to tell it: the call it came from succeeded.
    }
  };
  options.engine_factory = [engine_options]() -> std::unique_ptr<SpamEngine> {
    return std::make_unique<BuiltinSpamEngine>(engine_options);
  };
  if (verdicts) options.verdict_sink = [verdicts](const SaveVerdict& verdict) { *verdicts = verdict; };
  try {
    auto platform = std::make_unique<RealPlatform>(std::move(options));
    *log_platform = platform.get();
    return platform;
  } catch (const ComError& error) {
    throw CommandError("[eventlog] target '" + config.event_log_target + "': " + error.description());
  }
}

}  // namespace varnolt::hosting
