// The interfaces the filter class implements, and the identifiers that
// registrations and event bindings refer to (fixed for good).
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace varnolt {

extern const Guid LIBID_VarnoltFilter;      // type library "VarnoltFilter" 1.0
extern const CLSID CLSID_ExchangeFilter;    // class ExchangeFilter
extern const IID IID_ExchangeFilterDefault; // default interface _ExchangeFilter
extern const IID IID_IExStoreSyncEvents;
extern const IID IID_IExStoreSystemEvents;
extern const IID IID_IObjectConstruct;
extern const IID IID_IObjectConstructString;
inline constexpr const char* kProgId = "VarnoltFilter.ExchangeFilter";
inline constexpr const char* kLibraryTitle = "VarnoltFilter";

// The default interface _ExchangeFilter: the file log and the settings cache.
class IExchangeFilter : public IUnknown {
 public:
  // Appends one line to the text log; the failure of the first failing step otherwise.
  virtual HRESULT Log(const std::string& sLog) = 0;
  // Writes "Err: " + sErr + " 0x" + hex(nErr) + " Source: " + source; always S_OK.
  virtual HRESULT Log_Err(const std::string& sErr, int32_t nErr, const std::string& source) = 0;
  // One setting from the process-wide cache (loaded from the registry once); always S_OK.
  virtual HRESULT GetSharedProp(const std::string& SP_Varnolt, Variant* result) = 0;
};

// Synchronous item events of the store.
class IExStoreSyncEvents : public IUnknown {
 public:
  virtual HRESULT OnSyncSave(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) = 0;
  virtual HRESULT OnSyncDelete(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) = 0;
};

// System events of the store.
class IExStoreSystemEvents : public IUnknown {
 public:
  virtual HRESULT OnMDBStartup(const std::string& bstrMDBGuid, const std::string& bstrMDBName, int32_t lFlags) = 0;
  virtual HRESULT OnMDBShutdown(const std::string& bstrMDBGuid, int32_t lFlags) = 0;
  virtual HRESULT OnTimer(const std::string& bstrURLItem, int32_t lFlags) = 0;
};

// The construction object component services hand to Construct.
class IObjectConstructString : public IUnknown {
 public:
  virtual HRESULT get_ConstructString(std::string* value) = 0;
};

class IObjectConstruct : public IUnknown {
 public:
  virtual HRESULT Construct(IUnknown* pCtorObj) = 0;
};

}  // namespace varnolt
