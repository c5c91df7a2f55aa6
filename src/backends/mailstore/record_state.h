// The state a record shares with the fields and streams taken from it, and
// the life of the save event it may belong to.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "backends/mailstore/store_core.h"
#include "platform/com/variant.h"

namespace varnolt::mailstore {

// The life of one save event: objects handed to its sink stop working when it ends.
struct EventScope {
  bool active = true;
};

// What a record and the fields and streams taken from it share.
struct RecordState {
  std::shared_ptr<StoreCore> core;
  std::shared_ptr<EventScope> scope;
  bool open = false;
  bool writable = false;
  int64_t id = 0;
  // Staged values by lower-cased name: the name as written and the value.
  std::map<std::string, std::pair<std::string, Variant>> staged;

  // Throws kStoreEventEnded after the record's event, kStoreRecordClosed when not open.
  void CheckUsable() const;
  // Also kStoreReadOnly for a record opened for reading.
  void CheckWritable() const;
  // The record's node as it is now; kStoreNotFound when it is gone.
  Node CurrentNode() const;
};

}  // namespace varnolt::mailstore
