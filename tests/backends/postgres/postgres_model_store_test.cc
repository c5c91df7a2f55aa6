#include "backends/postgres/postgres_model_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "backends/postgres/connection_pool.h"
#include "backends/postgres/model_schema.h"
#include "backends/postgres/pg_errors.h"
#include "backends/postgres/pg_fixture.h"

namespace varnolt::postgres {
namespace {

using ::testing::ElementsAre;
using testing::PgTest;

constexpr uint64_t kHighId = 0xfedcba9876543210;  // above INT64_MAX: kept as its bits

class PostgresModelStoreTest : public PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    MigrateModelSchema(*db_);
    store_ = PostgresModelStore::Open(*db_, ModelKind::kUser, "alice@example.com", true);
  }

  // Learns a message the way the engine does: one write, moving it when it was learned as the other class.
  void Learn(PostgresModelStore& store, const std::string& digest, const std::vector<uint64_t>& ids, bool is_spam) {
    SpamCounts totals = store.BeginWrite();
    const std::optional<LearnedMessage> before = store.FindMessage(digest);
    if (before && before->is_spam == is_spam) {
      store.Commit();
      return;
    }
    if (before) {
      store.Update(ids, before->is_spam ? TokenDelta{0, -1} : TokenDelta{-1, 0});
      --(before->is_spam ? totals.spam : totals.ham);
    }
    store.Update(ids, is_spam ? TokenDelta{0, 1} : TokenDelta{1, 0});
    ++(is_spam ? totals.spam : totals.ham);
    store.PutMessage(digest, {is_spam, false, {}});
    store.SetCounts(totals);
    store.Commit();
  }

  std::vector<TokenCounts> Tallies(PostgresModelStore& store, const std::vector<uint64_t>& ids) {
    std::vector<TokenCounts> tallies;
    store.Lookup(ids, &tallies);
    return tallies;
  }

  int64_t Rows(const std::string& table) { return db_->Query("SELECT count(*) FROM " + table).Int(0, 0); }

  std::unique_ptr<PostgresModelStore> store_;
};

TEST_F(PostgresModelStoreTest, ModelsAreFoundByKindAndNameAndMadeOnlyWhenAsked) {
  EXPECT_EQ(nullptr, PostgresModelStore::Open(*db_, ModelKind::kUser, "bob@example.com", false));
  EXPECT_EQ(1, Rows("varnolt_models"));
  EXPECT_EQ(store_->id(), PostgresModelStore::Open(*db_, ModelKind::kUser, "alice@example.com", false)->id());
  const auto domain = PostgresModelStore::Open(*db_, ModelKind::kDomain, "alice@example.com", true);
  EXPECT_NE(store_->id(), domain->id());
  EXPECT_EQ((SpamCounts{0, 0}), domain->Counts());

  // A database without the schema is refused before anything is written.
  db_->Exec("DROP TABLE varnolt_schema");
  EXPECT_EQ(kPgSchemaMissing, ErrorOf([&] { PostgresModelStore::Open(*Connect(), ModelKind::kUser, "x", true); }));
}

TEST_F(PostgresModelStoreTest, LearningRelearningAndLookingUp) {
  Learn(*store_, "message A", {1, 2, 3, kHighId}, true);
  Learn(*store_, "message B", {2, 4}, false);
  Learn(*store_, "message B", {2, 4}, false);  // known: changes nothing
  std::vector<TokenCounts> tallies;
  // Sorted ids with a repeat; 5 was never learned.
  EXPECT_EQ((SpamCounts{1, 1}), store_->Lookup({1, 2, 2, 5, kHighId}, &tallies));
  EXPECT_THAT(tallies, ElementsAre(TokenCounts{0, 1}, TokenCounts{1, 1}, TokenCounts{1, 1}, TokenCounts{0, 0},
                                   TokenCounts{0, 1}));

  // The user's correction moves B exactly; tokens held by nothing lose their rows.
  Learn(*store_, "message B", {2, 4}, true);
  EXPECT_EQ((SpamCounts{0, 2}), store_->Counts());
  EXPECT_THAT(Tallies(*store_, {2, 4}), ElementsAre(TokenCounts{0, 2}, TokenCounts{0, 1}));
  Learn(*store_, "message A", {1, 2, 3, kHighId}, false);
  Learn(*store_, "message A", {1, 2, 3, kHighId}, true);
  EXPECT_EQ(5, Rows("varnolt_tokens"));
  store_->BeginWrite();
  store_->Update({1, 3, kHighId}, {0, -1});
  store_->Update({2}, {-5, -5});  // never below zero
  store_->Commit();
  EXPECT_THAT(Tallies(*store_, {1, 2, 3, 4}), ElementsAre(TokenCounts{}, TokenCounts{}, TokenCounts{}, TokenCounts{0, 1}));
  EXPECT_EQ(1, Rows("varnolt_tokens"));

  // A delta of each sign at once.
  store_->BeginWrite();
  store_->Update({4, 7}, {1, -1});
  store_->Commit();
  EXPECT_THAT(Tallies(*store_, {4, 7}), ElementsAre(TokenCounts{1, 0}, TokenCounts{1, 0}));
  store_->BeginWrite();
  EXPECT_EQ((LearnedMessage{true, false, {}}), store_->FindMessage("message B"));
  EXPECT_EQ(std::nullopt, store_->FindMessage("message C"));
  store_->PutMessage("message C", {false, true, {}});
  EXPECT_EQ((LearnedMessage{false, true, {}}), store_->FindMessage("message C"));
  store_->Rollback();
  store_->BeginWrite();
  EXPECT_EQ(std::nullopt, store_->FindMessage("message C"));
  store_->Commit();
}

