#include "backends/journal/action_audit.h"

#include "backends/sqlite/database.h"
#include "platform/com/com_error.h"

namespace varnolt::journal {
namespace {

constexpr const char* kAuditSchema =
    "CREATE TABLE IF NOT EXISTS dashboard_actions(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, who TEXT NOT NULL, "
    "record_id INTEGER NOT NULL, action TEXT NOT NULL, outcome TEXT NOT NULL, detail TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS dashboard_actions_record ON dashboard_actions(record_id)";

[[noreturn]] void AuditFailed(int code, const std::string& message) {
  throw ComError(E_FAIL, "dashboard audit: " + message + " (SQLite " + std::to_string(code) + ")");
}

std::unique_ptr<sqlite::Database> OpenAudit(const std::string& journal_path, bool read_only) {
  sqlite::OpenOptions options;
  options.create_if_missing = false;
  options.read_only = read_only;
  // An administrator's click may wait for a delivery; a delivery never waits long for it.
  options.busy_timeout_ms = 5000;
  return sqlite::Database::Open(journal_path, options, AuditFailed);
}

}  // namespace

void AuditAction(const std::string& journal_path, const AuditedAction& action) {
  std::unique_ptr<sqlite::Database> db = OpenAudit(journal_path, false);
  sqlite::WriteTransaction write(*db);
  db->Exec(kAuditSchema);
  sqlite::Statement insert(*db,
                           "INSERT INTO dashboard_actions(at, who, record_id, action, outcome, detail) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  insert.Bind(1, action.time)
      .Bind(2, std::string_view(action.who))
      .Bind(3, action.record_id)
      .Bind(4, std::string_view(action.action))
      .Bind(5, std::string_view(action.outcome))
      .Bind(6, std::string_view(action.detail));
  insert.Run();
  write.Commit();
}

std::vector<AuditedAction> AuditedActionsOf(const std::string& journal_path, int64_t record_id) {
  std::unique_ptr<sqlite::Database> db = OpenAudit(journal_path, true);
  std::vector<AuditedAction> actions;
  if (db->QueryInt("SELECT COUNT(*) FROM sqlite_master WHERE name = 'dashboard_actions'") == 0) return actions;
  sqlite::Statement rows(*db,
                         "SELECT at, who, record_id, action, outcome, detail FROM dashboard_actions "
                         "WHERE record_id = ?1 ORDER BY id");
  rows.Bind(1, record_id);
  while (rows.Step()) {
    actions.push_back({rows.Int(0), rows.Text(1), rows.Int(2), rows.Text(3), rows.Text(4), rows.Text(5)});
  }
  return actions;
}

}  // namespace varnolt::journal
