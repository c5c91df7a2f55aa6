// The administrator's operations on the store: finding items by number or
// Message-ID, and removing a whole mailbox.
#include <string_view>

#include "backends/mailstore/mail_store.h"
#include "backends/mailstore/mail_store_impl.h"
#include "backends/mailstore/store_errors.h"
#include "backends/mailstore/store_names.h"

namespace varnolt {

using mailstore::Node;
using mailstore::Statement;
using mailstore::WriteTransaction;

namespace {

constexpr const char* kMessageIdKey = "urn:schemas:mailheader:message-id";

// "<a@b>" and " a@b " both give "a@b".
std::string_view BareMessageId(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (text.size() >= 2 && text.front() == '<' && text.back() == '>') text = text.substr(1, text.size() - 2);
  return text;
}

// The existing mailbox root; throws kStoreNotFound.
Node RequireMailboxRoot(mailstore::StoreCore& core, const std::string& domain, const std::string& user) {
  auto root = core.Find(MailStore::MailboxUrl(domain, user));
  if (!root || root->parent_id != 0) throw StoreError(kStoreNotFound);
  return *root;
}

// Keys of the nodes below a root sort between root + "/" and root + "0"
// ("0" follows "/" in byte order).
void BindDescendantRange(Statement& statement, int first_index, const std::string& root_url) {
  const std::string key = mailstore::LowerKey(root_url);
  statement.Bind(first_index, key + "/").Bind(first_index + 1, key + "0");
}

}  // namespace

std::optional<std::string> MailStore::ItemUrlById(int64_t id) {
  auto node = impl_->core->FindById(id);
  if (!node || node->is_folder) return std::nullopt;
  return node->url;
}

std::optional<Variant> MailStore::StoredProperty(const std::string& url, const std::string& name) {
  auto& core = *impl_->core;
  return core.StoredProperty(core.Require(url).id, name);
}

std::vector<std::string> MailStore::FindItemsByMessageId(const std::string& message_id) {
  const std::string_view wanted = BareMessageId(message_id);
  std::vector<std::string> urls;
  if (wanted.empty()) return urls;
  auto& core = *impl_->core;
  Statement select(core.db(),
                   "SELECT n.url, p.value FROM properties p JOIN nodes n ON n.id = p.node_id "
                   "WHERE p.name_key = ? AND n.is_folder = 0 ORDER BY n.id");
  select.Bind(1, std::string_view(kMessageIdKey));
  while (select.Step()) {
    if (BareMessageId(select.Blob(1)) == wanted) urls.push_back(select.Text(0));
  }
  return urls;
}

int64_t MailStore::CountMailboxItems(const std::string& domain, const std::string& user) {
  auto& core = *impl_->core;
  const Node root = RequireMailboxRoot(core, domain, user);
  Statement count(core.db(), "SELECT COUNT(*) FROM nodes WHERE is_folder = 0 AND url_key >= ? AND url_key < ?");
  BindDescendantRange(count, 1, root.url);
  return count.Step() ? count.Int(0) : 0;
}

void MailStore::RemoveMailbox(const std::string& domain, const std::string& user) {
  auto& core = *impl_->core;
  WriteTransaction transaction(core.db());
  const Node root = RequireMailboxRoot(core, domain, user);
  Statement(core.db(), "DELETE FROM mailboxes WHERE root_id = ?").Bind(1, root.id).Run();
  // One statement: the parent references inside the tree all go at once.
  Statement erase(core.db(), "DELETE FROM nodes WHERE id = ? OR (url_key >= ? AND url_key < ?)");
  erase.Bind(1, root.id);
  BindDescendantRange(erase, 2, root.url);
  erase.Run();
  transaction.Commit();
}

}  // namespace varnolt
