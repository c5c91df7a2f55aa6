// An administrator's move of a judged message from the dashboard, done as its
// user would do it, so that the filter relearns and whitelists exactly as
// after the user's own move: in the varnolt store through the filter (the
// path of `varnolt move`), in a Dovecot home through Dovecot's own
// administration (doveadm move), where the plugin sees the move.
#pragma once

#include <string>
#include <vector>

#include "backends/journal/verdict_journal.h"
#include "varnolt/session.h"

namespace varnolt::dashboard {

enum class MoveTarget { kInbox, kJunk };
const char* MoveTargetName(MoveTarget target);  // "to_inbox", "to_junk"

struct MoveOutcome {
  std::string outcome;  // "moved", "already", "gone" or "failed"
  std::string message;  // for the administrator, a sentence or two
};

// The junk folder names the filter's UseJunkMailFolder setting lists, in order.
std::vector<std::string> JunkFolderNames(cli::Session& session);

// The record's message, found in its mailbox by Message-ID, moved through the
// filter of the varnolt store. Never throws.
MoveOutcome MoveInStore(cli::Session& session, const journal::VerdictRecord& record, MoveTarget target);

// The same through doveadm: doveadm is its command line ("/usr/bin/doveadm",
// maybe with "-c FILE"). Never throws.
MoveOutcome MoveWithDoveadm(const std::vector<std::string>& doveadm, const journal::VerdictRecord& record,
                            MoveTarget target, const std::vector<std::string>& junk_folders);

}  // namespace varnolt::dashboard
