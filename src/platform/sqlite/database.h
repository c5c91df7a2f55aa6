// One way to run SQLite: a connection with prepared statements cached by
// their SQL text, every result code checked, reads that finish themselves,
// and write transactions that nest as savepoints. Each user (the mail store,
// the spam engine's model) supplies how a failure becomes its own ComError.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace varnolt::sqlite {

// Throws the user's ComError for a failed result code (the extended code and
// SQLite's message). Must throw; a handler that returns is followed by a
// ComError(E_FAIL) with the message.
using FailureHandler = std::function<void(int code, const std::string& message)>;

struct OpenOptions {
  bool create_if_missing = true;
  bool read_only = false;
  // How long a write waits for another connection's write to end.
  int busy_timeout_ms = 60000;
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
  // The single integer a query such as "PRAGMA user_version" answers; 0 without a row.
  int64_t QueryInt(const std::string& sql);
  // True while a transaction is open on this connection.
  bool InTransaction() { return sqlite3_get_autocommit(db_) == 0; }
  int64_t LastInsertId() { return sqlite3_last_insert_rowid(db_); }
  int Changes() { return sqlite3_changes(db_); }

  // Hands a failed result code to the user's handler; never returns.
  [[noreturn]] void Fail(int code);
  [[noreturn]] void Fail(int code, const std::string& message);

 private:
  friend class Statement;
  Database(sqlite3* db, FailureHandler on_failure) : db_(db), on_failure_(std::move(on_failure)) {}
  // A cached statement and whether a Statement currently uses it.
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool busy = false;
  };
  sqlite3* db_;
  FailureHandler on_failure_;
  std::map<std::string, Cached, std::less<>> cache_;  // keyed by the SQL text
};

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
