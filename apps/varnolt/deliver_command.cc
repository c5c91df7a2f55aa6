// `deliver`: messages stored as delivered mail, each raising the delivery event.
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "backends/mailstore/store_errors.h"
#include "hosting/filter_library.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/deliver_report.h"
#include "varnolt/file_io.h"
#include "varnolt/store_lookup.h"

namespace varnolt::cli {
namespace {

constexpr const char* kStandardInput = "-";

struct DeliverOptions {
  std::string mailbox;
  std::string folder = "Inbox";
  bool internal = false;
  std::string name;
  std::vector<std::string> files;
  bool verbose = false;
  bool json = false;
};

// Refuses the whole batch before anything is stored when an input is missing,
// unreadable, a directory or an empty file. Other files (a pipe) are judged
// once read.
void CheckInputs(const std::vector<std::string>& files) {
  int standard_inputs = 0;
  for (const std::string& file : files) {
    if (file == kStandardInput) {
      if (++standard_inputs > 1) throw UsageError("'-' (standard input) can be given only once");
      continue;
    }
    struct stat info {};
    if (stat(file.c_str(), &info) != 0 || access(file.c_str(), R_OK) != 0) {
      throw ExitStatusError(EX_NOINPUT, "cannot read " + file + ": " + std::strerror(errno) + "; nothing was delivered");
    }
    if (S_ISDIR(info.st_mode)) throw ExitStatusError(EX_NOINPUT, file + " is a directory; nothing was delivered");
    if (S_ISREG(info.st_mode) && info.st_size == 0) {
      throw ExitStatusError(EX_DATAERR, file + " is an empty message; nothing was delivered");
    }
  }
}

// The status a transfer agent acts on for a store failure: a message that is
// no message, a bad item name, or (anything else) try again later.
int ExitStatusOf(const ComError& error) {
  switch (error.number()) {
    case kStoreEmptyMessage:
      return EX_DATAERR;
    case kStoreInvalidName:
      return EX_USAGE;
    default:
      return EX_TEMPFAIL;  // busy, full, unreadable: the agent keeps the message and retries
  }
}

void DeliverAll(Session& session, DeliverOptions options) {
  MailboxAddress typed;
  try {
    typed = ParseMailboxAddress(options.mailbox);
  } catch (const UsageError& error) {
    throw ExitStatusError(EX_NOUSER, error.what());
  }
  if (options.files.empty()) options.files.push_back(kStandardInput);
  MailStore& plain_store = session.Store();
  MailboxAddress mailbox;
  try {
    mailbox = RequireMailbox(plain_store, typed);
  } catch (const hosting::CommandError& error) {
    throw ExitStatusError(EX_NOUSER, error.what());
  }
  const std::string folder = FolderOfMailbox(plain_store, mailbox, options.folder, /*must_exist=*/true);
  CheckInputs(options.files);

  MailStore& store = session.StoreWithFilter();
  // Scripts read the URL lines; people at a terminal want the verdicts.
  const DeliverOutput output = options.json                                    ? DeliverOutput::kJson
                               : options.verbose || isatty(STDOUT_FILENO) == 1 ? DeliverOutput::kVerdicts
                                                                               : DeliverOutput::kUrls;
  DeliveryReport report(session, folder, output);
  DeliveryOptions delivery;
  delivery.internal = options.internal;
  delivery.item_name = options.name;
  for (const std::string& file : options.files) {
    const bool from_stdin = file == kStandardInput;
    const std::string bytes = from_stdin ? ReadStandardInput() : ReadFileBytes(file);
    if (bytes.empty()) {
      throw ExitStatusError(EX_DATAERR, (from_stdin ? std::string("standard input") : file) +
                                            " is an empty message; it was not delivered");
    }
    report.Deliver(from_stdin ? "-" : file, bytes, [&] {
      try {
        return store.Deliver(folder, bytes, delivery);
      } catch (const ComError& error) {
        throw ExitStatusError(ExitStatusOf(error), (from_stdin ? std::string("standard input") : file) +
                                                       " was not delivered: " + hosting::ComErrorText(error));
      }
    });
  }
  report.Finish();
}

// Every failure that is not the message's, the recipient's or the command
// line's own is temporary for the transfer agent (a missing home, registry or
// folder is the administrator's to fix), so no mail bounces for it.
void RunDeliver(Session& session, const DeliverOptions& options) {
  try {
    DeliverAll(session, options);
  } catch (const ExitStatusError&) {
    throw;
  } catch (const UsageError& error) {
    throw ExitStatusError(EX_USAGE, error.what());
  } catch (const ComError& error) {
    throw ExitStatusError(ExitStatusOf(error), hosting::ComErrorText(error));
  } catch (const std::exception& error) {
    throw ExitStatusError(EX_TEMPFAIL, error.what());
  }
}

constexpr const char* kExitStatusHelp =
    "Exit status (sysexits.h), for use as a mail transfer agent's delivery program:\n"
    "  0   (EX_OK)        every message was delivered\n"
    "  64  (EX_USAGE)     the command line is wrong (an unknown option, a bad --name)\n"
    "  65  (EX_DATAERR)   a message is empty, or nothing is left of it once its envelope\n"
    "                     \"From \" line and X-Varnolt lines are removed\n"
    "  66  (EX_NOINPUT)   a message file is missing, unreadable or a directory\n"
    "  67  (EX_NOUSER)    no such mailbox (or no valid USER@DOMAIN)\n"
    "  75  (EX_TEMPFAIL)  try again later: the store is busy or the disk full, or the home,\n"
    "                     its registry, the filter's registration or the folder is missing\n"
    "                     or broken (see the message; 'varnolt init --repair' mends the\n"
    "                     registration); any other failure\n"
    "Messages before a failed one stay delivered (their URLs are printed). A leading\n"
    "envelope \"From \" line, as agents add when piping, is removed. Example for Postfix:\n"
    "  mailbox_command = " VARNOLT_INSTALLED_COMMAND " --home /var/lib/varnolt deliver \"$USER@$DOMAIN\"";

}  // namespace

void AddDeliverCommand(CLI::App& app, Session& session) {
  auto options = std::make_shared<DeliverOptions>();
  CLI::App* deliver = app.add_subcommand(
      "deliver", "Deliver messages in order, raising the delivery event for each; prints one URL per message: "
                 "where the item is after the filter ran");
  deliver->add_option("USER@DOMAIN", options->mailbox, "The mailbox")->required();
  deliver->add_option("FILE", options->files, "Message files; '-' (or none) reads one message from stdin");
  deliver->add_option("--folder", options->folder, "The folder to deliver into")->capture_default_str();
  deliver->add_flag("--internal", options->internal,
                    "Submitted inside the organisation (address type EX, no transport headers)");
  deliver->add_option("--name", options->name,
                      "The item name in full (e.g. Hello.EML); default: the subject + \".EML\"");
  deliver->add_flag("--verbose,-v", options->verbose,
                    "One line per message: HAM|SPAM|UNJUDGED, the engine's score and the URL "
                    "(the default on a terminal)");
  deliver->add_flag("--json", options->json, "A JSON array of {file, url, marker, score} (null when none)");
  deliver->footer(kExitStatusHelp);
  deliver->callback([&session, options] { RunDeliver(session, *options); });
}

}  // namespace varnolt::cli
