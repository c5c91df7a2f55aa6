// The millisecond tick count and the local clock, injectable for tests.
#pragma once

#include <cstdint>
#include <string>

namespace varnolt {

class TickSource {
 public:
  virtual ~TickSource() = default;
  // Milliseconds of a monotonic clock truncated to 32 bits: wraps after ~49.7 days.
  virtual uint32_t GetTickCount() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time as "YYYY-MM-DD HH:MM:SS".
  virtual std::string LocalDateTimeText() = 0;
};

}  // namespace varnolt
