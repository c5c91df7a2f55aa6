#include "hosting/host_platform.h"

#include <utility>

#include "hosting/command_error.h"
#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"

namespace varnolt::cli {

EngineOptions EngineOptionsOf(const HomeConfig& config, PostgresModelsMaker postgres) {
  EngineOptions options;
  options.auto_learn.enabled = config.engine_auto_learn;
  options.domain_learning = config.engine_domain_learning;
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
                                               std::shared_ptr<EventObservation> observation,
                                               std::shared_ptr<ComponentServices> services,
                                               PostgresModelsMaker postgres) {
  RealPlatformOptions options;
  options.services = std::move(services);
  options.registry_hive_path = config.registry_path;
  options.event_log_target = config.event_log_target;
  const EngineOptions engine_options = EngineOptionsOf(config, postgres);
  if (observation) {
    options.engine_factory = [engine_options, observation]() -> std::unique_ptr<SpamEngine> {
      return std::make_unique<ObservingSpamEngine>(engine_options, observation);
    };
  } else {
    options.engine_factory = [engine_options]() -> std::unique_ptr<SpamEngine> {
      return std::make_unique<BuiltinSpamEngine>(engine_options);
    };
  }
  try {
    return std::make_unique<RealPlatform>(std::move(options));
  } catch (const ComError& error) {
    throw CommandError("[eventlog] target '" + config.event_log_target + "': " + error.description());
  }
}

}  // namespace varnolt::cli
