// Item URLs and the short references the command takes for them (numbers,
// id:<Message-ID>), the plugin's URL form over Dovecot mailboxes, and the
// store's lookups by URL.
#include <memory>
#include <string>

#include "backends/mailstore/mail_store.h"
#include "backends/mailstore/store_names.h"
#include "dovecot/mailbox_urls.h"
#include "fuzz/fuzz_support.h"
#include "platform/com/com_error.h"
#include "varnolt/cli_errors.h"
#include "varnolt/item_reference.h"

using namespace varnolt;

namespace {

MailStore& SharedStore() {
  static const std::unique_ptr<MailStore> store = [] {
    auto made = MailStore::Open(fuzz::ScratchFolder() + "/store.db");
    made->AddMailbox("example.com", "alice");
    const std::string inbox = MailStore::FolderUrl("example.com", "alice", "Inbox");
    made->Deliver(inbox, "Message-ID: <a@b>\r\nSubject: one\r\n\r\nx\r\n", {});
    made->Deliver(inbox, "Message-ID: <a@b>\r\nSubject: two\r\n\r\nx\r\n", {});
    return made;
  }();
  return *store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(fuzz::AsText(data, size));
  MailStore& store = SharedStore();
  try {
    const std::string url = cli::ResolveItemReference(store, text);
    store.Describe(url);
  } catch (const hosting::CommandError&) {
  } catch (const ComError&) {
  }
  const dovecot::MailboxUrls urls("example.com", "alice", '.');
  if (const auto path = urls.PathOf(text)) {
    const std::string mailbox = urls.MailboxOf(*path);
    std::string parent, name;
    if (mailstore::SplitLast(*path, &parent, &name)) {
      if (const auto uid = dovecot::UidOfItemName(name)) {
        // A URL the plugin makes names the same message again.
        if (dovecot::UidOfItemName(dovecot::ItemNameOfUid(*uid)) != uid) __builtin_trap();
        urls.ItemUrl(mailbox, *uid);
      }
    }
    urls.FolderUrl(mailbox);
  }
  std::string parent, name;
  if (mailstore::SplitLast(text, &parent, &name) && mailstore::IsValidName(name)) mailstore::NumberedName(name, 2);
  return 0;
}
