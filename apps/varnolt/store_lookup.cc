#include "varnolt/store_lookup.h"

#include "backends/mailstore/store_errors.h"
#include "varnolt/cli_errors.h"

namespace varnolt::cli {
namespace {

// nullopt when nothing is at the URL.
std::optional<RecordView> Find(MailStore& store, const std::string& url) {
  try {
    return store.Describe(url);
  } catch (const ComError& error) {
    if (error.number() == kStoreNotFound || error.number() == kStoreInvalidUrl) return std::nullopt;
    throw;
  }
}

}  // namespace

MailboxAddress RequireMailbox(MailStore& store, const MailboxAddress& mailbox) {
  const auto root = Find(store, MailStore::MailboxUrl(mailbox.domain, mailbox.user));
  if (!root) throw hosting::CommandError("no mailbox " + mailbox.Text() + " (create it with 'varnolt mailbox add')");
  return MailboxOfUrl(root->url);
}

std::string FolderOfMailbox(MailStore& store, const MailboxAddress& typed, const std::string& path,
                            bool must_exist) {
  if (path.find_first_not_of('/') == std::string::npos) {
    throw UsageError("'" + path + "' names no folder: the mailbox root holds folders only (give one like Inbox)");
  }
  const MailboxAddress mailbox = RequireMailbox(store, typed);
  const std::string url = MailStore::FolderUrl(mailbox.domain, mailbox.user, path);
  if (must_exist) {
    const auto found = Find(store, url);
    if (!found || !found->is_folder)
      throw hosting::CommandError("no folder '" + path + "' in mailbox " + mailbox.Text());
  }
  return url;
}

RecordView DescribeExisting(MailStore& store, const std::string& url) {
  auto found = Find(store, url);
  if (!found) throw hosting::CommandError("nothing at " + url);
  return *found;
}

}  // namespace varnolt::cli
