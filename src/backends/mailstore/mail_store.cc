#include "backends/mailstore/mail_store.h"

#include <algorithm>

#include "backends/mailstore/mail_store_impl.h"
#include "backends/mailstore/store_connection.h"
#include "backends/mailstore/store_errors.h"
#include "backends/mailstore/store_names.h"
#include "platform/names/data_layout.h"
#include "store/property_names.h"

namespace varnolt {

using mailstore::Node;
using mailstore::WriteTransaction;

namespace {

constexpr const char* kHiddenProperty = "urn:schemas:mapi:proptag:x67aa000b";

// The standard folders a mailbox root points to, by folder name.
constexpr std::pair<const char*, const char*> kRootFolderProperties[] = {
    {"urn:schemas:httpmail:inbox", "Inbox"},
    {"urn:schemas:httpmail:sentitems", "Sent Items"},
    {"urn:schemas:httpmail:deleteditems", "Deleted Items"},
    {"urn:schemas:httpmail:drafts", "Drafts"},
};

void SetFolderClass(mailstore::StoreCore& core, const Node& folder) {
  core.SetProperty(folder.id, kContentClassField, Variant::Text(kFolderContentClass), false);
  core.SetProperty(folder.id, ExchangeField("outlookfolderclass"), Variant::Text("IPF.Note"), false);
}

std::string TextOrEmpty(const std::optional<Variant>& value) { return value ? value->ToText() : ""; }

}  // namespace

MailStore::MailStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MailStore::~MailStore() = default;

std::unique_ptr<MailStore> MailStore::Open(const std::string& path, bool create_if_missing) {
  auto impl = std::make_unique<Impl>();
  impl->core = mailstore::StoreCore::Open(path, create_if_missing);
  return std::unique_ptr<MailStore>(new MailStore(std::move(impl)));
}

std::unique_ptr<MailStore> MailStore::OpenForReading(const std::string& path) {
  auto impl = std::make_unique<Impl>();
  impl->core = mailstore::StoreCore::OpenReadOnly(path);
  if (!impl->core) return Open(path, /*create_if_missing=*/false);
  return std::unique_ptr<MailStore>(new MailStore(std::move(impl)));
}

std::string MailStore::MailboxUrl(const std::string& domain, const std::string& user) {
  return ::varnolt::MailboxUrl(domain, user);
}

std::string MailStore::FolderUrl(const std::string& domain, const std::string& user, const std::string& path) {
  return ::varnolt::FolderUrl(domain, user, path);
}

std::string MailStore::AddMailbox(const std::string& domain, const std::string& user) {
  auto& core = *impl_->core;
  WriteTransaction transaction(core.db());
  const Node root = core.CreateMailboxRoot(domain, user);
  core.SetProperty(root.id, kContentClassField, Variant::Text(kFolderContentClass), false);
  for (const char* name : kStandardFolders) SetFolderClass(core, core.CreateFolder(root.url + "/" + name));
  for (const auto& [property, folder] : kRootFolderProperties) {
    core.SetProperty(root.id, property, Variant::Text(root.url + "/" + folder), false);
  }
  transaction.Commit();
  return root.url;
}

std::vector<MailboxName> MailStore::ListMailboxes() {
  std::vector<MailboxName> names;
  for (auto& row : impl_->core->Mailboxes()) names.push_back({row.domain, row.user});
  return names;
}

std::string MailStore::AddFolder(const std::string& folder_url) {
  auto& core = *impl_->core;
  WriteTransaction transaction(core.db());
  const Node folder = core.CreateFolder(folder_url);
  SetFolderClass(core, folder);
  transaction.Commit();
  return folder.url;
}

void MailStore::RegisterSyncSink(ComPtr<IExStoreSyncEvents> sink) { impl_->sync_sink = std::move(sink); }

void MailStore::RegisterSystemSink(ComPtr<IExStoreSystemEvents> sink) { impl_->system_sink = std::move(sink); }

void MailStore::SetEventWrapper(EventWrapper wrapper) { impl_->event_wrapper = std::move(wrapper); }

void MailStore::RaiseStartup() {
  if (impl_->system_sink) ThrowIfFailed(impl_->system_sink->OnMDBStartup(StoreGuid(), "Mailbox Store", 0));
}

void MailStore::RaiseShutdown() {
  if (impl_->system_sink) ThrowIfFailed(impl_->system_sink->OnMDBShutdown(StoreGuid(), 0));
}

void MailStore::RaiseTimer() {
  if (impl_->system_sink) ThrowIfFailed(impl_->system_sink->OnTimer(kMailboxUrlPrefix, 0));
}

std::vector<ItemSummary> MailStore::ListItems(const std::string& folder_url) {
  auto& core = *impl_->core;
  const Node folder = core.RequireFolder(folder_url);
  std::vector<ItemSummary> items;
  for (const Node& item : core.Children(folder.id, false)) {
    ItemSummary summary;
    summary.url = item.url;
    summary.name = item.name;
    summary.subject = TextOrEmpty(core.StoredProperty(item.id, mailstore::kSubjectProperty));
    summary.from = TextOrEmpty(core.StoredProperty(item.id, kFromField));
    if (auto marker = core.StoredProperty(item.id, kMailMarkerField)) {
      try {
        summary.marker = marker->ToInt32();
      } catch (const ComError&) {
        // A marker that is no number counts as none, as the filter reads it.
      }
    }
    auto hidden = core.StoredProperty(item.id, kHiddenProperty);
    summary.hidden = hidden && hidden->kind() == Variant::Kind::kBool && hidden->AsBool();
    summary.id = item.id;
    mailstore::Statement size(core.db(), "SELECT length(bytes) FROM contents WHERE node_id = ?");
    summary.size = size.Bind(1, item.id).Step() ? size.Int(0) : 0;
    if (auto date = core.StoredProperty(item.id, "urn:schemas:mailheader:date")) {
      summary.date = mailstore::MailDateSeconds(date->ToText());
    }
    items.push_back(std::move(summary));
  }
  return items;
}

std::vector<FolderSummary> MailStore::ListFolders(const std::string& domain, const std::string& user) {
  auto& core = *impl_->core;
  const Node root = core.RequireFolder(MailboxUrl(domain, user));
  std::vector<FolderSummary> folders;
  // Depth first with an explicit stack; children are pushed in reverse name order.
  std::vector<std::pair<Node, std::pair<std::string, int>>> stack;
  auto push_children = [&](const Node& parent, const std::string& path, int depth) {
    auto children = core.Children(parent.id, true);
    std::sort(children.begin(), children.end(), [](const Node& a, const Node& b) {
      return mailstore::LowerKey(a.name) > mailstore::LowerKey(b.name);
    });
    for (auto& child : children) {
      stack.push_back({child, {path.empty() ? child.name : path + "/" + child.name, depth}});
    }
  };
  push_children(root, "", 0);
  while (!stack.empty()) {
    auto [folder, where] = stack.back();
    stack.pop_back();
    const auto item_count = static_cast<int64_t>(core.Children(folder.id, false).size());
    folders.push_back({folder.url, where.first, where.second, item_count});
    push_children(folder, where.first, where.second + 1);
  }
  return folders;
}

RecordView MailStore::Describe(const std::string& url) {
  auto& core = *impl_->core;
  const Node node = core.Require(url);
  return RecordView{node.url, mailstore::ParentUrlOf(node.url), node.is_folder, core.AllProperties(node)};
}

std::string MailStore::ReadContent(const std::string& item_url) {
  auto& core = *impl_->core;
  return core.Content(core.Require(item_url));
}

std::shared_ptr<Connection> MailStore::Connect() {
  return std::make_shared<mailstore::StoreConnection>(impl_->core, nullptr);
}

std::string MailStore::StoreGuid() { return impl_->core->guid(); }

}  // namespace varnolt
