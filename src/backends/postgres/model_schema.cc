#include "backends/postgres/model_schema.h"

#include <string>

#include "backends/postgres/pg_errors.h"

namespace varnolt::postgres {
namespace {

// Any number of our own, the same in every process that migrates.
constexpr int64_t kMigrationLockKey = 0x56614e6f6c74;  // "VaNolt"

const char* const kVersion1 = R"sql(
CREATE TABLE varnolt_models (
  id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  kind smallint NOT NULL CHECK (kind IN (1, 2)),
  name text NOT NULL,
  ham integer NOT NULL DEFAULT 0 CHECK (ham >= 0),
  spam integer NOT NULL DEFAULT 0 CHECK (spam >= 0),
  UNIQUE (kind, name)
);
-- Room on each page for the new version of an updated row: counts change in place (HOT updates).
CREATE TABLE varnolt_tokens (
  model integer NOT NULL,
  token bigint NOT NULL,
  ham integer NOT NULL CHECK (ham >= 0),
  spam integer NOT NULL CHECK (spam >= 0),
  PRIMARY KEY (model, token)
) WITH (fillfactor = 90);
CREATE TABLE varnolt_messages (
  model integer NOT NULL,
  digest bytea NOT NULL,
  spam boolean NOT NULL,
  automatic boolean NOT NULL,
  PRIMARY KEY (model, digest)
);
)sql";

// Each learned message's key record (the engine's linear model refits from
// them), and the last fit with the number of changes since.
const char* const kVersion2 = R"sql(
ALTER TABLE varnolt_messages ADD COLUMN keys bytea;
ALTER TABLE varnolt_models ADD COLUMN fit_changes integer NOT NULL DEFAULT 0;
CREATE TABLE varnolt_fits (
  model integer PRIMARY KEY,
  fingerprint bigint NOT NULL,
  data bytea NOT NULL
);
)sql";

// The messages each user corrected, with their key records; users' lessons
// that wait for others to agree before they teach the domain; the key
// records' ages (varnolt_models.record_seq numbers a model's records), so
// that only a model's newest keep theirs.
const char* const kVersion3 = R"sql(
CREATE TABLE varnolt_corrections (
  model integer NOT NULL,
  digest bytea NOT NULL,
  keys bytea NOT NULL,
  PRIMARY KEY (model, digest)
);
CREATE TABLE varnolt_pending (
  model integer NOT NULL,
  seq bigint GENERATED ALWAYS AS IDENTITY,
  username text NOT NULL,
  digest bytea NOT NULL,
  spam boolean NOT NULL,
  keys bytea NOT NULL,
  tokens bytea NOT NULL,
  PRIMARY KEY (model, username, digest)
);
CREATE INDEX varnolt_pending_age ON varnolt_pending (model, seq);
ALTER TABLE varnolt_messages ADD COLUMN seq bigint;
ALTER TABLE varnolt_models ADD COLUMN record_seq bigint NOT NULL DEFAULT 0;
CREATE INDEX varnolt_messages_age ON varnolt_messages (model, seq) WHERE keys IS NOT NULL;
)sql";

const char* const kVersionTable =
    "CREATE TABLE IF NOT EXISTS varnolt_schema (one boolean PRIMARY KEY DEFAULT true CHECK (one), "
    "version integer NOT NULL)";

}  // namespace

const std::vector<SchemaStep>& ModelSchemaSteps() {
  static const std::vector<SchemaStep> steps = {{1, kVersion1}, {2, kVersion2}, {3, kVersion3}};
  return steps;
}

int SchemaVersion(Connection& db) {
  Result table = db.Query("SELECT to_regclass('varnolt_schema') IS NOT NULL");
  if (!table.Bool(0, 0)) return 0;
  Result version = db.Query("SELECT version FROM varnolt_schema");
  return version.rows() == 0 ? 0 : static_cast<int>(version.Int(0, 0));
}

int MigrateSchema(Connection& db, const std::vector<SchemaStep>& steps) {
  const int newest = steps.empty() ? 0 : steps.back().version;
  Transaction transaction(db);
  db.Query("SELECT pg_advisory_xact_lock($1)", {Param(kMigrationLockKey)});
  db.Exec(kVersionTable);
  const int before = SchemaVersion(db);
  if (before > newest) {
    throw PgError(kPgSchemaNewer, "database holds model schema version " + std::to_string(before) +
                                      ", newer than this program's " + std::to_string(newest));
  }
  for (const SchemaStep& step : steps) {
    if (step.version > before) db.Exec(step.sql);
  }
  if (before == 0) {
    db.Query("INSERT INTO varnolt_schema(version) VALUES ($1)", {Param(int32_t{newest})});
  } else {
    db.Query("UPDATE varnolt_schema SET version = $1", {Param(int32_t{newest})});
  }
  transaction.Commit();
  return before;
}

void CheckModelSchema(Connection& db) {
  constexpr const char* kFact = "model schema checked";
  if (db.Knows(kFact)) return;
  const int version = SchemaVersion(db);
  if (version > kModelSchemaVersion) {
    throw PgError(kPgSchemaNewer, "database holds model schema version " + std::to_string(version) +
                                      ", newer than this program's " + std::to_string(kModelSchemaVersion));
  }
  if (version < kModelSchemaVersion) {
    throw PgError(kPgSchemaMissing, version == 0 ? "database holds no VarnoltFilter model schema; create it first"
                                                 : "database holds model schema version " + std::to_string(version) +
                                                       "; upgrade it first");
  }
  db.Remember(kFact);
}

}  // namespace varnolt::postgres
