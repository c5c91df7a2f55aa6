// `whitelist list|add|remove`, `model reset` and `mailbox remove`: a user's
// files in the data folder and a mailbox in the store, as an administrator
// changes them.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include "backends/mailstore/store_errors.h"
#include "backends/system/posix_text_files.h"
#include "engine/engine_errors.h"
#include "engine/model_store.h"
#include "engine/spam_model.h"
#include "platform/names/data_layout.h"
#include "triage/domain_directory.h"
#include "trust/whitelist.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/domain_model_target.h"
#include "varnolt/file_io.h"
#include "varnolt/known_mailbox.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/store_lookup.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

struct UserArguments {
  std::string mailbox;
  std::string address;
};

// The user's database path as the filter composes it; throws without a data folder.
std::string DatPathOf(Session& session, const MailboxAddress& mailbox) {
  const std::string data_folder = session.DataFolder();
  if (data_folder.empty()) throw hosting::CommandError("the constructor string is empty, so there is no data folder");
  return UserDatabasePath(data_folder, mailbox.domain, mailbox.user);
}

bool FileExists(const std::string& composed_path) {
  std::error_code ignored;
  return fs::exists(ToFileSystemPath(composed_path), ignored);
}

void CheckAddress(const std::string& address) {
  if (address.empty()) throw UsageError("the address is empty");
  for (unsigned char c : address) {
    if (c < 0x20 || c == 0x7F) throw UsageError("the address holds a control character");
  }
  if (address.find('@') == std::string::npos) throw UsageError("'" + address + "' is not a mail address");
}

void RunWhitelistList(Session& session, const std::string& text) {
  const MailboxAddress mailbox = KnownMailbox(session, text);
  PosixTextFiles files;
  for (const std::string& line : ReadWhiteList(files, DatPathOf(session, mailbox))) {
    std::cout << line << '\n';
  }
}

void RunWhitelistAdd(Session& session, const UserArguments& arguments) {
  const MailboxAddress mailbox = KnownMailbox(session, arguments.mailbox);
  CheckAddress(arguments.address);
  const std::string dat_path = DatPathOf(session, mailbox);
  PosixTextFiles files;
  for (const std::string& line : ReadWhiteList(files, dat_path)) {
    if (line == arguments.address) throw hosting::CommandError(arguments.address + " is already listed");
  }
  // The filter makes the same directory on its first event for the domain.
  const CreateDirectoryResult made = CreateDomainDirectory(files, session.DataFolder(), mailbox.domain);
  if (!made.created && !made.already_exists) {
    throw hosting::CommandError("cannot create " +
                                ToFileSystemPath(DomainDirectory(session.DataFolder(), mailbox.domain)) + ": " +
                                std::strerror(made.error_code));
  }
  files.AppendLine(WhiteListPath(dat_path), arguments.address);
}

void RunWhitelistRemove(Session& session, const UserArguments& arguments) {
  const MailboxAddress mailbox = KnownMailbox(session, arguments.mailbox);
  const std::string dat_path = DatPathOf(session, mailbox);
  std::string kept;
  bool found = false;
  PosixTextFiles files;
  for (const std::string& line : ReadWhiteList(files, dat_path)) {
    if (line == arguments.address) {
      found = true;
    } else {
      kept += line + "\r\n";
    }
  }
  if (!found) {
    throw hosting::CommandError(arguments.address + " is not on the whitelist of " + mailbox.Text() +
                                " (addresses match exactly, letter case included)");
  }
  ReplaceFile(ToFileSystemPath(WhiteListPath(dat_path)), kept);
}

