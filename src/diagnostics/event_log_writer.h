// Writes one entry to the system event log under the source "VarnoltFilter".
#pragma once

#include <cstdint>
#include <string>

#include "platform/event_log.h"

namespace varnolt {

// The message as the one insertion string and, with its NUL, as the binary
// data. The platform's results are not examined: a failure goes unnoticed.
void ReportToEventLog(EventLog& event_log, const std::string& message, uint16_t type, int32_t event_id);

}  // namespace varnolt
