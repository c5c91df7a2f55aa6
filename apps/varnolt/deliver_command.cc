// `deliver`: messages stored as delivered mail, each raising the delivery event.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

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
      throw CommandError("cannot read " + file + ": " + std::strerror(errno) + "; nothing was delivered");
    }
    if (S_ISDIR(info.st_mode)) throw CommandError(file + " is a directory; nothing was delivered");
    if (S_ISREG(info.st_mode) && info.st_size == 0) {
      throw CommandError(file + " is an empty message; nothing was delivered");
    }
  }
}

void RunDeliver(Session& session, DeliverOptions options) {
  const MailboxAddress mailbox = ParseMailboxAddress(options.mailbox);
  if (options.files.empty()) options.files.push_back(kStandardInput);
  const std::string folder = FolderOfMailbox(session.Store(), mailbox, options.folder, /*must_exist=*/true);
  CheckInputs(options.files);

  MailStore& store = session.StoreWithFilter();
  // Scripts read the URL lines; people at a terminal want the verdicts.
  const DeliverOutput output = options.json                                    ? DeliverOutput::kJson
                               : options.verbose || isatty(STDOUT_FILENO) == 1 ? DeliverOutput::kVerdicts
                                                                               : DeliverOutput::kUrls;
  DeliveryReport report(session, folder, options.internal, output);
  DeliveryOptions delivery;
  delivery.internal = options.internal;
  delivery.item_name = options.name;
  for (const std::string& file : options.files) {
    const bool from_stdin = file == kStandardInput;
    const std::string bytes = from_stdin ? ReadStandardInput() : ReadFileBytes(file);
    if (bytes.empty()) {
      throw CommandError((from_stdin ? std::string("standard input") : file) +
                         " is an empty message; it was not delivered");
    }
    report.Deliver(from_stdin ? "-" : file, bytes, [&] { return store.Deliver(folder, bytes, delivery); });
  }
  report.Finish();
}

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
  deliver->callback([&session, options] { RunDeliver(session, *options); });
}

}  // namespace varnolt::cli
