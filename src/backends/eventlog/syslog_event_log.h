// The event log on the system logger: the source name is the syslog
// identifier, the type the severity (4 info, 2 warning, 1 error), and the
// message reads "id=<event id> <strings>".
#pragma once

#include <string>

#include "backends/eventlog/event_sources.h"
#include "platform/event_log.h"

namespace varnolt {

class SyslogEventLog final : public EventLog {
 public:
  EventSourceHandle RegisterEventSource(const std::string& server, const std::string& source) override;
  bool ReportEvent(EventSourceHandle handle, uint16_t type, uint16_t category, uint32_t event_id,
                   const std::vector<std::string>& strings, const std::vector<uint8_t>& data) override;
  bool DeregisterEventSource(EventSourceHandle handle) override;

 private:
  EventSources sources_;
};

}  // namespace varnolt