// Empties the model at dat_path, so that a reader never meets a missing file
// (which would also make the filter take the user for new): a sound model is
// cleared in place, a damaged one replaced by an empty one in one rename.
// Returns what it had learned; nullopt when there is no model.
std::optional<SpamCounts> ResetModelFile(Session& session, const std::string& dat_path) {
  if (const std::shared_ptr<engine::ModelBackend> models = hosting::EngineOptionsOf(session.Config()).models) {
    // In a database: emptied in one transaction; the user's file stays, as it says only "user known".
    engine::ModelLease model = models->Open(dat_path, engine::ModelOpen::kExistingOnly);
    if (!model) return std::nullopt;
    model->BeginRead();
    const SpamCounts before = model->Counts();
    model->Commit();
    model->Clear();
    model.Keep();
    return before;
  }
  if (!FileExists(dat_path)) return std::nullopt;
  SpamCounts before;
  try {
    before = session.Engine().GetCounts(dat_path);
    // A sound model is cleared in place: mail servers may hold it open, with
    // its write-ahead log found by the file's name.
    auto model = engine::ModelStore::Open(dat_path, engine::ModelStore::Mode::kExistingOnly);
    if (model) {
      model->Clear();
      return before;
    }
  } catch (const ComError& error) {
    if (error.number() == engine::kErrorForeignDatabase) {
      throw hosting::CommandError(ToFileSystemPath(dat_path) +
                                  " is not a model of this spam engine; it was left alone");
    }
    // A damaged model is what a reset is for: it is replaced.
  }
  const std::string fresh = dat_path + ".reset";
  std::remove(ToFileSystemPath(fresh).c_str());
  engine::ModelStore::Open(fresh, engine::ModelStore::Mode::kCreate).reset();
  if (std::rename(ToFileSystemPath(fresh).c_str(), ToFileSystemPath(dat_path).c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(ToFileSystemPath(fresh).c_str());
    throw hosting::CommandError("cannot replace " + ToFileSystemPath(dat_path) + ": " + reason);
  }
  return before;
}

void RunModelReset(Session& session, const std::string& text, const std::string& domain) {
  if (text.empty() == domain.empty()) throw UsageError("give either USER@DOMAIN or --domain DOMAIN");
  if (!domain.empty()) {
    const DomainModelTarget target = DomainModelOf(session, domain);
    const std::optional<SpamCounts> before = ResetModelFile(session, target.model_path);
    if (!before) {
      std::cout << "the domain " << target.domain << " has no shared model yet; nothing to reset\n";
      return;
    }
    std::cout << "reset the shared model of the domain " << target.domain << " (it had learned " << before->ham
              << " HAM and " << before->spam << " SPAM messages)\n";
    return;
  }
  const MailboxAddress mailbox = KnownMailbox(session, text);
  const std::optional<SpamCounts> before = ResetModelFile(session, DatPathOf(session, mailbox));
  if (!before) {
    std::cout << mailbox.Text() << " has no model yet; nothing to reset\n";
    return;
  }
  std::cout << "reset the model of " << mailbox.Text() << " (it had learned " << before->ham << " HAM and "
            << before->spam << " SPAM messages); the whitelist is kept\n";
}

// A user's correction never refits the domain's shared model (that costs in
// proportion to the domain): after users' lessons taught it, this does, from
// cron for instance, as `train --domain` does at its end.
void RunModelRefit(Session& session, const std::string& text, const std::string& domain) {
  if (text.empty() == domain.empty()) throw UsageError("give either USER@DOMAIN or --domain DOMAIN");
  std::string path, named;
  if (!domain.empty()) {
    const DomainModelTarget target = DomainModelOf(session, domain);
    path = target.model_path;
    named = "the shared model of the domain " + target.domain;
  } else {
    const MailboxAddress mailbox = KnownMailbox(session, text);
    path = DatPathOf(session, mailbox);
    named = "the model of " + mailbox.Text();
  }
  session.Engine().Refit(path);
  const SpamCounts counts = session.Engine().GetCounts(path);
  std::cout << "refitted the linear model of " << named << " (" << counts.ham << " HAM and " << counts.spam
            << " SPAM messages learned)\n";
}

void RunMailboxRemove(Session& session, const std::string& text, bool delete_mail) {
  const MailboxAddress mailbox = ParseMailboxAddress(text);
  MailStore& store = session.Store();
  RequireMailbox(store, mailbox);
  const int64_t items = store.CountMailboxItems(mailbox.domain, mailbox.user);
  if (items > 0 && !delete_mail) {
    throw hosting::CommandError("mailbox " + mailbox.Text() + " holds " + std::to_string(items) +
                                " item(s); give --delete-mail to remove it with its mail");
  }
  store.RemoveMailbox(mailbox.domain, mailbox.user);
  std::cout << "removed mailbox " << mailbox.Text() << " and " << items
            << " item(s); the user's model and whitelist in the data folder are kept\n";
}

}  // namespace

