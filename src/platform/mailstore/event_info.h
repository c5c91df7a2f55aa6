// The event information object the store hands to the sink of a save event.
#pragma once

#include "platform/mailstore/mail_store.h"
#include "store/record.h"

namespace varnolt::mailstore {

class EventInfo final : public RefCounted<IExStoreDispEventInfo> {
 public:
  explicit EventInfo(EventParts parts) : parts_(std::move(parts)) {}

  // Answers IID_IUnknown and IID_IExStoreDispEventInfo.
  HRESULT QueryInterface(const IID& iid, void** out) override;
  std::shared_ptr<Record> EventRecord() override { return parts_.record; }
  std::shared_ptr<Connection> EventConnection() override { return parts_.connection; }

 private:
  ~EventInfo() override = default;
  EventParts parts_;
};

}  // namespace varnolt::mailstore
