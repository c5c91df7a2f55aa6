#include "platform/mailstore/database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/mailstore/store_errors.h"

namespace varnolt::mailstore {
namespace {

// Long enough for another process to finish classifying inside its event.
constexpr int kBusyTimeoutMs = 60000;
constexpr mode_t kNewFileMode = 0660;

}  // namespace

Statement::Statement(Database& db, const char* sql) : db_(db) {
  auto& cached = db.cache_[sql];
  if (cached.stmt && !cached.busy) {
    stmt_ = cached.stmt;
    cached.busy = true;
    busy_ = &cached.busy;
    return;
  }
  // A statement already running (a nested use) gets a private copy.
  const bool cache = cached.stmt == nullptr;
  const int rc = sqlite3_prepare_v3(db.db_, sql, -1, cache ? SQLITE_PREPARE_PERSISTENT : 0, &stmt_, nullptr);
  if (rc != SQLITE_OK) db.Fail(rc);
  if (cache) {
    cached.stmt = stmt_;
    cached.busy = true;
    busy_ = &cached.busy;
  }
}

Statement::~Statement() {
  if (!busy_) {
    sqlite3_finalize(stmt_);
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  *busy_ = false;
}

Statement& Statement::Bind(int index, int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) db_.Fail(rc);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  const int rc = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) db_.Fail(rc);
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  // A zero-length blob, not NULL, for empty content.
  const int rc = bytes.empty() ? sqlite3_bind_zeroblob(stmt_, index, 0)
                               : sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_.Fail(rc);
  return *this;
}

Statement& Statement::BindNull(int index) {
  const int rc = sqlite3_bind_null(stmt_, index);
  if (rc != SQLITE_OK) db_.Fail(rc);
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.Fail(rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

bool Statement::IsNull(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

int64_t Statement::Int(int column) { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  const int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string(p, static_cast<size_t>(n)) : std::string();
}

std::string Statement::Blob(int column) {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
  const int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string(p, static_cast<size_t>(n)) : std::string();
}

std::unique_ptr<Database> Database::Open(const std::string& path, bool create_if_missing) {
  const bool memory = path == ":memory:";
  struct stat st {};
  if (!memory && !create_if_missing && ::stat(path.c_str(), &st) != 0) throw StoreError(kStoreNotFound);
  if (!memory && create_if_missing) {
    // Mail is private: the file is made here, as SQLite would make it world-readable;
    // its journal files take its mode. An existing file keeps the mode it has.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd >= 0) ::close(fd);
  }
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create_if_missing) flags |= SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw StoreDatabaseError(path + ": " + detail);
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return std::unique_ptr<Database>(new Database(db));
}

Database::~Database() {
  for (auto& [sql, cached] : cache_) sqlite3_finalize(cached.stmt);
  sqlite3_close(db_);
}

void Database::Exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return;
  const std::string detail = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  if ((rc & 0xFF) == SQLITE_BUSY) throw StoreError(kStoreBusy);
  if ((rc & 0xFF) == SQLITE_NOTADB) throw StoreError(kStoreNotAStore);
  if ((rc & 0xFF) == SQLITE_FULL) throw StoreError(kStoreFull);
  throw StoreDatabaseError(detail);
}

void Database::Fail(int code) {
  if ((code & 0xFF) == SQLITE_BUSY) throw StoreError(kStoreBusy);
  if ((code & 0xFF) == SQLITE_NOTADB) throw StoreError(kStoreNotAStore);
  if ((code & 0xFF) == SQLITE_FULL) throw StoreError(kStoreFull);
  throw StoreDatabaseError(sqlite3_errmsg(db_));
}

WriteTransaction::WriteTransaction(Database& db) : db_(db), nested_(db.InTransaction()) {
  db_.Exec(nested_ ? "SAVEPOINT store_write" : "BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
  if (done_) return;
  try {
    if (nested_) {
      db_.Exec("ROLLBACK TO store_write; RELEASE store_write");
    } else if (db_.InTransaction()) {
      db_.Exec("ROLLBACK");
    }
  } catch (...) {
    // Nothing more can be done here; SQLite rolls back on its own when the connection closes.
  }
}

void WriteTransaction::Commit() {
  db_.Exec(nested_ ? "RELEASE store_write" : "COMMIT");
  done_ = true;
}

}  // namespace varnolt::mailstore
