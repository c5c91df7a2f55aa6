#include "support/forwarding_record.h"

#include "backends/mailstore/store_names.h"

namespace varnolt::testing {

using mailstore::LowerKey;

void ForwardingStream::SetCharset(const std::string& charset) {
  context_->Notify(StoreCall::kStreamSetCharset);
  inner_->SetCharset(charset);
}

void ForwardingStream::SetType(StreamType type) {
  context_->Notify(StoreCall::kStreamSetType);
  inner_->SetType(type);
}

void ForwardingStream::LoadFromFile(const std::string& path) {
  context_->Notify(StoreCall::kStreamLoadFromFile);
  inner_->LoadFromFile(path);
}

void ForwardingStream::Flush() {
  context_->Notify(StoreCall::kStreamFlush);
  inner_->Flush();
}

Variant ForwardingField::Value() {
  context_->Notify(StoreCall::kFieldValue, name_);
  return inner_->Value();
}

void ForwardingField::SetValue(const Variant& value) {
  context_->Notify(StoreCall::kFieldSetValue, name_);
  inner_->SetValue(value);
}

int32_t ForwardingField::Status() {
  context_->Notify(StoreCall::kFieldStatus, name_);
  return inner_->Status();
}

std::shared_ptr<Stream> ForwardingField::StreamValue() {
  context_->Notify(StoreCall::kFieldStream, name_);
  return std::make_shared<ForwardingStream>(inner_->StreamValue(), context_);
}

std::shared_ptr<Field> ForwardingFields::Item(const std::string& name) {
  context_->Notify(StoreCall::kFieldsItem, name);
  return std::make_shared<ForwardingField>(inner_->Item(name), context_, name);
}

std::shared_ptr<Field> ForwardingFields::Item(int32_t index) {
  context_->Notify(StoreCall::kFieldsItem);
  return std::make_shared<ForwardingField>(inner_->Item(index), context_, "");
}

void ForwardingFields::Update() {
  context_->Notify(StoreCall::kFieldsUpdate);
  inner_->Update();
}

ForwardingRecord::ForwardingRecord(std::shared_ptr<Record> inner, std::shared_ptr<Connection> inner_connection,
                                   std::shared_ptr<StoreCallObserver> observer)
    : inner_(std::move(inner)),
      inner_connection_(std::move(inner_connection)),
      context_(std::make_shared<ForwardingContext>(ForwardingContext{std::move(observer), ""})),
      fields_(context_) {}

void ForwardingRecord::Open(const std::string& source, Connection&, ConnectMode mode,
                            RecordCreateOptions create_options, RecordOpenOptions open_options,
                            const std::string& user_name, const std::string& password) {
  context_->url = source;
  context_->Notify(StoreCall::kOpen);
  inner_->Open(source, *inner_connection_, mode, create_options, open_options, user_name, password);
}

Fields& ForwardingRecord::GetFields() {
  fields_.SetInner(&inner_->GetFields());
  return fields_;
}

std::string ForwardingRecord::Source() {
  context_->Notify(StoreCall::kSource);
  return inner_->Source();
}

std::string ForwardingRecord::ParentURL() {
  context_->Notify(StoreCall::kParentURL);
  return inner_->ParentURL();
}

std::string ForwardingRecord::MoveRecord(const std::string& source, const std::string& destination,
                                         const std::string& user_name, const std::string& password,
                                         MoveRecordOptions options, bool async) {
  context_->Notify(StoreCall::kMoveRecord);
  const std::string moved = inner_->MoveRecord(source, destination, user_name, password, options, async);
  if (source.empty() || LowerKey(source) == LowerKey(context_->url)) context_->url = moved;
  return moved;
}

void ForwardingRecord::Close() {
  context_->Notify(StoreCall::kClose);
  inner_->Close();
}

}  // namespace varnolt::testing
