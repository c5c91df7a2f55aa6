// What administrators did to messages from the dashboard (a release from the
// junk folder, a message sent there): one row per action in the verdict
// journal's file, beside the records, in a table of its own that the
// journal's readers never touch. Kept as long as the file; never pruned, as
// an audit trail should not age out with the verdicts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnolt::journal {

struct AuditedAction {
  int64_t time = 0;       // seconds since the epoch, UTC
  std::string who;        // the administrator's login name, "admin" when none was given
  int64_t record_id = 0;  // the verdict record acted on
  std::string action;     // "to_inbox" or "to_junk"
  std::string outcome;    // "moved", "already", "gone" or "failed"
  std::string detail;     // what the administrator was told
};

// Appends the action to the journal at the path, which must exist. Throws
// ComError on failure.
void AuditAction(const std::string& journal_path, const AuditedAction& action);

// The actions on one record, oldest first; none when the file has no such table yet.
std::vector<AuditedAction> AuditedActionsOf(const std::string& journal_path, int64_t record_id);

}  // namespace varnolt::journal
