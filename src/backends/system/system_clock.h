// The real tick count and local clock.
#pragma once

#include <string>

#include "platform/ticks.h"

namespace varnolt {

// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits.
class SteadyTickSource final : public TickSource {
 public:
  uint32_t GetTickCount() override;
};

// The local time zone's date and time, "YYYY-MM-DD HH:MM:SS".
class LocalClock final : public Clock {
 public:
  std::string LocalDateTimeText() override;
};

}  // namespace varnolt
