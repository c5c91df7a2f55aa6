// The one way every SQLite file here is used (the mail store, the spam
// engine's models, the verdict journal, their online backups): a connection
// with prepared statements cached by their SQL text, every result code
// checked, one way of waiting for a busy peer, reads that finish themselves,
// and write transactions that nest as savepoints. Each user supplies how a
// failure becomes its own ComError.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace varnolt::sqlite {

// Throws the user's ComError for a failed result code (the extended code and
// SQLite's message; errno holds the system's error behind it, 0 when there
// is none). Must throw; a handler that returns is followed by a
// ComError(E_FAIL) with the message.
using FailureHandler = std::function<void(int code, const std::string& message)>;

// How long a statement waits for another connection's lock before it fails
// busy. A peer holds a lock for one message's work (milliseconds) or one
// step of a backup; one that keeps it a minute is stuck.
constexpr int kBusyTimeoutMs = 60000;

struct OpenOptions {
  bool create_if_missing = true;
  bool read_only = false;
  // Only a writer that must never hold anything up waits less.
  int busy_timeout_ms = kBusyTimeoutMs;
};

class Database;

// One use of a prepared statement. It finishes itself: when Step finds no
// more rows, and when destroyed, it is reset and its bindings cleared, so a
// partial read never holds a read transaction open past its scope.
class Statement {
 public:
  // The statement for this SQL text on this connection, prepared on its first
  // use and kept; a statement already in use (a nested use) gets a private copy.
  Statement(Database& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1.
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, double value);
  // A zero-length blob, not NULL, for empty bytes.
  Statement& BindBlob(int index, std::string_view bytes);
  // The same without SQLite's own copy, for large values: bytes must stay in
  // place for as long as the statement may still run.
  Statement& BindBlobInPlace(int index, std::string_view bytes);
  Statement& BindNull(int index);

  // Advances to the next row; false when there is none (the statement is finished then).
  bool Step();
  // Runs a statement to its end, ignoring any rows.
  void Run();

  // Columns of the current row count from 0.
  bool IsNull(int column);
  // The column holds a whole number (not text, a real or NULL that would read as one).
  bool IsInteger(int column);
  int64_t Int(int column);
  double Real(int column);
  std::string Text(int column);
  std::string Blob(int column);
  // The column's bytes without a copy; valid until the next Step or the statement's end.
  std::string_view BlobView(int column);

 private:
  void Finish();

  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool* busy_ = nullptr;  // the cache slot's flag; null when prepared for this use only
};

class Database {
 public:
  // Opens or creates the file ("?" is never interpreted: plain paths and
  // ":memory:"). A failure goes to on_failure with the path in the message.
  static std::unique_ptr<Database> Open(const std::string& path, const OpenOptions& options,
                                        FailureHandler on_failure);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs one or more statements without results.
  void Exec(const std::string& sql);
  // Runs one statement without results, prepared on its first use and kept
  // (as Statement keeps it): for BEGIN and COMMIT, which every delivery runs
  // several times and which would otherwise be parsed again each time.
  void Run(std::string_view sql);
  // The single integer a query such as "PRAGMA user_version" answers; 0 without a row.
  int64_t QueryInt(const std::string& sql);
  // True while a transaction is open on this connection.
  bool InTransaction() { return sqlite3_get_autocommit(db_) == 0; }
  int64_t LastInsertId() { return sqlite3_last_insert_rowid(db_); }
  int Changes() { return sqlite3_changes(db_); }
  // The path the database was opened at, for messages.
  const std::string& path() const { return path_; }
  // A peer's lock is waited for (up to the busy timeout, polled finely at
  // first: locks are held for milliseconds), or, while false, fails at once.
  void WaitForPeers(bool wait);

  // Closing leaves the write-ahead log and its index as they are: no
  // checkpoint, no deletion. For a connection whose file was replaced or
  // deleted under it, since those side files are found by name and now
  // belong to the file at the path.
  void KeepSideFilesOnClose() { sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr); }

  // Hands a failed result code to the user's handler; never returns.
  [[noreturn]] void Fail(int code);
  [[noreturn]] void Fail(int code, const std::string& message);

 private:
  friend class Statement;
  friend void CopyDatabase(Database& from, Database& to);
  Database(sqlite3* db, std::string path, int busy_timeout_ms, FailureHandler on_failure)
      : db_(db), path_(std::move(path)), busy_timeout_ms_(busy_timeout_ms), on_failure_(std::move(on_failure)) {}
  // A cached statement and whether a Statement currently uses it.
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool busy = false;
  };
  sqlite3* db_;
  std::string path_;
  int busy_timeout_ms_;
  FailureHandler on_failure_;
  std::map<std::string, Cached, std::less<>> cache_;  // keyed by the SQL text
};

// Copies every page of from into to, as one committed state of from, while
// other connections go on using it (in write-ahead-log mode writers go on
// meanwhile; otherwise a writer waits its busy timeout). A failure goes to
// to's handler, naming both paths.
void CopyDatabase(Database& from, Database& to);

// A write: BEGIN IMMEDIATE at the outermost level (waits for other writers
// up to the busy timeout), a savepoint inside an open transaction, so that a
// failed step inside an outer write undoes only itself. Rolls back unless
// committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(Database& db);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  void Commit();

 private:
  Database& db_;
  bool nested_;
  bool done_ = false;
};

}  // namespace varnolt::sqlite
