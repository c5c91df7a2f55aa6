// Apart from host_platform.cc so that a host that does not call it links
// neither the PostgreSQL store nor libpq.
#include "backends/journal/postgres_journal.h"
#include "engine/postgres_model_backend.h"
#include "hosting/host_platform.h"
#include "hosting/journal_opening.h"

namespace varnolt::hosting {

std::shared_ptr<engine::ModelBackend> LinkedPostgresModels(const std::string& conninfo) {
  return std::make_shared<engine::PostgresModelBackend>(conninfo);
}

std::unique_ptr<journal::Journal> LinkedPostgresJournal(const std::string& conninfo, const std::string& server) {
  return std::make_unique<journal::PostgresJournal>(conninfo, server);
}

}  // namespace varnolt::hosting
