// The PostgreSQL model store of the Dovecot host, in a module of its own
// (libvarnolt_dovecot_postgres.so beside the host library): only a home whose
// models live in PostgreSQL loads it, and libpq with it. Every other IMAP or
// LMTP process that runs the filter is spared loading libpq and the dozen
// libraries it needs (Kerberos, LDAP, TLS), a few milliseconds each time.
#pragma once

#include <memory>
#include <string>

#include "backends/journal/journal.h"
#include "engine/spam_model.h"

namespace varnolt::dovecot {

inline constexpr const char* kPostgresModuleFile = "libvarnolt_dovecot_postgres.so";
// The module's one entry point: a new backend the caller owns.
inline constexpr const char* kPostgresModuleEntry = "varnolt_postgres_models";
using PostgresModelsEntry = engine::ModelBackend* (*)(const char* conninfo);

// And the verdict journal's (journal.h), by its connection string and server name.
inline constexpr const char* kPostgresJournalEntry = "varnolt_postgres_journal";
using PostgresJournalEntry = journal::Journal* (*)(const char* conninfo, const char* server);

// hosting::PostgresJournalMaker over the module, loaded on the first call.
std::unique_ptr<journal::Journal> LoadedPostgresJournal(const std::string& conninfo, const std::string& server);

// hosting::PostgresModelsMaker over the module, loaded on the first call. Throws
// std::runtime_error naming the module when it cannot be loaded.
std::shared_ptr<engine::ModelBackend> LoadedPostgresModels(const std::string& conninfo);

}  // namespace varnolt::dovecot