TEST_F(PostgresModelStoreTest, AnUnflushedWriteCommitsAndTheSettingEndsWithIt) {
  store_->BeginWrite(PostgresModelStore::CommitWait::kUnflushed);
  EXPECT_EQ("off", db_->Query("SHOW synchronous_commit").Text(0, 0));
  store_->SetCounts({2, 3});
  store_->Commit();
  EXPECT_EQ("on", db_->Query("SHOW synchronous_commit").Text(0, 0));
  EXPECT_EQ((SpamCounts{2, 3}), PostgresModelStore::Open(*Connect(), ModelKind::kUser, "alice@example.com", false)
                                     ->Counts());
}

TEST_F(PostgresModelStoreTest, ResetEmptiesOneModelAndLeavesTheOthers) {
  auto bob = PostgresModelStore::Open(*db_, ModelKind::kUser, "bob@example.com", true);
  Learn(*store_, "a", {1, 2}, true);
  Learn(*bob, "a", {1, 2}, true);
  store_->Reset();
  EXPECT_EQ((SpamCounts{0, 0}), store_->Counts());
  EXPECT_THAT(Tallies(*store_, {1, 2}), ElementsAre(TokenCounts{}, TokenCounts{}));
  EXPECT_EQ((SpamCounts{0, 1}), bob->Counts());
  EXPECT_THAT(Tallies(*bob, {1, 2}), ElementsAre(TokenCounts{0, 1}, TokenCounts{0, 1}));
  // The message is new again.
  Learn(*store_, "a", {1, 2}, false);
  EXPECT_EQ((SpamCounts{1, 0}), store_->Counts());
  EXPECT_EQ(2, Rows("varnolt_messages"));
}

TEST_F(PostgresModelStoreTest, WritersOfOneModelTakeTurnsSoNoLearnedMessageIsLost) {
  // Each of 4 servers learns 25 distinct messages with shared tokens, at once.
  std::vector<std::thread> servers;
  for (int s = 0; s < 4; ++s) {
    servers.emplace_back([&, s] {
      auto db = Connect();
      auto store = PostgresModelStore::Open(*db, ModelKind::kUser, "alice@example.com", true);
      for (int m = 0; m < 25; ++m) Learn(*store, std::to_string(s) + "/" + std::to_string(m), {1, 2}, m % 2 == 0);
    });
  }
  for (auto& s : servers) s.join();
  EXPECT_EQ((SpamCounts{48, 52}), store_->Counts());
  EXPECT_THAT(Tallies(*store_, {1, 2}), ElementsAre(TokenCounts{48, 52}, TokenCounts{48, 52}));

  // A second writer waits for the first one's commit, and then sees its totals.
  SpamCounts totals = store_->BeginWrite();
  std::atomic<bool> second_began = false;
  SpamCounts seen;
  std::thread second([&] {
    auto db = Connect();
    auto store = PostgresModelStore::Open(*db, ModelKind::kUser, "alice@example.com", false);
    seen = store->BeginWrite();
    second_began = true;
    store->Commit();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(second_began);
  ++totals.spam;
  store_->SetCounts(totals);
  store_->Commit();
  second.join();
  EXPECT_EQ((SpamCounts{48, 53}), seen);
}

TEST_F(PostgresModelStoreTest, AWriteCutOffKeepsNothingAndAServerBackNeedsNoRepair) {
  Learn(*store_, "kept", {1}, true);
  store_->BeginWrite();
  store_->Update({1, 2}, {0, 1});
  auto admin = Connect();
  admin->Query("SELECT pg_terminate_backend($1)", {Param(int32_t{db_->ServerProcessId()})});
  EXPECT_EQ(kPgUnavailable, ErrorOf([&] { store_->PutMessage("lost", {true, false, {}}); }));
  EXPECT_FALSE(store_->in_write());
  auto again = PostgresModelStore::Open(*admin, ModelKind::kUser, "alice@example.com", false);
  EXPECT_EQ((SpamCounts{0, 1}), again->Counts());
  EXPECT_THAT(Tallies(*again, {1, 2}), ElementsAre(TokenCounts{0, 1}, TokenCounts{}));
  admin.reset();

  // The server stops: callers get "unavailable"; it starts again: the pool just connects anew.
  ConnectionPool pool;
  { ConnectionPool::Lease warm = pool.Acquire(conninfo()); }
  ASSERT_TRUE(server->Stop());
  {
    ConnectionPool::Lease stale = pool.Acquire(conninfo());
    EXPECT_EQ(kPgUnavailable, ErrorOf([&] { PostgresModelStore::Open(*stale, ModelKind::kUser, "a", true); }));
  }
  EXPECT_EQ(kPgUnavailable, ErrorOf([&] { pool.Acquire(conninfo()); }));
  ASSERT_TRUE(server->Restart());
  ConnectionPool::Lease fresh = pool.Acquire(conninfo());
  auto store = PostgresModelStore::Open(*fresh, ModelKind::kUser, "alice@example.com", false);
  Learn(*store, "after the restart", {1}, true);
  EXPECT_EQ((SpamCounts{0, 2}), store->Counts());
}

}  // namespace
}  // namespace varnolt::postgres
