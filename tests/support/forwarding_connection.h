// Wrappers that forward every call of the store access interface to the
// objects they wrap, telling an observer about each call first. Decorators
// for tests build on them (faulty_connection.h).
#pragma once

#include <memory>
#include <string>

#include "store/record.h"

namespace varnolt::testing {

// The calls of the store access interface, as an observer sees them.
enum class StoreCall {
  kCreateRecord,
  kOpen,
  kSource,
  kParentURL,
  kMoveRecord,
  kClose,
  kFieldsItem,
  kFieldValue,
  kFieldSetValue,
  kFieldStatus,
  kFieldStream,
  kFieldsUpdate,
  kStreamSetCharset,
  kStreamSetType,
  kStreamLoadFromFile,
  kStreamFlush,
};

class StoreCallObserver {
 public:
  virtual ~StoreCallObserver() = default;
  // Called before the call is forwarded. url: the record's URL (the source
  // for Open, "" for CreateRecord); field:
  // the property name of field calls ("" otherwise, and for the content
  // stream). Throwing fails the call without forwarding it.
  virtual void BeforeCall(StoreCall call, const std::string& url, const std::string& field) = 0;
};

class ForwardingConnection : public Connection {
 public:
  // observer may be null.
  ForwardingConnection(std::shared_ptr<Connection> inner, std::shared_ptr<StoreCallObserver> observer);

  std::unique_ptr<Record> CreateRecord() override;

  // Wraps a record that is already open (such as the item record of a save event).
  std::shared_ptr<Record> Adopt(std::shared_ptr<Record> inner_record);

 private:
  std::shared_ptr<Connection> inner_;
  std::shared_ptr<StoreCallObserver> observer_;
};

}  // namespace varnolt::testing
