// Failures of the PostgreSQL access, HRESULT-style, each a ComError whose
// description carries the server's (or libpq's) own message and, for a
// refused statement, its SQLSTATE. The number tells the caller what to do:
//
//   number       name                 meaning                                      caller
//   0x80047701   kPgUnavailable       cannot connect, or the connection broke      retry later; nothing is half-done
//   0x80047702   kPgQueryFailed       the server refused a statement               a fault: report it
//   0x80047703   kPgConflict          a lock or statement timeout, a deadlock,     retry the whole transaction
//                                     a serialization failure
//   0x80047704   kPgSchemaMissing     the database holds no model schema           create it (the schema migration)
//   0x80047705   kPgSchemaNewer       the schema is newer than this program        upgrade the program
//   0x80047706   kPgBadResult         a result of an unexpected type or shape      a fault: report it
//
// Descriptions never include the connection string, which may hold a password.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/com_error.h"

namespace varnolt::postgres {

enum PgErrorNumber : int32_t {
  kPgUnavailable = static_cast<int32_t>(0x80047701),
  kPgQueryFailed = static_cast<int32_t>(0x80047702),
  kPgConflict = static_cast<int32_t>(0x80047703),
  kPgSchemaMissing = static_cast<int32_t>(0x80047704),
  kPgSchemaNewer = static_cast<int32_t>(0x80047705),
  kPgBadResult = static_cast<int32_t>(0x80047706),
};

// "PostgreSQL " + what, e.g. PgError(kPgUnavailable, "cannot be reached (connection refused)").
ComError PgError(int32_t number, const std::string& what);

// The number for a statement's failure by its SQLSTATE (empty when libpq
// gave none, as when the connection broke) and whether the connection still works.
int32_t PgErrorNumberFor(const std::string& sqlstate, bool connection_broken);

}  // namespace varnolt::postgres
