// Where the filter's subsystems send what they have to say: lines for the text
// log and error reports. The filter object implements it; tests record it.
#pragma once

#include <cstdint>
#include <string>

namespace varnolt {

class Reporter {
 public:
  virtual ~Reporter() = default;
  // Appends one line to the text log. Throws the ComError of the step that
  // failed; nothing is written then.
  virtual void LogLine(const std::string& line) = 0;
  // Writes "Err: " + sErr + " 0x" + hex(nErr) + " Source: " + source. Never
  // throws: a report that cannot be written is lost.
  virtual void LogError(const std::string& sErr, int32_t nErr, const std::string& source) = 0;
};

}  // namespace varnolt
