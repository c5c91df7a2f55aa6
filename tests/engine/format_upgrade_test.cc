// A file of the first format (token weights without counts) keeps working:
// reads leave it alone, the first write upgrades it in place and keeps what it
// had learned.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"
#include "engine/feature_hash.h"
#include "engine/token_buckets.h"
#include "engine/tokenizer.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using namespace engine;

class Sqlite {
 public:
  explicit Sqlite(const fs::path& path) { EXPECT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db_)); }
  ~Sqlite() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(db_);
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr)) << sqlite3_errmsg(db_);
    return stmt;
  }
  // Runs sql with the blobs bound to ?1, ?2...
  void Insert(const char* sql, const std::vector<std::string>& blobs) {
    sqlite3_stmt* stmt = Prepare(sql);
    for (size_t i = 0; i < blobs.size(); ++i) {
      sqlite3_bind_blob(stmt, static_cast<int>(i + 1), blobs[i].data(), static_cast<int>(blobs[i].size()),
                        SQLITE_TRANSIENT);
    }
    EXPECT_EQ(SQLITE_DONE, sqlite3_step(stmt));
    sqlite3_finalize(stmt);
  }
  int64_t Int(const char* sql) {
    sqlite3_stmt* stmt = Prepare(sql);
    const int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    return value;
  }
  // All token entries, read in the given layout.
  std::vector<TokenEntry> Entries(EntryLayout layout) {
    std::vector<TokenEntry> all;
    sqlite3_stmt* stmt = Prepare("SELECT entries FROM weights ORDER BY bucket");
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      EXPECT_EQ(0, sqlite3_column_bytes(stmt, 0) % static_cast<int>(layout));
      const auto entries = DecodeBucket(sqlite3_column_blob(stmt, 0), sqlite3_column_bytes(stmt, 0), layout);
      all.insert(all.end(), entries.begin(), entries.end());
    }
    sqlite3_finalize(stmt);
    return all;
  }

 private:
  sqlite3* db_ = nullptr;
};

class FormatUpgradeTest : public ::testing::Test {
 protected:
  // A first-format file that has learned message A as HAM, with a weight of
  // +1 on each of A's tokens (so that the regression calls A spammy).
  void WriteFirstFormatFile() {
    std::vector<uint32_t> keys;
    for (uint64_t id : FeatureIds(header_a_, body_a_, {})) {
      if (keys.empty() || keys.back() != KeyOf(id)) keys.push_back(KeyOf(id));
    }
    std::string bucket;
    for (uint32_t key : keys) {
      for (uint32_t field : {key, static_cast<uint32_t>(kWeightScale)}) {
        for (int i = 0; i < 4; ++i) bucket.push_back(static_cast<char>(field >> (8 * i)));
      }
    }
    key_count_ = keys.size();
    const MessageDigest digest = DigestMessage(header_a_, body_a_);
    Sqlite db(FilePath());
    db.Exec(
        "PRAGMA page_size = 16384; PRAGMA application_id = 1447971924; PRAGMA user_version = 1;"
        "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
        "CREATE TABLE weights(bucket INTEGER PRIMARY KEY, entries BLOB NOT NULL);"
        "CREATE TABLE messages(digest BLOB PRIMARY KEY, spam INTEGER NOT NULL, step REAL NOT NULL) WITHOUT ROWID;"
        "INSERT INTO meta VALUES('format', 'VarnoltFilter spam engine'), ('ham', 1), ('spam', 0),"
        " ('depth', 0), ('entries', " + std::to_string(keys.size()) + ");");
    db.Insert("INSERT INTO weights VALUES(0, ?1)", {bucket});
    db.Insert("INSERT INTO messages VALUES(?1, 0, 0.0)", {std::string(digest.begin(), digest.end())});
  }

  std::string DatPath() const { return folder_.path().string() + "\\user.dat"; }
  fs::path FilePath() const { return folder_.path() / "user.dat"; }

  testing::TempFolder folder_;
  testing::MailMaker mail_;
  BuiltinSpamEngine engine_;
  const std::string header_a_ = mail_.Header(true, 1), body_a_ = mail_.Body(true, 1);
  size_t key_count_ = 0;
};

TEST_F(FormatUpgradeTest, ReadsLeaveTheFileAsItWas) {
  WriteFirstFormatFile();
  const std::string before = testing::FileBytes(FilePath());

  const SpamScore score = engine_.Peek(DatPath(), header_a_, body_a_);
  const EngineOptions options;
  const double regression = 1.0 / (1.0 + std::exp(-std::sqrt(static_cast<double>(key_count_))));
  const double share = options.chi_square_share;
  // FeatureIds may hold a few more ids than keys; the regression then scores a little lower.
  EXPECT_NEAR(share * 0.5 + (1 - share) * regression, score.spamminess, 0.02);
  EXPECT_EQ(1, engine_.GetCounts(DatPath()).ham);
  EXPECT_EQ(before, testing::FileBytes(FilePath()));
}

TEST_F(FormatUpgradeTest, FirstWriteUpgradesAndKeepsTheWeights) {
  WriteFirstFormatFile();
  const std::string header_b = mail_.Header(false, 2), body_b = mail_.Body(false, 2);
  std::vector<uint32_t> keys_b;
  for (uint64_t id : FeatureIds(header_b, body_b, {})) keys_b.push_back(KeyOf(id));

  engine_.Learn(DatPath(), header_b, body_b, false);

  Sqlite db(FilePath());
  EXPECT_EQ(2, db.Int("PRAGMA user_version"));
  size_t kept = 0;
  for (const TokenEntry& entry : db.Entries(EntryLayout::kWithCounts)) {
    const bool in_b = std::find(keys_b.begin(), keys_b.end(), entry.key) != keys_b.end();
    if (!in_b) {
      EXPECT_EQ(static_cast<int32_t>(kWeightScale), entry.weight);
      EXPECT_EQ(0u, entry.ham + entry.spam);
      ++kept;
    } else {
      EXPECT_EQ(1u, entry.ham);
    }
  }
  EXPECT_GT(kept, 0u);
  EXPECT_EQ(1, db.Int("SELECT value FROM meta WHERE key = 'counted_ham'"));
  EXPECT_EQ(2, engine_.GetCounts(DatPath()).ham);
}

TEST_F(FormatUpgradeTest, CorrectingAMessageLearnedBeforeTheUpgrade) {
  WriteFirstFormatFile();
  engine_.Relearn(DatPath(), header_a_, body_a_, true);

  const SpamCounts counts = engine_.GetCounts(DatPath());
  EXPECT_EQ(0, counts.ham);
  EXPECT_EQ(1, counts.spam);
  Sqlite db(FilePath());
  // A's tokens were never counted as HAM, so nothing is taken from them.
  EXPECT_EQ(0, db.Int("SELECT value FROM meta WHERE key = 'counted_ham'"));
  EXPECT_EQ(1, db.Int("SELECT value FROM meta WHERE key = 'counted_spam'"));
  for (const TokenEntry& entry : db.Entries(EntryLayout::kWithCounts)) {
    EXPECT_EQ(0u, entry.ham);
    EXPECT_EQ(1u, entry.spam);
  }
}

TEST_F(FormatUpgradeTest, NewFilesAreOfTheCurrentFormatWithLargePages) {
  engine_.Classify(DatPath(), header_a_, body_a_);
  Sqlite db(FilePath());
  EXPECT_EQ(2, db.Int("PRAGMA user_version"));
  EXPECT_EQ(16384, db.Int("PRAGMA page_size"));
}

}  // namespace
}  // namespace varnolt
