// The tables of the verdict journal in the models' PostgreSQL, shared by
// every server ([journal] store = postgresql):
//
//   varnolt_verdicts          one row per judged message, naming its server
//   varnolt_journal_hourly    per server and hour: verdicts, corrections, errors
//   varnolt_journal_daily     per server, day and mailbox: the same
//   varnolt_journal_counters  per server: the all-time counters
//   varnolt_dashboard_actions what administrators did from a dashboard, never pruned
//
// with an index ordered by time per search filter, as in the journal's file.
// Kept apart from the models' schema and its version: created (IF NOT
// EXISTS) by `varnolt db migrate` under the same advisory lock.
#pragma once

#include "backends/postgres/connection.h"

namespace varnolt::postgres {

// Creates the journal's tables and indexes that are missing, in one
// transaction. False when pg_trgm could not be created, and with it the
// subject's index: a search by subject then reads every record in its range.
bool MigrateJournalSchema(Connection& db);

// Throws kPgSchemaMissing when the database has no journal tables yet.
void CheckJournalSchema(Connection& db);

}  // namespace varnolt::postgres
