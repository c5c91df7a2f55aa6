#include "backends/eventlog/file_event_log.h"

#include <time.h>

#include "backends/eventlog/syslog_event_log.h"
#include "backends/system/posix_file_io.h"
#include "platform/com/com_error.h"

namespace varnolt {
namespace {

// Local time with its offset: 2026-12-07T10:00:00+01:00.
std::string IsoLocalTime() {
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  char text[40];
  size_t n = ::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso(text, n);
  if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");
  return iso;
}

}  // namespace

EventSourceHandle FileEventLog::RegisterEventSource(const std::string& /*server*/, const std::string& source) {
  return sources_.Register(source);
}

bool FileEventLog::ReportEvent(EventSourceHandle handle, uint16_t type, uint16_t /*category*/, uint32_t event_id,
                               const std::vector<std::string>& strings, const std::vector<uint8_t>& /*data*/) {
  const auto source = sources_.Find(handle);
  if (!source) return false;
  const std::string line = IsoLocalTime() + " " + *source + " type=" + std::to_string(type) +
                           " id=" + std::to_string(event_id) + " " + EntryText(strings);
  return AppendWholeLine(path_, line, "\n") == 0;
}

bool FileEventLog::DeregisterEventSource(EventSourceHandle handle) { return sources_.Deregister(handle); }

std::unique_ptr<EventLog> MakeEventLog(const std::string& target) {
  constexpr const char* kFilePrefix = "file:";
  if (target == "syslog") return std::make_unique<SyslogEventLog>();
  if (target.rfind(kFilePrefix, 0) == 0 && target.size() > 5) {
    return std::make_unique<FileEventLog>(target.substr(5));
  }
  throw ComError(E_INVALIDARG, "Unknown event log target \"" + target + "\": expected syslog or file:<path>");
}

}  // namespace varnolt
