// The filter's text log "Varnolt.log" in the data folder: one line per entry,
// "<date> <time> <tick count> <message>".
#pragma once

#include <cstdint>
#include <string>

#include "platform/names/data_layout.h"
#include "platform/platform.h"

namespace varnolt {

// Appends one line to data_folder + "Varnolt.log" (no separator is added: the
// data folder ends in "\", or is empty for the current directory). The date
// and time are read before the tick count. Throws the file layer's ComError;
// the folder is never created.
void AppendLogLine(Platform& platform, const std::string& data_folder, const std::string& message);

// "Err: " + sErr + " 0x" + nErr in upper-case hex (two's complement for a
// negative number, no leading zeros) + " Source: " + source.
std::string ErrorLogMessage(const std::string& sErr, int32_t nErr, const std::string& source);

}  // namespace varnolt
