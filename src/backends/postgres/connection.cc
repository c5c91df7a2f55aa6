#include "backends/postgres/connection.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <charconv>
#include <utility>

#include "backends/postgres/conninfo_secrets.h"
#include "backends/postgres/pg_errors.h"

namespace varnolt::postgres {
namespace {

// Type ids of the built-in types (pg_type.oid; fixed since PostgreSQL 7).
constexpr Oid kBoolOid = 16;
constexpr Oid kByteaOid = 17;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kTextOid = 25;
constexpr Oid kInt8ArrayOid = 1016;

// Binary parameters and results are big-endian.
template <typename T>
void PutBigEndian(std::string& out, T value) {
  const auto bits = static_cast<std::make_unsigned_t<T>>(value);
  for (int shift = 8 * (static_cast<int>(sizeof(T)) - 1); shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((bits >> shift) & 0xFF));
  }
}

template <typename T>
std::string BigEndian(T value) {
  std::string out;
  PutBigEndian(out, value);
  return out;
}

int64_t ReadBigEndian(std::string_view bytes) {
  uint64_t value = 0;
  for (char c : bytes) value = value << 8 | static_cast<unsigned char>(c);
  // Sign-extend the narrower integers.
  const int bits = 8 * static_cast<int>(bytes.size());
  if (bits < 64 && (value >> (bits - 1)) != 0) value |= ~uint64_t{0} << bits;
  return static_cast<int64_t>(value);
}

std::string Trimmed(const char* text) {
  std::string s = text != nullptr ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Param Param::Null() {
  Param p(0, "", 0);
  p.null_ = true;
  return p;
}
Param::Param(int64_t value) : Param(kInt8Oid, BigEndian(value), 1) {}
Param::Param(int32_t value) : Param(kInt4Oid, BigEndian(value), 1) {}
Param::Param(int16_t value) : Param(kInt2Oid, BigEndian(value), 1) {}
Param::Param(bool value) : Param(kBoolOid, std::string(1, value ? '\1' : '\0'), 1) {}
Param::Param(std::string_view text) : Param(kTextOid, std::string(text), 1) {}
Param Param::Bytes(std::string_view bytes) { return Param(kByteaOid, std::string(bytes), 1); }

Param Param::BigintArray(const std::vector<int64_t>& values) {
  // One dimension, no NULLs, element type bigint; then (length, value) per element.
  std::string out;
  out.reserve(20 + 12 * values.size());
  PutBigEndian(out, int32_t{1});
  PutBigEndian(out, int32_t{0});
  PutBigEndian(out, static_cast<int32_t>(kInt8Oid));
  PutBigEndian(out, static_cast<int32_t>(values.size()));
  PutBigEndian(out, int32_t{1});  // lower bound
  for (int64_t v : values) {
    PutBigEndian(out, int32_t{8});
    PutBigEndian(out, v);
  }
  return Param(kInt8ArrayOid, std::move(out), 1);
}

Result::Result(pg_result* result) : result_(result) {}
Result::~Result() {
  if (result_ != nullptr) PQclear(result_);
}
Result::Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
Result& Result::operator=(Result&& other) noexcept {
  std::swap(result_, other.result_);
  return *this;
}

int Result::rows() const { return PQntuples(result_); }
int Result::columns() const { return PQnfields(result_); }

int64_t Result::affected_rows() const {
  const char* n = PQcmdTuples(result_);
  int64_t value = 0;
  if (n != nullptr) std::from_chars(n, n + std::char_traits<char>::length(n), value);
  return value;
}

bool Result::binary(int column) const { return PQfformat(result_, column) == 1; }

std::string_view Result::Raw(int row, int column) const {
  if (row < 0 || row >= rows() || column < 0 || column >= columns()) {
    throw PgError(kPgBadResult, "result has no row " + std::to_string(row) + ", column " + std::to_string(column));
  }
  if (PQgetisnull(result_, row, column)) {
    throw PgError(kPgBadResult, std::string("result column ") + PQfname(result_, column) + " is NULL");
  }
  return {PQgetvalue(result_, row, column), static_cast<size_t>(PQgetlength(result_, row, column))};
}

bool Result::IsNull(int row, int column) const {
  if (row < 0 || row >= rows() || column < 0 || column >= columns()) Raw(row, column);  // throws
  return PQgetisnull(result_, row, column) != 0;
}

int64_t Result::Int(int row, int column) const {
  const std::string_view raw = Raw(row, column);
  const Oid type = PQftype(result_, column);
  if (type != kInt2Oid && type != kInt4Oid && type != kInt8Oid) {
    throw PgError(kPgBadResult, std::string("result column ") + PQfname(result_, column) + " is not an integer");
  }
  if (binary(column)) return ReadBigEndian(raw);
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), value);
  if (ec != std::errc() || end != raw.data() + raw.size()) {
    throw PgError(kPgBadResult, "result value '" + std::string(raw) + "' is not an integer");
  }
  return value;
}

