#include "backends/real_platform.h"

#include "backends/eventlog/file_event_log.h"
#include "platform/com/com_error.h"
#include "platform/spam_engine.h"

namespace varnolt {

RealPlatform::RealPlatform(RealPlatformOptions options)
    : registry_(std::move(options.registry_hive_path)),
      events_(MakeEventLog(options.event_log_target)),
      engine_factory_(std::move(options.engine_factory)),
      verdict_sink_(std::move(options.verdict_sink)),
      services_(std::move(options.services)) {}

RealPlatform::~RealPlatform() = default;

std::unique_ptr<SpamEngine> RealPlatform::CreateSpamEngine() {
  if (!engine_factory_) throw ComError(E_FAIL, "No spam engine is configured.");
  auto engine = engine_factory_();
  if (!engine) throw ComError(E_FAIL, "The spam engine could not be created.");
  return engine;
}

void RealPlatform::TakeVerdict(const SaveVerdict& verdict) {
  if (!verdict_sink_) return;
  try {
    verdict_sink_(verdict);
  } catch (...) {
    // What a host does with a verdict never reaches the filter.
  }
}

}  // namespace varnolt
