// The host operations of the MailStore that raise save events.
#include "backends/mailstore/mail_store.h"
#include "backends/mailstore/mail_store_impl.h"
#include "backends/mailstore/raw_headers.h"
#include "backends/mailstore/store_connection.h"
#include "backends/mailstore/store_errors.h"
#include "backends/mailstore/store_names.h"

namespace varnolt {

using mailstore::Node;
using mailstore::WriteTransaction;

namespace {

// The subject the derivation found, "" when the message has none.
std::string SubjectOf(const mailstore::PropertyList& properties) {
  for (const auto& [name, value] : properties) {
    if (name == mailstore::kSubjectProperty) return value.AsText();
  }
  return "";
}

}  // namespace

std::string MailStore::Impl::RunSaveEvent(const std::function<Node()>& change, int32_t flags) {
  // A host operation inside a sink would end the sink's own transaction.
  if (core->db().InTransaction()) throw StoreError(kStoreInvalidArgument);
  WriteTransaction transaction(core->db());
  const Node node = change();
  if (sync_sink) {
    auto scope = std::make_shared<mailstore::EventScope>();
    auto connection = std::make_shared<mailstore::StoreConnection>(core, scope);
    auto record = std::make_shared<mailstore::StoreRecord>();
    record->Attach(*connection, node.id, true);
    EventParts parts{connection, record};
    if (event_wrapper) parts = event_wrapper(std::move(parts));
    auto info = ComPtr<EventInfo>::Attach(new EventInfo(std::move(parts.connection), std::move(parts.record)));
    HRESULT hr = E_FAIL;
    try {
      hr = sync_sink->OnSyncSave(info.get(), node.url, flags);
    } catch (...) {
      scope->active = false;
      throw StoreError(kStoreEventAborted);
    }
    scope->active = false;
    if (Failed(hr)) {
      ClearErrorInfo();
      throw StoreError(kStoreEventAborted);
    }
  }
  transaction.Commit();
  auto after = core->FindById(node.id);
  return after ? after->url : "";
}

std::string MailStore::Impl::SaveNewMessage(const std::string& folder_url, const std::string& name,
                                            std::string_view content, const mailstore::PropertyList& derived,
                                            bool outside, int32_t flags) {
  mailstore::CheckName(name);
  return RunSaveEvent(
      [&] {
        const Node folder = core->RequireFolder(folder_url);
        const Node item = core->CreateItem(folder, core->FreeName(folder, name), outside);
        core->SaveContent(item, content, &derived);
        return item;
      },
      flags);
}

std::string MailStore::Deliver(const std::string& folder_url, const std::string& bytes,
                               const DeliveryOptions& options) {
  // One copy of a large message is all delivery keeps: a second only when
  // the sender's X-Varnolt lines must go.
  std::string edited;
  const std::string_view content = mailstore::DeliveredView(bytes, &edited);
  if (content.empty()) throw StoreError(kStoreEmptyMessage);
  const bool outside = !options.internal;
  // Parsing happens before the write lock is taken.
  const auto derived = mailstore::DeriveMessageProperties(content, outside);
  const std::string name =
      options.item_name.empty() ? mailstore::NameFromSubject(SubjectOf(derived)) : options.item_name;
  return impl_->SaveNewMessage(folder_url, name, content, derived, outside, kEventFlagsDelivery);
}

std::string MailStore::MoveItem(const std::string& item_url, const std::string& folder_url) {
  auto& store = *impl_->core;
  return impl_->RunSaveEvent(
      [&] {
        const Node item = store.Require(item_url);
        if (item.is_folder) throw StoreError(kStoreNotAnItem);
        const Node folder = store.RequireFolder(folder_url);
        if (item.parent_id == folder.id) throw StoreError(kStoreSameFolder);
        return store.MoveItem(item, folder.url + "/" + store.FreeName(folder, item.name));
      },
      kEventFlagsUserMove);
}

std::string MailStore::CreateItem(const std::string& folder_url, const std::string& name, const std::string& bytes) {
  const auto derived = mailstore::DeriveMessageProperties(bytes, false);
  return impl_->SaveNewMessage(folder_url, name, bytes, derived, false, kEventFlagsClientCreate);
}

std::string MailStore::RaiseSaveEvent(const std::string& url, int32_t flags) {
  auto& store = *impl_->core;
  return impl_->RunSaveEvent([&] { return store.Require(url); }, flags);
}

}  // namespace varnolt
