#include "hosting/journal_opening.h"

#include <filesystem>

#include "backends/journal/verdict_journal.h"

namespace varnolt::hosting {

std::unique_ptr<journal::Journal> OpenJournal(const HomeConfig& config, bool read_only,
                                              PostgresJournalMaker postgres) {
  if (config.journal_store == kPostgresModelStore) return postgres(config.engine_postgresql, config.journal_server);
  journal::VerdictJournal::Options options;
  if (read_only) {
    options.read_only = true;
    options.busy_timeout_ms = 2000;
  }
  return journal::VerdictJournal::Open(config.journal_path, options);
}

bool JournalMayExist(const HomeConfig& config) {
  if (config.journal_store == kPostgresModelStore) return true;
  std::error_code ignored;
  return std::filesystem::exists(config.journal_path, ignored);
}

}  // namespace varnolt::hosting
