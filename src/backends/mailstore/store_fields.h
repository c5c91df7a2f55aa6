// The fields of a store record and its content stream.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backends/mailstore/record_state.h"
#include "store/fields.h"

namespace varnolt::mailstore {

// A named property, or (stream_ true) the content stream of the item.
class StoreField final : public Field {
 public:
  StoreField(std::shared_ptr<RecordState> state, std::string name, bool stream)
      : state_(std::move(state)), name_(std::move(name)), stream_(stream) {}

  Variant Value() override;
  void SetValue(const Variant& value) override;
  int32_t Status() override;
  std::shared_ptr<Stream> StreamValue() override;

 private:
  // The staged or stored value; nullopt when the item has no such property.
  std::optional<Variant> Lookup();

  std::shared_ptr<RecordState> state_;
  std::string name_;
  bool stream_;
};

// The item's content: bytes loaded from a file, written into the item by Flush.
class StoreStream final : public Stream {
 public:
  explicit StoreStream(std::shared_ptr<RecordState> state) : state_(std::move(state)) {}

  void SetCharset(const std::string& charset) override;
  void SetType(StreamType type) override;
  void LoadFromFile(const std::string& path) override;
  void Flush() override;

 private:
  std::shared_ptr<RecordState> state_;
  std::string charset_ = "Unicode";
  StreamType type_ = StreamType::kText;
  std::optional<std::string> bytes_;  // nothing to write until something is loaded
};

class StoreFields final : public Fields {
 public:
  explicit StoreFields(std::shared_ptr<RecordState> state) : state_(std::move(state)) {}

  std::shared_ptr<Field> Item(const std::string& name) override;
  std::shared_ptr<Field> Item(int32_t index) override;
  void Update() override;

 private:
  std::shared_ptr<RecordState> state_;
};

}  // namespace varnolt::mailstore
