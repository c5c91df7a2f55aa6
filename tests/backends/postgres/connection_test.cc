#include "backends/postgres/connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <limits>

#include "backends/postgres/connection_pool.h"
#include "backends/postgres/pg_errors.h"
#include "backends/postgres/pg_fixture.h"

namespace varnolt::postgres {
namespace {

using ::testing::HasSubstr;
using testing::PgTest;

class ConnectionTest : public PgTest {};

TEST_F(ConnectionTest, ParametersAndResultsInBinaryAndTextForm) {
  const std::string bytes("\0\x01\xff\x7f", 4);
  const std::vector<int64_t> ids = {std::numeric_limits<int64_t>::min(), -1, 0,
                                    static_cast<int64_t>(uint64_t{0xfedcba9876543210})};
  for (ResultFormat format : {ResultFormat::kBinary, ResultFormat::kText}) {
    SCOPED_TRACE(static_cast<int>(format));
    const Result r = db_->Query(
        "SELECT $1::bigint, $2::integer, $3::smallint, $4::boolean, $5::text, $6::bytea, NULL::integer, "
        "$7::bigint[], ''::bytea, $8::boolean",
        {Param(int64_t{-1234567890123}), Param(int32_t{-7}), Param(int16_t{300}), Param(true), Param("Grüße"),
         Param::Bytes(bytes), Param::BigintArray(ids), Param(false)},
        format);
    ASSERT_EQ(1, r.rows());
    EXPECT_EQ(-1234567890123, r.Int(0, 0));
    EXPECT_EQ(-7, r.Int(0, 1));
    EXPECT_EQ(300, r.Int(0, 2));
    EXPECT_TRUE(r.Bool(0, 3));
    EXPECT_EQ("Grüße", r.Text(0, 4));
    EXPECT_EQ(bytes, r.Bytes(0, 5));
    EXPECT_TRUE(r.IsNull(0, 6));
    EXPECT_FALSE(r.IsNull(0, 0));
    EXPECT_EQ("", r.Bytes(0, 8));
    EXPECT_FALSE(r.Bool(0, 9));
    // What a getter cannot give is an error, not a guess.
    EXPECT_EQ(kPgBadResult, ErrorOf([&] { r.Int(0, 6); }));
    EXPECT_EQ(kPgBadResult, ErrorOf([&] { r.Int(0, 4); }));
    EXPECT_EQ(kPgBadResult, ErrorOf([&] { r.Bool(0, 0); }));
    EXPECT_EQ(kPgBadResult, ErrorOf([&] { r.Int(1, 0); }));
  }
  // The array's elements arrive as sent, in order.
  const Result elements = db_->Query("SELECT unnest($1::bigint[])", {Param::BigintArray(ids)});
  ASSERT_EQ(4, elements.rows());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ids[static_cast<size_t>(i)], elements.Int(i, 0));
}

TEST_F(ConnectionTest, FailuresCarryTheServersMessageAndTheirKind) {
  std::string text;
  EXPECT_EQ(kPgQueryFailed, ErrorOf([&] { db_->Query("SELEC 1"); }, &text));
  EXPECT_THAT(text, HasSubstr("syntax error"));
  EXPECT_THAT(text, HasSubstr("[42601]"));

  db_->Exec("CREATE TABLE t (k integer PRIMARY KEY)");
  db_->Query("INSERT INTO t VALUES ($1)", {Param(int32_t{1})});
  EXPECT_EQ(kPgQueryFailed, ErrorOf([&] { db_->Query("INSERT INTO t VALUES ($1)", {Param(int32_t{1})}); }, &text));
  EXPECT_THAT(text, HasSubstr("[23505]"));

  // A lock the other session holds past our lock timeout: try again later.
  auto other = Connect();
  Transaction holding(*other);
  other->Exec("LOCK TABLE t");
  db_->Exec("SET lock_timeout = '50ms'");
  EXPECT_EQ(kPgConflict, ErrorOf([&] { db_->Query("SELECT count(*) FROM t"); }, &text));
  EXPECT_THAT(text, HasSubstr("[55P03]"));

  // The server ends our session: the connection is lost, and says so.
  other->Query("SELECT pg_terminate_backend($1)", {Param(int32_t{db_->ServerProcessId()})});
  EXPECT_EQ(kPgUnavailable, ErrorOf([&] { db_->Query("SELECT 1"); }, &text));
  EXPECT_TRUE(db_->Broken());

  // Nobody listens: no connection, libpq's reason, and never the connection string.
  EXPECT_EQ(kPgUnavailable,
            ErrorOf([&] { Connection::Open("host=127.0.0.1 port=1 user=postgres password=secret"); }, &text));
  EXPECT_THAT(text, HasSubstr("cannot be reached"));
  EXPECT_THAT(text, ::testing::Not(HasSubstr("secret")));
}

TEST_F(ConnectionTest, OneStatementWithParametersOfOtherTypesAndTheSessionsDefaults) {
  // The same text, prepared once per parameter types: each value read as what it is.
  EXPECT_EQ(5000000000, db_->Query("SELECT $1::bigint", {Param(int64_t{5000000000})}).Int(0, 0));
  EXPECT_EQ(7, db_->Query("SELECT $1::bigint", {Param(int32_t{7})}).Int(0, 0));
  EXPECT_EQ(3, db_->Query("SELECT $1::bigint", {Param("3")}).Int(0, 0));

  EXPECT_EQ("10s", db_->Query("SHOW lock_timeout").Text(0, 0));
  auto own = Connection::Open(conninfo() + " options='-c lock_timeout=50ms'");
  EXPECT_EQ("50ms", own->Query("SHOW lock_timeout").Text(0, 0));
}

TEST_F(ConnectionTest, TransactionsRollBackUnlessCommittedAndNeverCommitAfterAFailure) {
  db_->Exec("CREATE TABLE t (k integer PRIMARY KEY)");
  auto count = [&] { return db_->Query("SELECT count(*) FROM t").Int(0, 0); };
  {
    Transaction t(*db_);
    db_->Query("INSERT INTO t VALUES (1)");
  }
  EXPECT_EQ(0, count());
  EXPECT_FALSE(db_->InTransaction());
  {
    Transaction t(*db_);
    db_->Query("INSERT INTO t VALUES (1)");
    t.Commit();
  }
  EXPECT_EQ(1, count());
  {
    Transaction t(*db_);
    db_->Query("INSERT INTO t VALUES (2)");
    EXPECT_NE(0, ErrorOf([&] { db_->Query("INSERT INTO t VALUES (1)"); }));
    // The server would turn this COMMIT into a silent rollback.
    EXPECT_EQ(kPgQueryFailed, ErrorOf([&] { t.Commit(); }));
  }
  EXPECT_EQ(1, count());
  EXPECT_FALSE(db_->InTransaction());
}

TEST_F(ConnectionTest, ThePoolKeepsGoodConnectionsAndDropsBrokenOnes) {
  ConnectionPool pool;
  int first = 0;
  {
    ConnectionPool::Lease lease = pool.Acquire(conninfo());
    first = lease->ServerProcessId();
  }
  EXPECT_EQ(1u, pool.IdleCount(conninfo()));
  {
    ConnectionPool::Lease lease = pool.Acquire(conninfo());
    EXPECT_EQ(first, lease->ServerProcessId());
    EXPECT_EQ(0u, pool.IdleCount(conninfo()));
    // Broken under its user (the server restarted, say): it is not handed out again.
    db_->Query("SELECT pg_terminate_backend($1)", {Param(int32_t{first})});
    EXPECT_EQ(kPgUnavailable, ErrorOf([&] { lease->Query("SELECT 1"); }));
  }
  EXPECT_EQ(0u, pool.IdleCount(conninfo()));
  {
    ConnectionPool::Lease lease = pool.Acquire(conninfo());
    EXPECT_NE(first, lease->ServerProcessId());
    lease->Exec("BEGIN");  // left open by a caller that failed: not for the next one
  }
  EXPECT_EQ(0u, pool.IdleCount(conninfo()));

  // A forked child connects anew and leaves the parent's session alone.
  int parents = 0;
  {
    ConnectionPool::Lease lease = pool.Acquire(conninfo());
    parents = lease->ServerProcessId();
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      ConnectionPool::Lease lease = pool.Acquire(conninfo());
      ::_exit(lease->ServerProcessId() != parents && lease->Query("SELECT 1").Int(0, 0) == 1 ? 0 : 1);
    } catch (...) {
      ::_exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ConnectionPool::Lease lease = pool.Acquire(conninfo());
  EXPECT_EQ(parents, lease->ServerProcessId());
  EXPECT_EQ(1, lease->Query("SELECT 1").Int(0, 0));
}

}  // namespace
}  // namespace varnolt::postgres
