// The event log as a text file, one line per entry:
// "<ISO date-time> <source> type=<n> id=<n> <message>".
#pragma once

#include <memory>
#include <string>

#include "backends/eventlog/event_sources.h"
#include "platform/event_log.h"

namespace varnolt {

class FileEventLog final : public EventLog {
 public:
  // path is a file system path; its folder must exist.
  explicit FileEventLog(std::string path) : path_(std::move(path)) {}

  EventSourceHandle RegisterEventSource(const std::string& server, const std::string& source) override;
  // Appends the line in one write (safe next to other writers); false when it cannot.
  bool ReportEvent(EventSourceHandle handle, uint16_t type, uint16_t category, uint32_t event_id,
                   const std::vector<std::string>& strings, const std::vector<uint8_t>& data) override;
  bool DeregisterEventSource(EventSourceHandle handle) override;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  EventSources sources_;
};

// The event log a target text names: "syslog", or "file:<path>". Throws
// ComError(E_INVALIDARG) for anything else.
std::unique_ptr<EventLog> MakeEventLog(const std::string& target);

}  // namespace varnolt
