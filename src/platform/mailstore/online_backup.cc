#include "platform/mailstore/online_backup.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "platform/mailstore/store_errors.h"

namespace varnolt {
namespace {

constexpr char kSqliteHeader[] = "SQLite format 3";  // with its NUL: 16 bytes
constexpr int kBusyTimeoutMs = 60000;

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;

DatabaseHandle OpenDatabase(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  DatabaseHandle handle(db);
  if (rc != SQLITE_OK) {
    throw StoreDatabaseError(path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return handle;
}

void CopyPages(sqlite3* from, sqlite3* to, const std::string& source, const std::string& destination) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) throw StoreDatabaseError(destination + ": " + sqlite3_errmsg(to));
  int rc = SQLITE_OK;
  // All pages in one step, inside one read transaction: copying in smaller
  // steps restarts from the first page whenever another process writes in
  // between, which on a busy store may never end. In write-ahead-log mode
  // (the store) writers go on meanwhile; a model's writer waits its busy timeout.
  do {
    rc = sqlite3_backup_step(backup, -1);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(20);
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    throw StoreDatabaseError(source + " -> " + destination + ": " + sqlite3_errstr(rc));
  }
}

}  // namespace

bool IsSqliteDatabase(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char header[sizeof kSqliteHeader] = {};
  return in.read(header, sizeof header) && std::memcmp(header, kSqliteHeader, sizeof header) == 0;
}

void CopyDatabaseOnline(const std::string& source, const std::string& destination) {
  if (access(destination.c_str(), F_OK) == 0) throw StoreDatabaseError(destination + ": already exists");
  try {
    // Read-write without create: a live WAL database needs its shared-memory file.
    DatabaseHandle from = OpenDatabase(source, SQLITE_OPEN_READWRITE);
    DatabaseHandle to = OpenDatabase(destination, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    CopyPages(from.get(), to.get(), source, destination);
  } catch (...) {
    unlink(destination.c_str());
    unlink((destination + "-journal").c_str());
    throw;
  }
}

}  // namespace varnolt
