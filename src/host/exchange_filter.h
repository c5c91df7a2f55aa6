// The filter component: the store's event sink, configured by its constructor string.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "diagnostics/reporter.h"
#include "host/interfaces.h"
#include "platform/platform.h"

namespace varnolt {

class ExchangeFilter final : public IExchangeFilter,
                             public IExStoreSyncEvents,
                             public IExStoreSystemEvents,
                             public IObjectConstruct,
                             public Reporter {
 public:
  // The platform must outlive the object. The object starts with one reference.
  explicit ExchangeFilter(Platform& platform);

  // IUnknown
  HRESULT QueryInterface(const IID& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  // _ExchangeFilter
  HRESULT Log(const std::string& sLog) override;
  HRESULT Log_Err(const std::string& sErr, int32_t nErr, const std::string& source) override;
  HRESULT GetSharedProp(const std::string& SP_Varnolt, Variant* result) override;

  // The interfaces' methods under their implementation names.
  HRESULT IExStoreSyncEvents_OnSyncSave(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags);
  HRESULT IExStoreSyncEvents_OnSyncDelete(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags);
  HRESULT IExStoreSystemEvents_OnMDBStartup(const std::string& bstrMDBGuid, const std::string& bstrMDBName,
                                            int32_t lFlags);
  HRESULT IExStoreSystemEvents_OnMDBShutdown(const std::string& bstrMDBGuid, int32_t lFlags);
  HRESULT IExStoreSystemEvents_OnTimer(const std::string& bstrURLItem, int32_t lFlags);
  HRESULT IObjectConstruct_Construct(IUnknown* pCtorObj);

  HRESULT OnSyncSave(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) override {
    return IExStoreSyncEvents_OnSyncSave(pEventInfo, bstrURLItem, lFlags);
  }
  HRESULT OnSyncDelete(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) override {
    return IExStoreSyncEvents_OnSyncDelete(pEventInfo, bstrURLItem, lFlags);
  }
  HRESULT OnMDBStartup(const std::string& bstrMDBGuid, const std::string& bstrMDBName, int32_t lFlags) override {
    return IExStoreSystemEvents_OnMDBStartup(bstrMDBGuid, bstrMDBName, lFlags);
  }
  HRESULT OnMDBShutdown(const std::string& bstrMDBGuid, int32_t lFlags) override {
    return IExStoreSystemEvents_OnMDBShutdown(bstrMDBGuid, lFlags);
  }
  HRESULT OnTimer(const std::string& bstrURLItem, int32_t lFlags) override {
    return IExStoreSystemEvents_OnTimer(bstrURLItem, lFlags);
  }
  HRESULT Construct(IUnknown* pCtorObj) override { return IObjectConstruct_Construct(pCtorObj); }

  // Per-object state: the data folder (ends in "\" once constructed, empty
  // before) and the debug level of the latest handled save event (0 after construction).
  const std::string& DataFolder() const { return data_folder_; }
  int32_t DebugLevel() const { return debug_level_; }
  void SetDebugLevel(int32_t level) { debug_level_ = level; }

  Platform& platform() { return platform_; }

  // Reporter, for the subsystems: this object's Log (a failed status thrown
  // as its ComError) and Log_Err.
  void LogLine(const std::string& line) override;
  void LogError(const std::string& sErr, int32_t nErr, const std::string& source) override;

 private:
  ~ExchangeFilter();

  Platform& platform_;
  std::atomic<uint32_t> refs_{1};
  std::string data_folder_;
  int32_t debug_level_ = 0;
};

}  // namespace varnolt
