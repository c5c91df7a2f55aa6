// A thin layer over one SQLite connection: prepared statements (cached),
// write transactions that nest as savepoints, and errors as store ComErrors.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace varnolt::mailstore {

class Database;

// One use of a prepared statement; resets it when destroyed.
class Statement {
 public:
  Statement(Database& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1.
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, std::string_view bytes);
  Statement& BindNull(int index);

  // Advances to the next row; false when there is none.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();

  // Columns count from 0.
  bool IsNull(int column);
  int64_t Int(int column);
  std::string Text(int column);
  std::string Blob(int column);

 private:
  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool* busy_ = nullptr;  // the cache slot's flag; null when prepared for this use only
};

class Database {
 public:
  // Opens or creates the file ("?" never interpreted: plain paths and ":memory:").
  static std::unique_ptr<Database> Open(const std::string& path, bool create_if_missing);
  ~Database();

  sqlite3* handle() { return db_; }
  // Runs one or more statements without results.
  void Exec(const char* sql);
  // True while a transaction is open on this connection.
  bool InTransaction() { return sqlite3_get_autocommit(db_) == 0; }
  int64_t LastInsertId() { return sqlite3_last_insert_rowid(db_); }
  int Changes() { return sqlite3_changes(db_); }

  // Throws the store error for a failed SQLite result code.
  [[noreturn]] void Fail(int code);

 private:
  friend class Statement;
  explicit Database(sqlite3* db) : db_(db) {}
  // A cached statement and whether a Statement currently uses it.
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool busy = false;
  };
  sqlite3* db_;
  std::map<const char*, Cached> cache_;  // keyed by the SQL literal's address
};

// A write: BEGIN IMMEDIATE at the outermost level (waits for other writers
// up to the busy timeout), a savepoint inside an open transaction, so that a
// failed step inside a save event undoes only itself. Rolls back unless
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

}  // namespace varnolt::mailstore
