// The audit trail in the journal's SQLite file: a table of its own beside the
// records (dashboard_actions) that the journal's readers never touch, made by
// the first action. The file's journal (verdict_journal.h) records through
// these, on a connection of their own, so that a reader such as the
// dashboard can still write its actions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backends/journal/audited_action.h"

namespace varnolt::journal {

// Appends the action to the journal at the path, which must exist. Throws
// ComError on failure.
void AuditAction(const std::string& journal_path, const AuditedAction& action);

// The actions on one record, oldest first; none when the file has no such table yet.
std::vector<AuditedAction> AuditedActionsOf(const std::string& journal_path, int64_t record_id);

}  // namespace varnolt::journal
