#include "diagnostics/event_log_writer.h"

namespace varnolt {
namespace {

constexpr const char* kEventSource = "VarnoltFilter";

}  // namespace

void ReportToEventLog(EventLog& event_log, const std::string& message, uint16_t type, int32_t event_id) {
  const EventSourceHandle handle = event_log.RegisterEventSource("", kEventSource);
  std::vector<uint8_t> data(message.begin(), message.end());
  data.push_back(0);
  event_log.ReportEvent(handle, type, 0, static_cast<uint32_t>(event_id), {message}, data);
  event_log.DeregisterEventSource(handle);
}

}  // namespace varnolt
