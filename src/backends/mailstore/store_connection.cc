#include "backends/mailstore/store_connection.h"

#include "backends/mailstore/store_errors.h"

namespace varnolt::mailstore {

std::unique_ptr<Record> StoreConnection::CreateRecord() { return std::make_unique<StoreRecord>(); }

StoreRecord::StoreRecord() : state_(std::make_shared<RecordState>()), fields_(state_) {}

StoreRecord::~StoreRecord() = default;

void StoreRecord::Open(const std::string& source, Connection& connection, ConnectMode mode,
                       RecordCreateOptions create_options, RecordOpenOptions, const std::string&,
                       const std::string&) {
  if (state_->open) throw StoreError(kStoreRecordOpen);
  auto* store = dynamic_cast<StoreConnection*>(&connection);
  if (!store) throw StoreError(kStoreForeignObject);
  if (store->scope() && !store->scope()->active) throw StoreError(kStoreEventEnded);
  if (mode != ConnectMode::kRead && mode != ConnectMode::kReadWrite) throw StoreError(kStoreInvalidArgument);
  const bool writable = mode == ConnectMode::kReadWrite;
  StoreCore& core = *store->core();
  Node node;
  switch (create_options) {
    case RecordCreateOptions::kFailIfNotExists:
      node = core.Require(source);
      break;
    case RecordCreateOptions::kCreateCollection: {
      if (!writable) throw StoreError(kStoreReadOnly);
      WriteTransaction transaction(core.db());
      node = core.CreateFolder(source);
      transaction.Commit();
      break;
    }
    case RecordCreateOptions::kCreateOverwrite: {
      if (!writable) throw StoreError(kStoreReadOnly);
      WriteTransaction transaction(core.db());
      node = core.CreateOrReplaceItem(source);
      transaction.Commit();
      break;
    }
    default:
      throw StoreError(kStoreInvalidArgument);
  }
  Attach(*store, node.id, writable);
}

void StoreRecord::Attach(const StoreConnection& connection, int64_t id, bool writable) {
  state_->core = connection.core();
  state_->scope = connection.scope();
  state_->id = id;
  state_->writable = writable;
  state_->staged.clear();
  state_->open = true;
}

Fields& StoreRecord::GetFields() { return fields_; }

std::string StoreRecord::Source() { return state_->CurrentNode().url; }

std::string StoreRecord::ParentURL() { return ParentUrlOf(state_->CurrentNode().url); }

std::string StoreRecord::MoveRecord(const std::string& source, const std::string& destination, const std::string&,
                                    const std::string&, MoveRecordOptions options, bool async) {
  state_->CheckWritable();
  if (options != MoveRecordOptions::kUnspecified || async) throw StoreError(kStoreInvalidArgument);
  StoreCore& core = *state_->core;
  WriteTransaction transaction(core.db());
  const Node item = source.empty() ? state_->CurrentNode() : core.Require(source);
  const Node moved = core.MoveItem(item, destination);
  transaction.Commit();
  return moved.url;
}

void StoreRecord::Close() {
  if (!state_->open) throw StoreError(kStoreRecordClosed);
  state_->open = false;
  state_->staged.clear();
}

}  // namespace varnolt::mailstore
