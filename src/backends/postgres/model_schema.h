// The tables that hold users' and domains' spam models in PostgreSQL, and
// their versions. Version 1:
//
//   varnolt_schema    one row: the schema's version
//   varnolt_models    one row per model: its kind (1 a user's, 2 a domain's),
//                     its name, and the numbers of HAM and SPAM messages learned
//   varnolt_tokens    per model and token: how many HAM and SPAM messages held it
//                     (a row only while one of them is above 0)
//   varnolt_messages  per model and learned message: its digest and class
//
// Version 2: varnolt_messages.keys, each message's key record (NULL for
// messages learned before); varnolt_fits, per model the engine's last linear
// fit (its fingerprint and bytes), and varnolt_models.fit_changes, the
// messages learned or moved since.
//
// Version 3: varnolt_pending, per domain's model the users' lessons that wait
// until enough users agree (one per user and message, seq ordering them by age);
// varnolt_messages.seq, each key record's number in its model
// (varnolt_models.record_seq the last given), so that the newest keep theirs.
//
// Tokens and messages refer to their model by id without a foreign key: a
// key would cost a check per token row on every learned message, and rows
// are only ever removed with their model's (ModelStore::Reset).
#pragma once

#include <vector>

#include "backends/postgres/connection.h"

namespace varnolt::postgres {

constexpr int kModelSchemaVersion = 3;

// One step of the schema: SQL that takes the previous version to this one.
struct SchemaStep {
  int version;
  const char* sql;
};

// The steps from an empty database to kModelSchemaVersion.
const std::vector<SchemaStep>& ModelSchemaSteps();

// Creates the schema or brings it up to the newest step, in one transaction
// (a failed step leaves the version before it), holding an advisory lock so
// that two servers migrating at once take turns. Returns the version found
// before. Throws kPgSchemaNewer when the database is of a later version than
// the last step, and leaves it unchanged.
int MigrateSchema(Connection& db, const std::vector<SchemaStep>& steps);
inline int MigrateModelSchema(Connection& db) { return MigrateSchema(db, ModelSchemaSteps()); }

// The database's schema version; 0 when it holds none.
int SchemaVersion(Connection& db);

// Throws kPgSchemaMissing for a database without the schema or of an older
// version (it needs the migration), kPgSchemaNewer for a newer one. Asks the
// server once per connection.
void CheckModelSchema(Connection& db);

}  // namespace varnolt::postgres
