#include "backends/postgres/pg_errors.h"

namespace varnolt::postgres {

ComError PgError(int32_t number, const std::string& what) { return ComError(number, "PostgreSQL " + what); }

int32_t PgErrorNumberFor(const std::string& sqlstate, bool connection_broken) {
  if (connection_broken) return kPgUnavailable;
  // Class 08: connection exceptions; 57P01-57P03: the server shuts down or is starting.
  if (sqlstate.starts_with("08") || sqlstate == "57P01" || sqlstate == "57P02" || sqlstate == "57P03") {
    return kPgUnavailable;
  }
  // Serialization failure, deadlock, lock not available, a statement or lock timeout.
  if (sqlstate == "40001" || sqlstate == "40P01" || sqlstate == "55P03" || sqlstate == "57014") return kPgConflict;
  return kPgQueryFailed;
}

}  // namespace varnolt::postgres