bool Result::Bool(int row, int column) const {
  const std::string_view raw = Raw(row, column);
  if (PQftype(result_, column) != kBoolOid) {
    throw PgError(kPgBadResult, std::string("result column ") + PQfname(result_, column) + " is not a boolean");
  }
  return binary(column) ? raw == std::string_view("\1", 1) : raw == "t";
}

std::string Result::Text(int row, int column) const {
  const std::string_view raw = Raw(row, column);
  if (binary(column) && PQftype(result_, column) != kTextOid) {
    throw PgError(kPgBadResult, std::string("result column ") + PQfname(result_, column) + " is not text");
  }
  return std::string(raw);
}

std::string Result::Bytes(int row, int column) const {
  const std::string_view raw = Raw(row, column);
  if (PQftype(result_, column) != kByteaOid) {
    throw PgError(kPgBadResult, std::string("result column ") + PQfname(result_, column) + " is not bytea");
  }
  if (binary(column)) return std::string(raw);
  // Text results give bytea in hex form: \x0102...
  if (!raw.starts_with("\\x") || raw.size() % 2 != 0) throw PgError(kPgBadResult, "bytea value is not in hex form");
  std::string bytes;
  for (size_t i = 2; i < raw.size(); i += 2) {
    const int high = HexDigit(raw[i]), low = HexDigit(raw[i + 1]);
    if (high < 0 || low < 0) throw PgError(kPgBadResult, "bytea value is not in hex form");
    bytes.push_back(static_cast<char>(high << 4 | low));
  }
  return bytes;
}

std::unique_ptr<Connection> Connection::Open(const std::string& conninfo) {
  // Read here first: libpq's own complaint about a malformed string quotes
  // pieces of it, the password among them.
  const std::string malformed = MalformedConnectionString(conninfo);
  if (!malformed.empty()) throw PgError(kPgUnavailable, "connection string is malformed (" + malformed + ")");
  // Defaults for what the connection string leaves unsaid (its own settings
  // come later and win): a server that does not answer, or a lock that
  // another server keeps, must not hold a delivery for minutes.
  const char* const keywords[] = {"connect_timeout", "options", "dbname", nullptr};
  const std::string options = "-c lock_timeout=" + std::to_string(kDefaultLockTimeoutMs);
  const std::string connect_timeout = std::to_string(kDefaultConnectTimeoutSeconds);
  const char* const values[] = {connect_timeout.c_str(), options.c_str(), conninfo.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
  if (conn == nullptr) throw PgError(kPgUnavailable, "cannot be reached (out of memory)");
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string message = WithoutPassword(Trimmed(PQerrorMessage(conn)), conninfo);
    PQfinish(conn);
    throw PgError(kPgUnavailable, "cannot be reached (" + message + ")");
  }
  // Notices (a table that already exists, say) are not failures, and a mail
  // server's process has no terminal to print them on.
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  return std::unique_ptr<Connection>(new Connection(conn));
}

