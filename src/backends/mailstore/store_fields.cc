#include "backends/mailstore/store_fields.h"


#include "backends/mailstore/store_errors.h"
#include "backends/mailstore/store_names.h"
#include "backends/system/posix_file_io.h"
#include "platform/text_files.h"
#include "store/store_options.h"

namespace varnolt::mailstore {

std::optional<Variant> StoreField::Lookup() {
  const Node node = state_->CurrentNode();
  auto staged = state_->staged.find(LowerKey(name_));
  if (staged != state_->staged.end()) return staged->second.second;
  return state_->core->Property(node, name_);
}

Variant StoreField::Value() {
  // The stream is reached through StreamValue; it has no value of its own.
  if (stream_) throw StoreError(kStoreBadValueType);
  auto value = Lookup();
  if (!value) throw StoreError(kStorePropertyMissing);
  return *value;
}

void StoreField::SetValue(const Variant& value) {
  state_->CheckWritable();
  if (stream_ || IsComputedProperty(name_)) throw StoreError(kStorePropertyReadOnly);
  if (value.IsEmpty()) throw StoreError(kStoreBadValueType);
  state_->staged[LowerKey(name_)] = {name_, value};
}

int32_t StoreField::Status() {
  if (stream_) {
    state_->CurrentNode();
    return kFieldOK;
  }
  return Lookup() ? kFieldOK : kFieldDoesNotExist;
}

std::shared_ptr<Stream> StoreField::StreamValue() {
  if (!stream_ || state_->CurrentNode().is_folder) throw StoreError(kStoreNoStream);
  return std::make_shared<StoreStream>(state_);
}

void StoreStream::SetCharset(const std::string& charset) {
  state_->CheckUsable();
  charset_ = charset;
}

void StoreStream::SetType(StreamType type) {
  state_->CheckUsable();
  if (type != StreamType::kBinary && type != StreamType::kText) throw StoreError(kStoreInvalidArgument);
  type_ = type;
}

void StoreStream::LoadFromFile(const std::string& path) {
  state_->CheckUsable();
  std::string bytes;
  if (ReadWholeFile(ToFileSystemPath(path), &bytes) != 0) throw StoreError(kStoreFileOpenFailed);
  bytes_ = std::move(bytes);
}

void StoreStream::Flush() {
  state_->CheckWritable();
  if (!bytes_) return;
  const Node node = state_->CurrentNode();
  WriteTransaction transaction(state_->core->db());
  state_->core->SaveContent(node, *bytes_);
  transaction.Commit();
}

std::shared_ptr<Field> StoreFields::Item(const std::string& name) {
  state_->CheckUsable();
  return std::make_shared<StoreField>(state_, name, false);
}

std::shared_ptr<Field> StoreFields::Item(int32_t index) {
  state_->CheckUsable();
  if (index != kDefaultStream) throw StoreError(kStoreInvalidArgument);
  return std::make_shared<StoreField>(state_, "", true);
}

void StoreFields::Update() {
  state_->CheckWritable();
  if (state_->staged.empty()) return;
  const Node node = state_->CurrentNode();
  WriteTransaction transaction(state_->core->db());
  for (const auto& [key, entry] : state_->staged) state_->core->SetProperty(node.id, entry.first, entry.second, false);
  transaction.Commit();
  state_->staged.clear();
}

}  // namespace varnolt::mailstore

