#include "host/exchange_filter.h"

#include "config/shared_settings.h"
#include "diagnostics/text_log.h"
#include "platform/names/data_layout.h"
#include "triage/save_event_driver.h"
#include "triage/triage_environment.h"

namespace varnolt {
namespace {

constexpr const char* kStartupLine = "Store startup event received.";
constexpr const char* kShutdownLine = "Store shutdown event received.";

std::string ReadConstructString(IUnknown* pCtorObj) {
  if (!pCtorObj) throw ComError(E_POINTER, "No construction object was given");
  ComPtr<IObjectConstructString> ctor;
  const HRESULT hr = pCtorObj->QueryInterface(IID_IObjectConstructString, ctor.OutVoid());
  if (Failed(hr) || !ctor) throw ComError(E_NOINTERFACE, "The construction object has no constructor string");
  std::string value;
  ThrowIfFailed(ctor->get_ConstructString(&value));
  return value;
}

}  // namespace

ExchangeFilter::ExchangeFilter(Platform& platform) : platform_(platform) { ModuleLocks::Increment(); }

ExchangeFilter::~ExchangeFilter() { ModuleLocks::Decrement(); }

HRESULT ExchangeFilter::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_ExchangeFilterDefault) {
    *out = static_cast<IExchangeFilter*>(this);
  } else if (iid == IID_IExStoreSyncEvents) {
    *out = static_cast<IExStoreSyncEvents*>(this);
  } else if (iid == IID_IExStoreSystemEvents) {
    *out = static_cast<IExStoreSystemEvents*>(this);
  } else if (iid == IID_IObjectConstruct) {
    *out = static_cast<IObjectConstruct*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

uint32_t ExchangeFilter::AddRef() { return ++refs_; }

uint32_t ExchangeFilter::Release() {
  const uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT ExchangeFilter::Log(const std::string& sLog) {
  try {
    AppendLogLine(platform_, data_folder_, sLog);
    return S_OK;
  } catch (...) {
    return StatusOfCurrentError();  // no handler: the caller gets the failure
  }
}

HRESULT ExchangeFilter::Log_Err(const std::string& sErr, int32_t nErr, const std::string& source) {
  try {
    if (Failed(Log(ErrorLogMessage(sErr, nErr, source)))) ClearErrorInfo();
  } catch (...) {
    // Every handler calls this: it must never fail, so a lost report stays lost.
  }
  return S_OK;
}

void ExchangeFilter::LogLine(const std::string& line) { ThrowIfFailed(Log(line)); }

void ExchangeFilter::LogError(const std::string& sErr, int32_t nErr, const std::string& source) {
  Log_Err(sErr, nErr, source);
}

HRESULT ExchangeFilter::GetSharedProp(const std::string& SP_Varnolt, Variant* result) {
  if (!result) return E_POINTER;
  *result = GetSharedSetting(*this, platform_, debug_level_, SP_Varnolt);
  return S_OK;
}

HRESULT ExchangeFilter::IExStoreSyncEvents_OnSyncSave(IUnknown* pEventInfo, const std::string& bstrURLItem,
                                                      int32_t lFlags) {
  try {
    TriageEnvironment env{platform_, *this, data_folder_, debug_level_};
    RunSaveEvent(env, pEventInfo, bstrURLItem, lFlags);
    debug_level_ = env.debug_level;
  } catch (...) {
    // The last net: the store is always told the save succeeded.
  }
  return S_OK;
}

HRESULT ExchangeFilter::IExStoreSyncEvents_OnSyncDelete(IUnknown*, const std::string&, int32_t) { return S_OK; }

HRESULT ExchangeFilter::IExStoreSystemEvents_OnMDBStartup(const std::string&, const std::string&, int32_t) {
  return debug_level_ != 0 ? Log(kStartupLine) : S_OK;
}

HRESULT ExchangeFilter::IExStoreSystemEvents_OnMDBShutdown(const std::string&, int32_t) {
  return debug_level_ != 0 ? Log(kShutdownLine) : S_OK;
}

HRESULT ExchangeFilter::IExStoreSystemEvents_OnTimer(const std::string&, int32_t) { return S_OK; }

HRESULT ExchangeFilter::IObjectConstruct_Construct(IUnknown* pCtorObj) {
  try {
    debug_level_ = 0;
    data_folder_ = DataFolderFromConstructorString(ReadConstructString(pCtorObj));
  } catch (...) {
    const ComError error = CurrentError();
    std::string source;
    try {
      source = ReadConstructString(pCtorObj);
    } catch (...) {
      return StatusOfCurrentError();  // the string cannot be read at all
    }
    Log_Err("Parsing constructor string failed: " + error.description(), error.number(), source);
  }
  return S_OK;
}

}  // namespace varnolt
