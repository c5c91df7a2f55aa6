#include "diagnostics/text_log.h"

#include <cstdio>

namespace varnolt {

void AppendLogLine(Platform& platform, const std::string& data_folder, const std::string& message) {
  const std::string date_time = platform.LocalClock().LocalDateTimeText();
  const auto ticks = static_cast<int32_t>(platform.Ticks().GetTickCount());  // prints negative after ~24.8 days
  platform.Files().AppendLine(LogFilePath(data_folder), date_time + " " + std::to_string(ticks) + " " + message);
}

std::string ErrorLogMessage(const std::string& sErr, int32_t nErr, const std::string& source) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(nErr));
  return "Err: " + sErr + " 0x" + hex + " Source: " + source;
}

}  // namespace varnolt
