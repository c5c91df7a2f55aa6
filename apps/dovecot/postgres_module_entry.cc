// The entry point of libvarnolt_dovecot_postgres.so (postgres_module.h).
#include "backends/journal/postgres_journal.h"
#include "dovecot/postgres_module.h"
#include "engine/postgres_model_backend.h"

extern "C" __attribute__((visibility("default"))) varnolt::engine::ModelBackend* varnolt_postgres_models(
    const char* conninfo) {
  return new varnolt::engine::PostgresModelBackend(conninfo);
}

extern "C" __attribute__((visibility("default"))) varnolt::journal::Journal* varnolt_postgres_journal(const char* conninfo,
                                                                                                   const char* server) {
  return new varnolt::journal::PostgresJournal(conninfo, server);
}
