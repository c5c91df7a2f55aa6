// The system event log in the shape of RegisterEventSource/ReportEvent/DeregisterEventSource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnolt {

using EventSourceHandle = uintptr_t;  // 0 = failed

constexpr uint16_t EVENTLOG_ERROR_TYPE = 1;
constexpr uint16_t EVENTLOG_WARNING_TYPE = 2;
constexpr uint16_t EVENTLOG_INFORMATION_TYPE = 4;

class EventLog {
 public:
  virtual ~EventLog() = default;
  // server "" is the local computer. Returns 0 on failure.
  virtual EventSourceHandle RegisterEventSource(const std::string& server, const std::string& source) = 0;
  // Writes one entry; false on failure.
  virtual bool ReportEvent(EventSourceHandle handle, uint16_t type, uint16_t category, uint32_t event_id,
                           const std::vector<std::string>& strings, const std::vector<uint8_t>& data) = 0;
  virtual bool DeregisterEventSource(EventSourceHandle handle) = 0;
};

}  // namespace varnolt
