#include "varnolt/store_lookup.h"

#include "platform/mailstore/store_errors.h"
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

void RequireMailbox(MailStore& store, const MailboxAddress& mailbox) {
  if (!Find(store, MailStore::MailboxUrl(mailbox.domain, mailbox.user))) {
    throw CommandError("no mailbox " + mailbox.Text() + " (create it with 'varnolt mailbox add')");
  }
}

std::string FolderOfMailbox(MailStore& store, const MailboxAddress& mailbox, const std::string& path,
                            bool must_exist) {
  RequireMailbox(store, mailbox);
  const std::string url = MailStore::FolderUrl(mailbox.domain, mailbox.user, path);
  if (must_exist) {
    const auto found = Find(store, url);
    if (!found || !found->is_folder) throw CommandError("no folder '" + path + "' in mailbox " + mailbox.Text());
  }
  return url;
}

RecordView DescribeExisting(MailStore& store, const std::string& url) {
  auto found = Find(store, url);
  if (!found) throw CommandError("nothing at " + url);
  return *found;
}

}  // namespace varnolt::cli
