#include "support/recording_filter.h"

#include <cstdio>

namespace varnolt::testing {

std::vector<std::string> RecordingFilter::ErrorLines() const {
  std::vector<std::string> lines;
  for (const ErrorReport& e : errors) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(e.nErr));
    lines.push_back("Err: " + e.sErr + " 0x" + hex + " Source: " + e.source);
  }
  return lines;
}

void RecordingFilter::Clear() {
  logs.clear();
  errors.clear();
}

}  // namespace varnolt::testing
