// The outside world of the filter behind one object: tick count, clock, text
// files, registry, shared properties, event log, the spam engine factory and
// the sink of the filter's verdicts.
// The host builds the real one; tests assemble fakes.
#pragma once

#include <memory>

#include "platform/event_log.h"
#include "platform/registry.h"
#include "platform/shared_properties.h"
#include "platform/text_files.h"
#include "platform/ticks.h"

namespace varnolt {

class SpamEngine;
struct SaveVerdict;

class Platform {
 public:
  virtual ~Platform() = default;
  virtual TickSource& Ticks() = 0;
  virtual Clock& LocalClock() = 0;
  virtual TextFiles& Files() = 0;
  virtual Registry& Reg() = 0;
  virtual ComponentServices& Services() = 0;
  virtual EventLog& Events() = 0;
  // A new engine instance (one per save event); throws ComError when none can be made.
  virtual std::unique_ptr<SpamEngine> CreateSpamEngine() = 0;
  // What the filter decided for a save event, once at the end of each event
  // it was raised for (save_verdict.h). Must not throw.
  virtual void TakeVerdict(const SaveVerdict& verdict) = 0;
};

}  // namespace varnolt
