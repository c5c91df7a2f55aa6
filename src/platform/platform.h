// The outside world of the filter behind one object: tick count, clock, text
// files, registry, shared properties, event log and the spam engine factory.
// The host builds the real one; tests assemble fakes.
#pragma once

#include <memory>

#include "platform/complus/shared_properties.h"
#include "platform/eventlog/event_log.h"
#include "platform/registry/registry.h"
#include "platform/system/text_files.h"
#include "platform/system/ticks.h"

namespace varnolt {

class SpamEngine;

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
};

}  // namespace varnolt
