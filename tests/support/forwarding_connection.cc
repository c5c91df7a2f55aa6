#include "support/forwarding_connection.h"

#include "support/forwarding_record.h"

namespace varnolt::testing {

ForwardingConnection::ForwardingConnection(std::shared_ptr<Connection> inner,
                                           std::shared_ptr<StoreCallObserver> observer)
    : inner_(std::move(inner)), observer_(std::move(observer)) {}

std::unique_ptr<Record> ForwardingConnection::CreateRecord() {
  if (observer_) observer_->BeforeCall(StoreCall::kCreateRecord, "", "");
  return std::make_unique<ForwardingRecord>(inner_->CreateRecord(), inner_, observer_);
}

std::shared_ptr<Record> ForwardingConnection::Adopt(std::shared_ptr<Record> inner_record) {
  const std::string url = inner_record->Source();
  auto record = std::make_shared<ForwardingRecord>(std::move(inner_record), inner_, observer_);
  record->SetUrl(url);
  return record;
}

}  // namespace varnolt::testing
