#include "backends/mailstore/record_state.h"

#include "backends/mailstore/store_errors.h"

namespace varnolt::mailstore {

void RecordState::CheckUsable() const {
  if (scope && !scope->active) throw StoreError(kStoreEventEnded);
  if (!open) throw StoreError(kStoreRecordClosed);
}

void RecordState::CheckWritable() const {
  CheckUsable();
  if (!writable) throw StoreError(kStoreReadOnly);
}

Node RecordState::CurrentNode() const {
  CheckUsable();
  auto node = core->FindById(id);
  if (!node) throw StoreError(kStoreNotFound);
  return *node;
}

}  // namespace varnolt::mailstore
