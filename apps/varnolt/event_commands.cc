// `move`, `event` and `system`: the store's other events, raised on the filter.
#include <iostream>

#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/item_reference.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/store_lookup.h"
#include "varnolt/user_move.h"

namespace varnolt::cli {
namespace {

void RunMove(Session& session, const std::string& reference, const std::string& folder_path) {
  std::cout << MoveAsUser(session, ResolveItemReference(session.Store(), reference), folder_path) << '\n';
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
