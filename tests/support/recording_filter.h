// A Reporter for tests that records what the mailbox operations report:
// every log line and every error report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/reporter.h"

namespace varnolt::testing {

class RecordingFilter final : public Reporter {
 public:
  struct ErrorReport {
    std::string sErr;
    int32_t nErr = 0;
    std::string source;
    bool operator==(const ErrorReport&) const = default;
  };

  void LogLine(const std::string& line) override { logs.push_back(line); }
  void LogError(const std::string& sErr, int32_t nErr, const std::string& source) override {
    errors.push_back({sErr, nErr, source});
  }

  // The error reports as the text log writes them: "Err: <sErr> 0x<hex> Source: <source>".
  std::vector<std::string> ErrorLines() const;
  void Clear();

  std::vector<std::string> logs;    // log lines, in order (error reports add none here)
  std::vector<ErrorReport> errors;  // error reports, in order
};

}  // namespace varnolt::testing
