#include "backends/postgres/journal_schema.h"

#include "backends/postgres/pg_errors.h"

namespace varnolt::postgres {
namespace {

constexpr int64_t kMigrationLockKey = 0x56614e6f6c74;  // the models' migration's: one at a time

const char* const kJournalTables = R"sql(
CREATE TABLE IF NOT EXISTS varnolt_verdicts (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  server text NOT NULL, at bigint NOT NULL, mailbox text NOT NULL, message_id text NOT NULL,
  sender text NOT NULL, sender_domain text NOT NULL, size bigint NOT NULL, score double precision,
  verdict text NOT NULL, action text NOT NULL, learned boolean NOT NULL, decided_by text NOT NULL,
  host text NOT NULL, subject text NOT NULL, elapsed_us bigint NOT NULL, error boolean NOT NULL,
  counts_part double precision, linear_part double precision, linear_weight double precision, clues text,
  correction text NOT NULL DEFAULT '', corrected_at bigint NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_at ON varnolt_verdicts (at, id);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_server_at ON varnolt_verdicts (server, at, id);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_mailbox_at ON varnolt_verdicts (mailbox, at, id);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_message_id_at ON varnolt_verdicts (message_id, at, id);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_sender_at ON varnolt_verdicts (sender, at, id);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_sender_domain_at ON varnolt_verdicts (sender_domain, at, id);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_domain_at
  ON varnolt_verdicts ((substr(mailbox, strpos(mailbox, '@') + 1)), at, id);
CREATE INDEX IF NOT EXISTS varnolt_verdicts_corrected ON varnolt_verdicts (at, id) WHERE correction <> '';
CREATE TABLE IF NOT EXISTS varnolt_journal_hourly (
  server text NOT NULL, hour bigint NOT NULL,
  ham bigint NOT NULL DEFAULT 0, spam bigint NOT NULL DEFAULT 0, none bigint NOT NULL DEFAULT 0,
  to_junk bigint NOT NULL DEFAULT 0, from_junk bigint NOT NULL DEFAULT 0, errors bigint NOT NULL DEFAULT 0,
  PRIMARY KEY (server, hour)
);
CREATE TABLE IF NOT EXISTS varnolt_journal_daily (
  server text NOT NULL, day bigint NOT NULL, mailbox text NOT NULL,
  ham bigint NOT NULL DEFAULT 0, spam bigint NOT NULL DEFAULT 0, none bigint NOT NULL DEFAULT 0,
  to_junk bigint NOT NULL DEFAULT 0, from_junk bigint NOT NULL DEFAULT 0, errors bigint NOT NULL DEFAULT 0,
  PRIMARY KEY (server, day, mailbox)
);
CREATE TABLE IF NOT EXISTS varnolt_journal_counters (
  server text NOT NULL, name text NOT NULL, value double precision NOT NULL,
  PRIMARY KEY (server, name)
);
CREATE TABLE IF NOT EXISTS varnolt_dashboard_actions (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  server text NOT NULL, at bigint NOT NULL, who text NOT NULL, record_id bigint NOT NULL,
  action text NOT NULL, outcome text NOT NULL, detail text NOT NULL
);
CREATE INDEX IF NOT EXISTS varnolt_dashboard_actions_record ON varnolt_dashboard_actions (record_id, id);
)sql";

}  // namespace

bool MigrateJournalSchema(Connection& db) {
  Transaction transaction(db);
  db.Query("SELECT pg_advisory_xact_lock($1)", {Param(kMigrationLockKey)});
  db.Exec(kJournalTables);
  // The subject's trigrams need pg_trgm, which a role without the right to
  // create it (or a server without it) cannot have: the tables come first,
  // and the search reads along the time order meanwhile.
  db.Exec("SAVEPOINT trigrams");
  try {
    db.Exec("CREATE EXTENSION IF NOT EXISTS pg_trgm");
    db.Exec("RELEASE SAVEPOINT trigrams");
  } catch (const ComError& error) {
    if (error.number() != kPgQueryFailed || db.Broken()) throw;
    db.Exec("ROLLBACK TO SAVEPOINT trigrams");
  }
  const bool trigrams = db.Query("SELECT EXISTS (SELECT 1 FROM pg_extension WHERE extname = 'pg_trgm')").Bool(0, 0);
  // A LIKE on lower(subject) finds its part through this index.
  if (trigrams) {
    db.Exec("CREATE INDEX IF NOT EXISTS varnolt_verdicts_subject_trigrams ON varnolt_verdicts "
            "USING gin (lower(subject) gin_trgm_ops)");
  }
  transaction.Commit();
  return trigrams;
}

void CheckJournalSchema(Connection& db) {
  constexpr const char* kFact = "journal schema checked";
  if (db.Knows(kFact)) return;
  Result table = db.Query("SELECT to_regclass('varnolt_journal_counters') IS NOT NULL");
  if (!table.Bool(0, 0)) {
    throw PgError(kPgSchemaMissing, "database holds no verdict journal; create it first (varnolt db migrate)");
  }
  db.Remember(kFact);
}

}  // namespace varnolt::postgres
