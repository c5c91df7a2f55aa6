// The verdict journal a home's varnolt.conf names: its file, or the tables in
// the models' PostgreSQL that several servers share ([journal] store).
#pragma once

#include <memory>
#include <string>

#include "backends/journal/journal.h"
#include "hosting/home_config.h"

namespace varnolt::hosting {

// Makes the journal of a PostgreSQL [journal] store: the connection string
// and this server's name.
using PostgresJournalMaker = std::unique_ptr<journal::Journal> (*)(const std::string& conninfo,
                                                                   const std::string& server);
// The maker of a host linked with libpq (postgres_models.cc); the Dovecot
// plugin brings its own, as for the models.
std::unique_ptr<journal::Journal> LinkedPostgresJournal(const std::string& conninfo, const std::string& server);

// read_only: a reader (the dashboard) that never creates or changes the file
// and waits longer for a busy one. Throws ComError.
std::unique_ptr<journal::Journal> OpenJournal(const HomeConfig& config, bool read_only,
                                              PostgresJournalMaker postgres = LinkedPostgresJournal);

// Whether the journal can be there to read: its file exists, or it is in PostgreSQL.
bool JournalMayExist(const HomeConfig& config);

}  // namespace varnolt::hosting
