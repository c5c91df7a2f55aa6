#include "dashboard/release_action.h"

#include <strings.h>

#include "dashboard/program_run.h"
#include "hosting/registry_values.h"
#include "platform/names/data_layout.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/store_lookup.h"
#include "varnolt/user_move.h"

namespace varnolt::dashboard {
namespace {

constexpr int kDoveadmTimeoutMs = 60000;

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string TrimmedBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "Junk E-Mail" of ".../MBX/alice/Junk E-Mail/1.EML"; the URL itself when it is not of that form.
std::string FolderPathOfItem(const std::string& url) {
  const size_t mbx = url.find("/MBX/");
  const size_t user_end = mbx == std::string::npos ? std::string::npos : url.find('/', mbx + 5);
  const size_t item = url.rfind('/');
  if (user_end == std::string::npos || item <= user_end) return url;
  return url.substr(user_end + 1, item - user_end - 1);
}

bool InAnyOf(const std::string& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (SameName(folder, name)) return true;
  }
  return false;
}

MoveOutcome Gone(const journal::VerdictRecord& record) {
  return {"gone", "The message is no longer in " + record.mailbox + " (deleted, or moved to another mailbox)."};
}

MoveOutcome Already(const std::string& where) { return {"already", "The message is already in " + where + "."}; }

MoveOutcome Failed(const std::string& why) { return {"failed", "The message was not moved: " + why}; }

}  // namespace

const char* MoveTargetName(MoveTarget target) { return target == MoveTarget::kInbox ? "to_inbox" : "to_junk"; }

std::vector<std::string> JunkFolderNames(cli::Session& session) {
  const auto value =
      hosting::QueryValue(session.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kSettingsKey, "UseJunkMailFolder");
  std::vector<std::string> names;
  if (!value) return names;
  const std::string text = hosting::DisplayText(*value);
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string name = TrimmedBlanks(text.substr(start, end - start));
    if (!name.empty()) names.push_back(name);
    start = end + 1;
  }
  return names;
}

MoveOutcome MoveInStore(cli::Session& session, const journal::VerdictRecord& record, MoveTarget target) {
  try {
    MailStore& store = session.Store();
    const cli::MailboxAddress mailbox = cli::RequireMailbox(store, cli::ParseMailboxAddress(record.mailbox));
    // Where the message counts as there already, and where it goes: for the
    // junk, the first junk folder the mailbox has, as the filter files into it.
    const std::vector<std::string> targets =
        target == MoveTarget::kInbox ? std::vector<std::string>{"Inbox"} : JunkFolderNames(session);
    std::string destination;
    for (const std::string& name : targets) {
      try {
        cli::FolderOfMailbox(store, mailbox, name, /*must_exist=*/true);
        destination = name;
        break;
      } catch (const std::exception&) {
      }
    }
    if (destination.empty()) {
      return Failed(record.mailbox + " has no " +
                    (target == MoveTarget::kInbox ? "Inbox." : "junk folder of those UseJunkMailFolder names."));
    }
    std::string source, already;
    for (const std::string& url : store.FindItemsByMessageId(record.message_id)) {
      if (!SameName(cli::MailboxOfUrl(url).Text(), mailbox.Text())) continue;
      if (InAnyOf(FolderPathOfItem(url), targets)) {
        if (already.empty()) already = FolderPathOfItem(url);
      } else if (source.empty()) {
        source = url;
      }
    }
    if (source.empty()) return already.empty() ? Gone(record) : Already(already);
    const std::string from = FolderPathOfItem(source);
    cli::MoveAsUser(session, source, destination);
    const std::optional<SaveVerdict>& verdict = session.LastVerdict();
    const bool corrected = verdict && verdict->decided_by == DecidedBy::kUser;
    return {"moved", "Moved from " + from + " to " + destination + " as " + record.mailbox + "'s own move." +
                         (corrected ? " The filter took it as a correction and relearned the message." : "")};
  } catch (const std::exception& error) {
    return Failed(error.what());
  }
}

MoveOutcome MoveWithDoveadm(const std::vector<std::string>& doveadm, const journal::VerdictRecord& record,
                            MoveTarget target, const std::vector<std::string>& junk_folders) {
  if (doveadm.empty()) {
    return Failed(
        "it was delivered through Dovecot, and [serve] doveadm in varnolt.conf does not say how to run "
        "doveadm (like /usr/bin/doveadm).");
  }
  if (target == MoveTarget::kJunk && junk_folders.empty()) return Failed("UseJunkMailFolder names no junk folder.");
  const std::string destination = target == MoveTarget::kInbox ? "INBOX" : junk_folders.front();
  const std::vector<std::string> query = {"header", "Message-ID", "<" + record.message_id + ">"};
  auto run = [&doveadm](std::vector<std::string> args) {
    std::vector<std::string> argv = doveadm;
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, kDoveadmTimeoutMs);
  };
  auto failure = [](const std::string& what, const ProgramResult& result) {
    std::string why = result.errors;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
    return Failed(what + " failed" +
                  (result.exit_status > 0 ? " (exit status " + std::to_string(result.exit_status) + ")" : "") +
                  (why.empty() ? "." : ": " + why));
  };
  // Where the message lies now: one mailbox name a line, after the heading "mailbox".
  std::vector<std::string> fetch = {"-f", "tab", "fetch", "-u", record.mailbox, "mailbox"};
  fetch.insert(fetch.end(), query.begin(), query.end());
  const ProgramResult found = run(fetch);
  if (found.exit_status != 0) return failure("doveadm fetch", found);
  std::vector<std::string> sources;
  bool in_target = false;
  size_t line_start = found.output.find('\n');
  while (line_start != std::string::npos && line_start + 1 < found.output.size()) {
    const size_t end = found.output.find('\n', line_start + 1);
    std::string name =
        found.output.substr(line_start + 1, end == std::string::npos ? std::string::npos : end - line_start - 1);
    line_start = end;
    if (!name.empty() && name.back() == '\r') name.pop_back();
    if (name.empty()) continue;
    const bool there = target == MoveTarget::kInbox ? SameName(name, "INBOX") : InAnyOf(name, junk_folders);
    if (there) {
      in_target = true;
    } else if (!InAnyOf(name, sources)) {
      sources.push_back(name);
    }
  }
  if (sources.empty()) return in_target ? Already(destination) : Gone(record);
  for (const std::string& source : sources) {
    // The plugin takes this run's copies as the user's moves (doveadm moves by copying).
    std::vector<std::string> move = {
        "-o", "plugin/varnolt_user_moves=yes", "move", "-u", record.mailbox, destination, "mailbox", source};
    move.insert(move.end(), query.begin(), query.end());
    const ProgramResult moved = run(move);
    if (moved.exit_status != 0) return failure("doveadm move from " + source, moved);
  }
  std::string from;
  for (const std::string& source : sources) from += (from.empty() ? "" : ", ") + source;
  return {"moved", "Moved from " + from + " to " + destination + " through doveadm, as " + record.mailbox +
                       "'s own move: the plugin relearns it as it would after the user's."};
}

}  // namespace varnolt::dashboard