void AddUserDataCommands(CLI::App& app, Session& session) {
  CLI::App* whitelist = app.add_subcommand(
      "whitelist", "A user's whitelist: senders whose mail is HAM without asking the engine (UseWhiteList)");
  whitelist->require_subcommand(1);

  auto list_mailbox = std::make_shared<std::string>();
  CLI::App* list = whitelist->add_subcommand("list", "Every entry, one a line, as the filter reads them");
  list->add_option("USER@DOMAIN", *list_mailbox, "The user")->required();
  list->callback([&session, list_mailbox] { RunWhitelistList(session, *list_mailbox); });

  auto add_arguments = std::make_shared<UserArguments>();
  CLI::App* add = whitelist->add_subcommand("add", "Add a sender address (matched exactly, letter case included)");
  add->add_option("USER@DOMAIN", add_arguments->mailbox, "The user")->required();
  add->add_option("ADDRESS", add_arguments->address, "The sender's address, like bob@example.net")->required();
  add->callback([&session, add_arguments] { RunWhitelistAdd(session, *add_arguments); });

  auto remove_arguments = std::make_shared<UserArguments>();
  CLI::App* remove = whitelist->add_subcommand("remove", "Remove every entry equal to the address");
  remove->add_option("USER@DOMAIN", remove_arguments->mailbox, "The user")->required();
  remove->add_option("ADDRESS", remove_arguments->address, "The address as listed")->required();
  remove->callback([&session, remove_arguments] { RunWhitelistRemove(session, *remove_arguments); });

  CLI::App* model = app.add_subcommand("model", "A user's spam model, or the shared model of a domain");
  model->require_subcommand(1);
  auto reset_mailbox = std::make_shared<std::string>();
  auto reset_domain = std::make_shared<std::string>();
  CLI::App* reset = model->add_subcommand(
      "reset", "Make the user's model forget everything it learned (it is replaced by an empty one)");
  reset->add_option("USER@DOMAIN", *reset_mailbox, "The user");
  reset->add_option("--domain", *reset_domain, "Reset the domain's shared model instead")->option_text("DOMAIN");
  reset->callback([&session, reset_mailbox, reset_domain] { RunModelReset(session, *reset_mailbox, *reset_domain); });
  auto refit_mailbox = std::make_shared<std::string>();
  auto refit_domain = std::make_shared<std::string>();
  CLI::App* refit = model->add_subcommand(
      "refit", "Refit the linear model of the user's model, or of the domain's shared one, over what it learned "
               "(users' corrections never refit the domain's)");
  refit->add_option("USER@DOMAIN", *refit_mailbox, "The user");
  refit->add_option("--domain", *refit_domain, "Refit the domain's shared model instead")->option_text("DOMAIN");
  refit->callback([&session, refit_mailbox, refit_domain] { RunModelRefit(session, *refit_mailbox, *refit_domain); });

  CLI::App* mailbox = app.get_subcommand("mailbox");
  auto remove_mailbox = std::make_shared<std::string>();
  auto delete_mail = std::make_shared<bool>(false);
  CLI::App* mailbox_remove = mailbox->add_subcommand(
      "remove", "Delete a mailbox from the store; refused while it holds mail unless --delete-mail is given");
  mailbox_remove->add_option("USER@DOMAIN", *remove_mailbox, "The mailbox")->required();
  mailbox_remove->add_flag("--delete-mail", *delete_mail, "Remove it with every item in it");
  mailbox_remove->callback(
      [&session, remove_mailbox, delete_mail] { RunMailboxRemove(session, *remove_mailbox, *delete_mail); });
}

}  // namespace varnolt::cli
