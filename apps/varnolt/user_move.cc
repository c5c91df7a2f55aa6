#include "varnolt/user_move.h"

#include <iostream>

#include "backends/mailstore/store_errors.h"
#include "varnolt/cli_errors.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/store_lookup.h"

namespace varnolt::cli {
namespace {

// A move the filter took as the user's correction joins the message's record
// in the verdict journal. Never fails the move.
void JournalCorrection(Session& session, const MailboxAddress& mailbox, const std::string& url) {
  const std::optional<SaveVerdict>& verdict = session.LastVerdict();
  if (!verdict || verdict->decided_by != DecidedBy::kUser) return;
  try {
    hosting::JournalWriter& journal = session.Journal();
    if (!journal.enabled()) return;
    journal.RecordMove(mailbox.Text(), session.Store().ReadContent(url), *verdict);
  } catch (const std::exception& error) {
    std::cerr << "varnolt: warning: verdict journal: " << error.what() << '\n';
  }
}

}  // namespace

std::string MoveAsUser(Session& session, const std::string& item_url, const std::string& folder_path) {
  const MailboxAddress mailbox = MailboxOfUrl(item_url);
  const RecordView item = DescribeExisting(session.Store(), item_url);
  if (item.is_folder) throw hosting::CommandError(item_url + " is a folder; only items can be moved");
  const std::string folder = FolderOfMailbox(session.Store(), mailbox, folder_path, /*must_exist=*/true);
  try {
    MailStore& store = session.StoreWithFilter();
    session.LastVerdict().reset();
    const std::string moved = store.MoveItem(item_url, folder);
    JournalCorrection(session, mailbox, moved);
    return moved;
  } catch (const ComError& error) {
    if (error.number() == kStoreSameFolder) throw hosting::CommandError(item_url + " is already in " + folder_path);
    throw;
  }
}

}  // namespace varnolt::cli
