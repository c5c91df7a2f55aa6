// The record, fields, field and stream halves of the forwarding wrappers.
#pragma once

#include <memory>
#include <string>

#include "support/forwarding_connection.h"

namespace varnolt::testing {

// What the wrappers of one record share: the observer and the record's URL.
struct ForwardingContext {
  std::shared_ptr<StoreCallObserver> observer;
  std::string url;

  void Notify(StoreCall call, const std::string& field = "") const {
    if (observer) observer->BeforeCall(call, url, field);
  }
};

class ForwardingStream final : public Stream {
 public:
  ForwardingStream(std::shared_ptr<Stream> inner, std::shared_ptr<ForwardingContext> context)
      : inner_(std::move(inner)), context_(std::move(context)) {}
  void SetCharset(const std::string& charset) override;
  void SetType(StreamType type) override;
  void LoadFromFile(const std::string& path) override;
  void Flush() override;

 private:
  std::shared_ptr<Stream> inner_;
  std::shared_ptr<ForwardingContext> context_;
};

class ForwardingField final : public Field {
 public:
  ForwardingField(std::shared_ptr<Field> inner, std::shared_ptr<ForwardingContext> context, std::string name)
      : inner_(std::move(inner)), context_(std::move(context)), name_(std::move(name)) {}
  Variant Value() override;
  void SetValue(const Variant& value) override;
  int32_t Status() override;
  std::shared_ptr<Stream> StreamValue() override;

 private:
  std::shared_ptr<Field> inner_;
  std::shared_ptr<ForwardingContext> context_;
  std::string name_;
};

class ForwardingFields final : public Fields {
 public:
  explicit ForwardingFields(std::shared_ptr<ForwardingContext> context) : context_(std::move(context)) {}
  void SetInner(Fields* inner) { inner_ = inner; }
  std::shared_ptr<Field> Item(const std::string& name) override;
  std::shared_ptr<Field> Item(int32_t index) override;
  void Update() override;

 private:
  Fields* inner_ = nullptr;  // owned by the inner record
  std::shared_ptr<ForwardingContext> context_;
};

class ForwardingRecord final : public Record {
 public:
  // inner_connection: what the inner record is opened through, whatever
  // connection the caller names (the forwarding one that made this record).
  ForwardingRecord(std::shared_ptr<Record> inner, std::shared_ptr<Connection> inner_connection,
                   std::shared_ptr<StoreCallObserver> observer);

  void Open(const std::string& source, Connection& connection, ConnectMode mode, RecordCreateOptions create_options,
            RecordOpenOptions open_options, const std::string& user_name, const std::string& password) override;
  Fields& GetFields() override;
  std::string Source() override;
  std::string ParentURL() override;
  std::string MoveRecord(const std::string& source, const std::string& destination, const std::string& user_name,
                         const std::string& password, MoveRecordOptions options, bool async) override;
  void Close() override;

  // Takes the URL of a record that is already open.
  void SetUrl(const std::string& url) { context_->url = url; }

 private:
  std::shared_ptr<Record> inner_;
  std::shared_ptr<Connection> inner_connection_;
  std::shared_ptr<ForwardingContext> context_;
  ForwardingFields fields_;
};

}  // namespace varnolt::testing
