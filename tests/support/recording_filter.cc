#include "support/recording_filter.h"

#include <cstdio>

namespace varnolt::testing {

HRESULT RecordingFilter::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_ExchangeFilterDefault) return E_NOINTERFACE;
  *out = static_cast<IExchangeFilter*>(this);
  AddRef();
  return S_OK;
}

HRESULT RecordingFilter::Log(const std::string& sLog) {
  logs.push_back(sLog);
  return S_OK;
}

HRESULT RecordingFilter::Log_Err(const std::string& sErr, int32_t nErr, const std::string& source) {
  errors.push_back({sErr, nErr, source});
  return S_OK;
}

HRESULT RecordingFilter::GetSharedProp(const std::string& SP_Varnolt, Variant* result) {
  auto found = settings.find(SP_Varnolt);
  *result = found == settings.end() ? Variant() : found->second;
  return S_OK;
}

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
