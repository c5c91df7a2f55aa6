// The store's own Connection and Record: records opened through a connection
// read and write the store's database directly.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "backends/mailstore/record_state.h"
#include "backends/mailstore/store_fields.h"
#include "store/record.h"

namespace varnolt::mailstore {

class StoreConnection final : public Connection {
 public:
  // scope: the save event this connection belongs to, null for none.
  StoreConnection(std::shared_ptr<StoreCore> core, std::shared_ptr<EventScope> scope)
      : core_(std::move(core)), scope_(std::move(scope)) {}

  std::unique_ptr<Record> CreateRecord() override;

  const std::shared_ptr<StoreCore>& core() const { return core_; }
  const std::shared_ptr<EventScope>& scope() const { return scope_; }

 private:
  std::shared_ptr<StoreCore> core_;
  std::shared_ptr<EventScope> scope_;
};

class StoreRecord final : public Record {
 public:
  StoreRecord();
  ~StoreRecord() override;

  void Open(const std::string& source, Connection& connection, ConnectMode mode, RecordCreateOptions create_options,
            RecordOpenOptions open_options, const std::string& user_name, const std::string& password) override;
  Fields& GetFields() override;
  std::string Source() override;
  std::string ParentURL() override;
  std::string MoveRecord(const std::string& source, const std::string& destination, const std::string& user_name,
                         const std::string& password, MoveRecordOptions options, bool async) override;
  void Close() override;

  // Binds an unopened record to an existing node (the item of a save event).
  void Attach(const StoreConnection& connection, int64_t id, bool writable);

 private:
  std::shared_ptr<RecordState> state_;
  StoreFields fields_;
};

}  // namespace varnolt::mailstore
