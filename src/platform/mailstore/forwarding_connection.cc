#include "platform/mailstore/forwarding_connection.h"

#include "platform/mailstore/forwarding_record.h"

namespace varnolt {

using mailstore::ForwardingRecord;

ForwardingConnection::ForwardingConnection(std::shared_ptr<Connection> inner,
                                           std::shared_ptr<StoreCallObserver> observer)
    : inner_(std::move(inner)), observer_(std::move(observer)) {}

std::unique_ptr<Record> ForwardingConnection::CreateRecord() {
  if (observer_) observer_->BeforeCall(StoreCall::kCreateRecord, "", "");
  return std::make_unique<ForwardingRecord>(inner_->CreateRecord(), observer_);
}

std::shared_ptr<Record> ForwardingConnection::Adopt(std::shared_ptr<Record> inner_record) {
  const std::string url = inner_record->Source();
  auto record = std::make_shared<ForwardingRecord>(std::move(inner_record), observer_);
  record->SetUrl(url);
  return record;
}

Connection& ForwardingConnection::Unwrap(Connection& connection) {
  Connection* current = &connection;
  while (auto* forwarding = dynamic_cast<ForwardingConnection*>(current)) current = &forwarding->inner();
  return *current;
}

}  // namespace varnolt
