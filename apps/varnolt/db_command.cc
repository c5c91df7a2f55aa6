// varnolt db migrate: creates or upgrades the PostgreSQL schema of the spam
// models ([engine] store = postgresql), as varnolt init does for a new home,
// and the verdict journal's tables beside them ([journal] store = postgresql).
#include <iostream>

#include "backends/postgres/connection.h"
#include "backends/postgres/journal_schema.h"
#include "backends/postgres/model_schema.h"
#include "hosting/home_config.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/session.h"

namespace varnolt::cli {

int MigrateModelDatabase(const hosting::HomeConfig& config) {
  if (config.engine_store != hosting::kPostgresModelStore) {
    throw hosting::CommandError("the models are files ([engine] store = " + config.engine_store +
                                "): there is no database to migrate");
  }
  auto db = postgres::Connection::Open(config.engine_postgresql);
  postgres::MigrateModelSchema(*db);
  if (!postgres::MigrateJournalSchema(*db)) {
    std::cerr << "warning: the extension pg_trgm could not be created (it needs the right to create it, or the "
                 "server's contrib package): the journal's search by subject will be slow; create it as a "
                 "superuser (CREATE EXTENSION pg_trgm) and run varnolt db migrate again\n";
  }
  return postgres::SchemaVersion(*db);
}

void AddDbCommands(CLI::App& app, Session& session) {
  CLI::App* db = app.add_subcommand("db", "The PostgreSQL database of the spam models ([engine] store = postgresql)");
  db->require_subcommand(1);
  CLI::App* migrate = db->add_subcommand("migrate", "Create the models' schema and the journal's tables, or bring them up to this program's version");
  migrate->callback([&session] {
    const int version = MigrateModelDatabase(session.Config());
    std::cout << "model schema at version " << version << '\n';
  });
}

}  // namespace varnolt::cli
