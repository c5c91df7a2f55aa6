// `move`, `event` and `system`: the store's other events, raised on the filter.
#include <iostream>

#include "platform/mailstore/store_errors.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/item_reference.h"
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

void RunMove(Session& session, const std::string& reference, const std::string& folder_path) {
  const std::string item_url = ResolveItemReference(session.Store(), reference);
  const MailboxAddress mailbox = MailboxOfUrl(item_url);
  const RecordView item = DescribeExisting(session.Store(), item_url);
  if (item.is_folder) throw hosting::CommandError(item_url + " is a folder; only items can be moved");
  const std::string folder = FolderOfMailbox(session.Store(), mailbox, folder_path, /*must_exist=*/true);
  try {
    MailStore& store = session.StoreWithFilter();
    session.LastVerdict().reset();
    const std::string moved = store.MoveItem(item_url, folder);
    std::cout << moved << '\n';
    JournalCorrection(session, mailbox, moved);
  } catch (const ComError& error) {
    if (error.number() == kStoreSameFolder) throw hosting::CommandError(item_url + " is already in " + folder_path);
    throw;
  }
}

void RunEvent(Session& session, const std::string& flags_text, const std::string& reference) {
  const int32_t flags = ParseEventFlags(flags_text);
  const std::string url = ResolveItemReference(session.Store(), reference);
  DescribeExisting(session.Store(), url);
  std::cout << session.StoreWithFilter().RaiseSaveEvent(url, flags) << '\n';
}

void RunSystem(Session& session, const std::string& which) {
  MailStore& store = session.StoreWithFilter();
  if (which == "startup") {
    store.RaiseStartup();
  } else if (which == "shutdown") {
    store.RaiseShutdown();
  } else {
    store.RaiseTimer();
  }
}

}  // namespace

void AddEventCommands(CLI::App& app, Session& session) {
  auto move_url = std::make_shared<std::string>();
  auto move_folder = std::make_shared<std::string>();
  CLI::App* move = app.add_subcommand(
      "move", "A user's move of an item into another folder of its mailbox (a free name is chosen when taken); "
              "raises the move event and prints the new URL");
  move->add_option("ITEM", *move_url, kItemReferenceHelp)->required();
  move->add_option("FOLDER_PATH", *move_folder, "The target folder, like \"Junk E-Mail\" or Inbox/Sub")
      ->required();
  move->callback([&session, move_url, move_folder] { RunMove(session, *move_url, *move_folder); });

  auto event_flags = std::make_shared<std::string>();
  auto event_url = std::make_shared<std::string>();
  CLI::App* event = app.add_subcommand(
      "event", "Raise a save event with exactly these flags on an existing item or folder; "
               "prints its URL after the event");
  event->add_option("FLAGS", *event_flags, "The event flags: hexadecimal with 0x (0x01000008), or decimal")
      ->required();
  event->add_option("ITEM", *event_url, std::string(kItemReferenceHelp) + "; or a folder's URL")->required();
  event->callback([&session, event_flags, event_url] { RunEvent(session, *event_flags, *event_url); });

  auto which = std::make_shared<std::string>();
  CLI::App* system = app.add_subcommand("system", "Raise one of the store's system events on the filter");
  system->add_option("EVENT", *which, "startup, shutdown or timer")
      ->required()
      ->check(CLI::IsMember({"startup", "shutdown", "timer"}));
  system->callback([&session, which] { RunSystem(session, *which); });
}

}  // namespace varnolt::cli
