// varnolt journal migrate: brings an older verdict journal file up to this
// version's format by building the indexes its searches use (in PostgreSQL:
// creates its tables, as varnolt db migrate does). Kept apart from
// the deliveries: on a journal of millions of records this takes a while,
// and a delivery that opens an older journal only adds its new columns (which
// costs nothing) and writes on, its searches slower until this has run.
#include <chrono>
#include <filesystem>
#include <iostream>

#include "backends/journal/verdict_journal.h"
#include "hosting/command_error.h"
#include "varnolt/commands.h"
#include "varnolt/session.h"

namespace varnolt::cli {

void AddJournalCommands(CLI::App& app, Session& session) {
  CLI::App* journal = app.add_subcommand("journal", "The verdict journal");
  journal->require_subcommand(1);
  CLI::App* migrate = journal->add_subcommand(
      "migrate", "Build the indexes an older journal lacks (deliveries meanwhile wait at most their busy timeout, "
                 "then go on without journaling)");
  migrate->callback([&session] {
    if (session.Config().journal_store == hosting::kPostgresModelStore) {
      MigrateModelDatabase(session.Config());  // the journal's tables with the models'
      std::cout << "verdict journal tables in PostgreSQL are current\n";
      return;
    }
    const std::string& path = session.Config().journal_path;
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
      std::cout << "no verdict journal at " << path << ": nothing to migrate\n";
      return;
    }
    const auto start = std::chrono::steady_clock::now();
    journal::VerdictJournal::Options options;
    options.build_indexes = true;
    options.busy_timeout_ms = 60000;  // a delivery's write is short: wait for it
    const int64_t format = journal::VerdictJournal::Open(path, options)->Format();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "verdict journal " << path << " at format " << format << " (" << seconds << " s)\n";
  });
}

}  // namespace varnolt::cli
