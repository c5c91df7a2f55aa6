#include "dovecot/property_fields.h"

#include "backends/mailstore/store_errors.h"
#include "backends/mailstore/store_names.h"

namespace varnolt::dovecot {
namespace {

class PropertyField final : public Field {
 public:
  PropertyField(PropertyFields& fields, std::string name) : fields_(fields), name_(std::move(name)) {}

  Variant Value() override {
    auto value = fields_.Find(name_);
    if (!value) throw StoreError(kStorePropertyMissing);
    return *value;
  }
  void SetValue(const Variant& value) override { fields_.Stage(name_, value); }
  int32_t Status() override { return fields_.Find(name_) ? kFieldOK : kFieldDoesNotExist; }
  std::shared_ptr<Stream> StreamValue() override { throw StoreError(kStoreNoStream); }

 private:
  PropertyFields& fields_;
  std::string name_;
};

class StreamField final : public Field {
 public:
  explicit StreamField(PropertyFields& fields) : fields_(fields) {}

  Variant Value() override { throw StoreError(kStoreNoStream); }
  void SetValue(const Variant&) override { throw StoreError(kStorePropertyReadOnly); }
  int32_t Status() override { return kFieldOK; }
  std::shared_ptr<Stream> StreamValue() override { return fields_.ContentStream(); }

 private:
  PropertyFields& fields_;
};

}  // namespace

void PropertyFields::Put(const std::string& name, Variant value) { stored_[mailstore::LowerKey(name)] = std::move(value); }

std::shared_ptr<Field> PropertyFields::Item(const std::string& name) {
  return std::make_shared<PropertyField>(*this, name);
}

std::shared_ptr<Field> PropertyFields::Item(int32_t index) {
  if (index != kDefaultStream || !hooks_.stream) throw StoreError(kStoreNoStream);
  return std::make_shared<StreamField>(*this);
}

void PropertyFields::Update() {
  if (staged_.empty()) return;
  if (hooks_.commit) hooks_.commit(staged_);
  for (auto& [key, value] : staged_) stored_[key] = std::move(value);
  staged_.clear();
}

std::optional<Variant> PropertyFields::Find(const std::string& name) const {
  const std::string key = mailstore::LowerKey(name);
  if (auto it = staged_.find(key); it != staged_.end()) return it->second;
  if (hooks_.computed) {
    if (auto value = hooks_.computed(key)) return value;
  }
  if (auto it = stored_.find(key); it != stored_.end()) return it->second;
  return std::nullopt;
}

void PropertyFields::Stage(const std::string& name, Variant value) {
  const std::string key = mailstore::LowerKey(name);
  if (hooks_.computed && hooks_.computed(key)) throw StoreError(kStorePropertyReadOnly);
  staged_[key] = std::move(value);
}

std::shared_ptr<Stream> PropertyFields::ContentStream() {
  if (!hooks_.stream) throw StoreError(kStoreNoStream);
  return hooks_.stream();
}

}  // namespace varnolt::dovecot
