// One connection to PostgreSQL through libpq: parameterized statements,
// prepared on first use and kept for the connection's life, with results in
// binary or text form; transactions that roll back unless committed. Every
// failure throws ComError (pg_errors.h) with the server's message.
//
// A connection serves one thread at a time; ConnectionPool (connection_pool.h)
// keeps them per process.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct pg_conn;
struct pg_result;

namespace varnolt::postgres {

// The form in which a statement's results come back.
enum class ResultFormat { kText = 0, kBinary = 1 };

// One statement parameter, sent in binary form (text as text).
class Param {
 public:
  static Param Null();
  Param(int64_t value);  // bigint
  Param(int32_t value);  // integer
  Param(int16_t value);  // smallint
  Param(bool value);     // boolean
  Param(std::string_view text);
  Param(const char* text) : Param(std::string_view(text)) {}
  static Param Bytes(std::string_view bytes);                  // bytea
  static Param BigintArray(const std::vector<int64_t>& values);  // bigint[]

  unsigned int type() const { return type_; }
  const std::string& value() const { return value_; }
  bool is_null() const { return null_; }
  int format() const { return format_; }

 private:
  Param(unsigned int type, std::string value, int format) : type_(type), value_(std::move(value)), format_(format) {}
  unsigned int type_ = 0;
  std::string value_;
  bool null_ = false;
  int format_ = 1;
};

// The rows of one statement. Getters check the column's type and throw
// kPgBadResult for a mismatch, a NULL where a value was asked for, or a row
// or column out of range.
class Result {
 public:
  explicit Result(pg_result* result);
  ~Result();
  Result(Result&& other) noexcept;
  Result& operator=(Result&& other) noexcept;
  Result(const Result&) = delete;

  int rows() const;
  int columns() const;
  // The number of rows an INSERT, UPDATE or DELETE touched.
  int64_t affected_rows() const;

  bool IsNull(int row, int column) const;
  // smallint, integer or bigint.
  int64_t Int(int row, int column) const;
  bool Bool(int row, int column) const;
  // Any column in text results; text columns in binary results.
  std::string Text(int row, int column) const;
  // bytea: the bytes themselves (decoded from the hex form of text results).
  std::string Bytes(int row, int column) const;

 private:
  std::string_view Raw(int row, int column) const;
  bool binary(int column) const;
  pg_result* result_;
};

// What a connection string that says nothing else gets: how long connecting
// may take, and how long a statement waits for a lock another session holds
// before failing with kPgConflict.
constexpr int kDefaultConnectTimeoutSeconds = 10;
constexpr int kDefaultLockTimeoutMs = 10000;

class Connection {
 public:
  // Connects with a libpq connection string ("host=/run/postgresql dbname=mail",
  // or a postgresql:// URI); its connect_timeout and options replace the
  // defaults above. Throws kPgUnavailable with libpq's message.
  static std::unique_ptr<Connection> Open(const std::string& conninfo);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one statement with $1... parameters. The SQL text and the
  // parameters' types name a statement prepared on this connection at its
  // first use, and kept. Throws the number PgErrorNumberFor gives.
  Result Query(std::string_view sql, const std::vector<Param>& params = {},
               ResultFormat format = ResultFormat::kBinary);
  // Runs SQL text without parameters, possibly several statements (schema
  // changes, transaction control).
  void Exec(const std::string& sql);

  // True inside a transaction block (also a failed one, until it ends).
  bool InTransaction() const;
  // True inside a transaction block that a failed statement aborted.
  bool InFailedTransaction() const;
  // True when the connection is lost: it cannot be used again.
  bool Broken() const;
  // The server process serving this connection.
  int ServerProcessId() const;

  // Facts a caller established once for this connection (say, that the
  // schema is one it knows), so that it need not ask the server again.
  bool Knows(const std::string& fact) const { return facts_.count(fact) != 0; }
  void Remember(const std::string& fact) { facts_.insert(fact); }

  // For a child process made by fork, which shares the connection's socket
  // with its parent: closes the child's copy without telling the server
  // goodbye (that would end the parent's session), then frees the rest.
  void AbandonAfterFork();

 private:
  explicit Connection(pg_conn* conn) : conn_(conn) {}
  [[noreturn]] void Fail(pg_result* result, const char* doing);
  const std::string& PreparedName(std::string_view sql, const std::vector<Param>& params);

  pg_conn* conn_;
  std::unordered_map<std::string, std::string> prepared_;  // parameter types and SQL text -> statement name
  std::set<std::string> facts_;
};

// BEGIN at construction; COMMIT by Commit; ROLLBACK when destroyed uncommitted
// (a failed rollback leaves the connection broken, which the pool then drops).
// Commit after a statement of the transaction failed commits nothing and
// throws kPgQueryFailed (the server would answer such a COMMIT with a silent
// rollback).
class Transaction {
 public:
  explicit Transaction(Connection& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit();

 private:
  Connection& db_;
  bool done_ = false;
};

}  // namespace varnolt::postgres
