// The events the store raises on its sinks, and the event information it
// passes with a save event. Identifiers are fixed for good.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "store/record.h"

namespace varnolt {

// Save-event flags a store raises: a delivery, a user's move, a client creating an item.
constexpr int32_t kEventFlagsDelivery = 0x01000008;
constexpr int32_t kEventFlagsUserMove = 0x01000100;
constexpr int32_t kEventFlagsClientCreate = 0x01000041;

inline const IID IID_IExStoreSyncEvents = Guid::FromLiteral("{9DA0E10E-86CE-11D1-8699-00C04FB98036}");
inline const IID IID_IExStoreSystemEvents = Guid::FromLiteral("{9DA0E111-86CE-11D1-8699-00C04FB98036}");
inline const IID IID_IExStoreDispEventInfo = Guid::FromLiteral("{9DA0E110-86CE-11D1-8699-00C04FB98036}");

// Synchronous item events. The store waits for the sink; a failure status of
// OnSyncSave aborts the store's operation.
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

// The event information the store passes with each save event.
class IExStoreDispEventInfo : public IUnknown {
 public:
  // The record of the item being saved.
  virtual std::shared_ptr<Record> EventRecord() = 0;
  // The connection of the event; changes made through it raise no further events.
  virtual std::shared_ptr<Connection> EventConnection() = 0;
};

// The event information of one save event, for any store to hand to its sink.
class EventInfo final : public RefCounted<IExStoreDispEventInfo> {
 public:
  EventInfo(std::shared_ptr<Connection> connection, std::shared_ptr<Record> record)
      : connection_(std::move(connection)), record_(std::move(record)) {}

  // Answers IID_IUnknown and IID_IExStoreDispEventInfo.
  HRESULT QueryInterface(const IID& iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IExStoreDispEventInfo) return E_NOINTERFACE;
    *out = static_cast<IExStoreDispEventInfo*>(this);
    AddRef();
    return S_OK;
  }
  std::shared_ptr<Record> EventRecord() override { return record_; }
  std::shared_ptr<Connection> EventConnection() override { return connection_; }

 private:
  ~EventInfo() override = default;
  std::shared_ptr<Connection> connection_;
  std::shared_ptr<Record> record_;
};

}  // namespace varnolt