Connection::~Connection() {
  if (conn_ != nullptr) PQfinish(conn_);
}

void Connection::AbandonAfterFork() {
  if (conn_ == nullptr) return;
  ::close(PQsocket(conn_));  // the parent's session goes on over its own copy
  PQfinish(conn_);           // its goodbye now fails on the closed socket; memory is freed
  conn_ = nullptr;
}

bool Connection::InTransaction() const {
  const PGTransactionStatusType status = PQtransactionStatus(conn_);
  return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

bool Connection::InFailedTransaction() const { return PQtransactionStatus(conn_) == PQTRANS_INERROR; }

bool Connection::Broken() const { return conn_ == nullptr || PQstatus(conn_) == CONNECTION_BAD; }

int Connection::ServerProcessId() const { return PQbackendPID(conn_); }

void Connection::Fail(PGresult* result, const char* doing) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string sqlstate = state != nullptr ? state : "";
  const char* primary = result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = primary != nullptr ? primary : Trimmed(PQerrorMessage(conn_));
  if (result != nullptr) PQclear(result);
  const int32_t number = PgErrorNumberFor(sqlstate, Broken());
  if (!sqlstate.empty()) message += " [" + sqlstate + "]";
  if (number == kPgUnavailable) throw PgError(number, "connection lost while " + std::string(doing) + " (" + message + ")");
  throw PgError(number, "failed while " + std::string(doing) + " (" + message + ")");
}

const std::string& Connection::PreparedName(std::string_view sql, const std::vector<Param>& params) {
  // Keyed by the parameters' types too: binary values are read as the types
  // the statement was prepared with.
  std::vector<Oid> types;
  types.reserve(params.size());
  std::string key;
  for (const Param& p : params) {
    types.push_back(p.type());
    key += std::to_string(p.type()) + ",";
  }
  key += ";";
  key += sql;
  const auto found = prepared_.find(key);
  if (found != prepared_.end()) return found->second;
  std::string name = "varnolt_" + std::to_string(prepared_.size() + 1);
  PGresult* result = PQprepare(conn_, name.c_str(), std::string(sql).c_str(), static_cast<int>(params.size()),
                               types.data());
  if (result == nullptr || PQresultStatus(result) != PGRES_COMMAND_OK) Fail(result, "preparing a statement");
  PQclear(result);
  return prepared_.emplace(std::move(key), std::move(name)).first->second;
}

Result Connection::Query(std::string_view sql, const std::vector<Param>& params, ResultFormat format) {
  const std::string& name = PreparedName(sql, params);
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  values.reserve(params.size());
  for (const Param& p : params) {
    values.push_back(p.is_null() ? nullptr : p.value().data());
    lengths.push_back(static_cast<int>(p.value().size()));
    formats.push_back(p.format());
  }
  PGresult* result = PQexecPrepared(conn_, name.c_str(), static_cast<int>(params.size()), values.data(),
                                    lengths.data(), formats.data(), static_cast<int>(format));
  const ExecStatusType status = result != nullptr ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) Fail(result, "running a statement");
  return Result(result);
}

void Connection::Exec(const std::string& sql) {
  PGresult* result = PQexec(conn_, sql.c_str());
  const ExecStatusType status = result != nullptr ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) Fail(result, "running a statement");
  PQclear(result);
}

Transaction::Transaction(Connection& db) : db_(db) { db_.Exec("BEGIN"); }

Transaction::~Transaction() {
  if (done_ || db_.Broken()) return;
  try {
    db_.Exec("ROLLBACK");
  } catch (const ComError&) {
    // The connection is unusable now; Broken() tells its owner.
  }
}

void Transaction::Commit() {
  if (db_.InFailedTransaction()) {
    throw PgError(kPgQueryFailed, "transaction was not committed: one of its statements had failed");
  }
  done_ = true;
  db_.Exec("COMMIT");
}

}  // namespace varnolt::postgres
