#include "backends/sqlite/database.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/com/com_error.h"

namespace varnolt::sqlite {
namespace {

// A peer holds a lock for the few milliseconds of one message: it is polled
// every half millisecond for the first second (SQLite's own waits grow to
// 100 ms steps, far longer than the lock is held), then every 10 ms, up to
// the connection's busy timeout in all.
int WaitForPeer(void* timeout_ms, int count) {
  constexpr int kFineSteps = 2000;
  const int waited_ms = count < kFineSteps ? count / 2 : kFineSteps / 2 + (count - kFineSteps) * 10;
  if (waited_ms >= *static_cast<const int*>(timeout_ms)) return 0;
  std::this_thread::sleep_for(count < kFineSteps ? std::chrono::microseconds(500) : std::chrono::milliseconds(10));
  return 1;
}

}  // namespace

Statement::Statement(Database& db, std::string_view sql) : db_(db) {
  auto found = db.cache_.find(sql);
  if (found == db.cache_.end()) found = db.cache_.emplace(std::string(sql), Database::Cached{}).first;
  Database::Cached& cached = found->second;
  if (cached.stmt && !cached.busy) {
    stmt_ = cached.stmt;
    cached.busy = true;
    busy_ = &cached.busy;
    return;
  }
  // A statement already running (a nested use) gets a private copy.
  const bool cache = cached.stmt == nullptr;
  const int rc = sqlite3_prepare_v3(db.db_, sql.data(), static_cast<int>(sql.size()),
                                    cache ? SQLITE_PREPARE_PERSISTENT : 0, &stmt_, nullptr);
  if (rc != SQLITE_OK) db.Fail(rc);
  if (!stmt_) db.Fail(SQLITE_MISUSE, "no statement in the SQL text");
  if (cache) {
    cached.stmt = stmt_;
    cached.busy = true;
    busy_ = &cached.busy;
  }
}

Statement::~Statement() {
  if (!busy_) {
    sqlite3_finalize(stmt_);  // its result repeats the last step's, which was reported then
    return;
  }
  Finish();
  *busy_ = false;
}

void Statement::Finish() {
  // Both report only what the last step already reported.
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
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

Statement& Statement::Bind(int index, double value) {
  const int rc = sqlite3_bind_double(stmt_, index, value);
  if (rc != SQLITE_OK) db_.Fail(rc);
  return *this;
}

Statement& Statement::BindBlobInPlace(int index, std::string_view bytes) {
  const int rc = bytes.empty() ? sqlite3_bind_zeroblob(stmt_, index, 0)
                               : sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_STATIC);
  if (rc != SQLITE_OK) db_.Fail(rc);
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
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
  if (rc == SQLITE_DONE) {
    sqlite3_reset(stmt_);  // keeps the bindings: Run may be called again with them
    return false;
  }
  db_.Fail(rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

bool Statement::IsNull(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

bool Statement::IsInteger(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_INTEGER; }

int64_t Statement::Int(int column) { return sqlite3_column_int64(stmt_, column); }

double Statement::Real(int column) { return sqlite3_column_double(stmt_, column); }

std::string Statement::Text(int column) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  const int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string(p, static_cast<size_t>(n)) : std::string();
}

std::string Statement::Blob(int column) { return std::string(BlobView(column)); }

std::string_view Statement::BlobView(int column) {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
  const int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string_view(p, static_cast<size_t>(n)) : std::string_view();
}

std::unique_ptr<Database> Database::Open(const std::string& path, const OpenOptions& options,
                                         FailureHandler on_failure) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_NOMUTEX | (options.read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  if (options.create_if_missing && !options.read_only) flags |= SQLITE_OPEN_CREATE;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_extended_result_codes(db, 1);
  if (rc != SQLITE_OK) {
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    const int code = db ? sqlite3_extended_errcode(db) : rc;
    const int system_error = db ? sqlite3_system_errno(db) : 0;
    sqlite3_close_v2(db);
    errno = system_error;
    on_failure(code, path + ": " + detail);
    throw ComError(E_FAIL, path + ": " + detail);
  }
  std::unique_ptr<Database> opened(new Database(db, path, options.busy_timeout_ms, std::move(on_failure)));
  opened->WaitForPeers(true);
  return opened;
}

void Database::WaitForPeers(bool wait) {
  // Only a misuse makes it fail, and it cannot be one here.
  sqlite3_busy_handler(db_, wait ? WaitForPeer : nullptr, wait ? &busy_timeout_ms_ : nullptr);
}

Database::~Database() {
  for (auto& [sql, cached] : cache_) sqlite3_finalize(cached.stmt);
  // close_v2: a statement a caller still holds keeps the connection until it is finalized.
  sqlite3_close_v2(db_);
}

void Database::Exec(const std::string& sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return;
  const std::string detail = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  Fail(rc, detail);
}

void Database::Run(std::string_view sql) { Statement(*this, sql).Run(); }

int64_t Database::QueryInt(const std::string& sql) {
  Statement statement(*this, sql);
  return statement.Step() ? statement.Int(0) : 0;
}

void Database::Fail(int code) { Fail(code, sqlite3_errmsg(db_)); }

void Database::Fail(int code, const std::string& message) {
  errno = sqlite3_system_errno(db_);
  on_failure_(code, message);
  throw ComError(E_FAIL, message);
}

void CopyDatabase(Database& from, Database& to) {
  sqlite3_backup* backup = sqlite3_backup_init(to.db_, "main", from.db_, "main");
  if (!backup) to.Fail(sqlite3_extended_errcode(to.db_), to.path_ + ": " + sqlite3_errmsg(to.db_));
  // All pages in one step, inside one read transaction: copying in smaller
  // steps restarts from the first page whenever another process writes in
  // between, which on a busy database may never end.
  int rc = SQLITE_OK;
  do {
    rc = sqlite3_backup_step(backup, -1);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(20);
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) to.Fail(rc, from.path_ + " -> " + to.path_ + ": " + sqlite3_errstr(rc));
}

WriteTransaction::WriteTransaction(Database& db) : db_(db), nested_(db.InTransaction()) {
  db_.Run(nested_ ? "SAVEPOINT write_step" : "BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
  if (done_) return;
  try {
    if (nested_) {
      db_.Exec("ROLLBACK TO write_step; RELEASE write_step");
    } else if (db_.InTransaction()) {
      db_.Exec("ROLLBACK");
    }
  } catch (...) {
    // Nothing more can be done here; SQLite rolls back on its own when the connection closes.
  }
}

void WriteTransaction::Commit() {
  db_.Run(nested_ ? "RELEASE write_step" : "COMMIT");
  done_ = true;
}

}  // namespace varnolt::sqlite
