#include "backends/eventlog/syslog_event_log.h"

#include <syslog.h>

namespace varnolt {
namespace {

int Severity(uint16_t type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return LOG_ERR;
    case EVENTLOG_WARNING_TYPE: return LOG_WARNING;
    default: return LOG_INFO;
  }
}

// syslog keeps one identifier per process: each entry sets its own source.
std::mutex g_syslog_mutex;

}  // namespace

EventSourceHandle SyslogEventLog::RegisterEventSource(const std::string& /*server*/, const std::string& source) {
  return sources_.Register(source);
}

bool SyslogEventLog::ReportEvent(EventSourceHandle handle, uint16_t type, uint16_t /*category*/, uint32_t event_id,
                                 const std::vector<std::string>& strings, const std::vector<uint8_t>& /*data*/) {
  const auto source = sources_.Find(handle);
  if (!source) return false;
  const std::string text = EntryText(strings);
  std::lock_guard<std::mutex> guard(g_syslog_mutex);
  ::openlog(source->c_str(), LOG_PID, LOG_USER);
  ::syslog(Severity(type), "id=%u %s", event_id, text.c_str());
  ::closelog();
  return true;
}

bool SyslogEventLog::DeregisterEventSource(EventSourceHandle handle) { return sources_.Deregister(handle); }

}  // namespace varnolt
