// `mailbox add|list` and `folder add`: provisioning, which raises no events.
#include <cstring>
#include <iostream>

#include "backends/mailstore/store_errors.h"
#include "backends/system/posix_text_files.h"
#include "platform/names/data_layout.h"
#include "trust/whitelist.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/json_output.h"
#include "varnolt/known_mailbox.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/store_lookup.h"

namespace varnolt::cli {
namespace {

// The new user's empty whitelist, as the filter makes it when it welcomes a
// user: a missing whitelist then means something went wrong. In a domain the
// filter has not met yet, its first delivery makes the domain's folder (and
// says so) and the whitelist. The mailbox is there already, so a failure
// here is a warning.
void ProvideWhiteList(Session& session, const MailboxAddress& mailbox) {
  const std::string data_folder = session.DataFolder();
  if (data_folder.empty()) return;
  PosixTextFiles files;
  if (files.GetFileAttributes(DomainDirectory(data_folder, mailbox.domain)) != kFileAttributeDirectory) return;
  const std::string dat_path = UserDatabasePath(data_folder, mailbox.domain, mailbox.user);
  if (const int error = CreateEmptyWhiteList(files, dat_path); error != 0) {
    std::cerr << "varnolt: warning: cannot create the whitelist " << ToFileSystemPath(WhiteListPath(dat_path))
              << ": " << std::strerror(error) << '\n';
  }
}

void RunMailboxAdd(Session& session, const std::string& text) {
  const MailboxAddress mailbox = ParseMailboxAddress(text);
  try {
    std::cout << session.Store().AddMailbox(mailbox.domain, mailbox.user) << '\n';
  } catch (const ComError& error) {
    if (error.number() == kStoreAlreadyExists) throw hosting::CommandError("mailbox " + text + " already exists");
    throw;
  }
  ProvideWhiteList(session, KnownMailbox(session, text));  // as the store spells it
}

void RunFolderAdd(Session& session, const std::string& text, const std::string& path) {
  const MailboxAddress mailbox = ParseMailboxAddress(text);
  const std::string url = FolderOfMailbox(session.Store(), mailbox, path, /*must_exist=*/false);
  try {
    std::cout << session.Store().AddFolder(url) << '\n';
  } catch (const ComError& error) {
    if (error.number() == kStoreAlreadyExists)
      throw hosting::CommandError("folder " + path + " already exists in " + text);
    if (error.number() == kStoreParentNotFound) {
      throw hosting::CommandError("the parent of folder " + path + " does not exist in " + text);
    }
    throw;
  }
}

}  // namespace

void AddMailboxCommands(CLI::App& app, Session& session) {
  CLI::App* mailbox = app.add_subcommand("mailbox", "Create or list mailboxes");
  mailbox->require_subcommand(1);

  auto add_name = std::make_shared<std::string>();
  CLI::App* add = mailbox->add_subcommand(
      "add", "Create a mailbox with Inbox, Sent Items, Deleted Items, Drafts and Junk E-Mail; prints its URL");
  add->add_option("USER@DOMAIN", *add_name, "The new mailbox")->required();
  add->callback([&session, add_name] { RunMailboxAdd(session, *add_name); });

  auto list_json = std::make_shared<bool>(false);
  CLI::App* list = mailbox->add_subcommand("list", "Every mailbox, one USER@DOMAIN a line");
  list->add_flag("--json", *list_json, "A JSON array of {address, user, domain, items}");
  list->callback([&session, list_json] {
    Json array = Json::array();
    for (const MailboxName& name : session.Store().ListMailboxes()) {
      if (!*list_json) {
        std::cout << name.user << '@' << name.domain << '\n';
        continue;
      }
      array.push_back({{"address", name.user + "@" + name.domain},
                       {"user", name.user},
                       {"domain", name.domain},
                       {"items", session.Store().CountMailboxItems(name.domain, name.user)}});
    }
    if (*list_json) std::cout << JsonText(array);
  });

  CLI::App* folder = app.add_subcommand("folder", "Create folders");
  folder->require_subcommand(1);
  auto folder_mailbox = std::make_shared<std::string>();
  auto folder_path = std::make_shared<std::string>();
  CLI::App* folder_add = folder->add_subcommand("add", "Create a folder (its parent must exist); prints its URL");
  folder_add->add_option("USER@DOMAIN", *folder_mailbox, "The mailbox")->required();
  folder_add->add_option("PATH", *folder_path, "The folder, like Inbox/Sub")->required();
  folder_add->callback([&session, folder_mailbox, folder_path] {
    RunFolderAdd(session, *folder_mailbox, *folder_path);
  });
}

}  // namespace varnolt::cli
