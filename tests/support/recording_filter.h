// An IExchangeFilter for tests that records what the mailbox operations
// report: every Log line and every Log_Err call. Lives on the stack or as a
// member: its reference count is kept but never deletes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/interfaces.h"

namespace varnolt::testing {

class RecordingFilter final : public IExchangeFilter {
 public:
  struct ErrorReport {
    std::string sErr;
    int32_t nErr = 0;
    std::string source;
    bool operator==(const ErrorReport&) const = default;
  };

  // Answers IID_IUnknown and IID_ExchangeFilterDefault.
  HRESULT QueryInterface(const IID& iid, void** out) override;
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override { return --refs_; }

  HRESULT Log(const std::string& sLog) override;
  HRESULT Log_Err(const std::string& sErr, int32_t nErr, const std::string& source) override;
  // The value in settings, or the empty value.
  HRESULT GetSharedProp(const std::string& SP_Varnolt, Variant* result) override;

  // The Log_Err calls as the text log writes them: "Err: <sErr> 0x<hex> Source: <source>".
  std::vector<std::string> ErrorLines() const;
  void Clear();

  std::vector<std::string> logs;      // Log lines, in order (Log_Err adds none here)
  std::vector<ErrorReport> errors;    // Log_Err calls, in order
  std::map<std::string, Variant> settings;

 private:
  std::atomic<uint32_t> refs_{1};
};

}  // namespace varnolt::testing
