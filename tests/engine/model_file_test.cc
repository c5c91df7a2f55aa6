// What a model file is on disk: its own application id and format, owner
// and group access only, and the files it must refuse (the earlier engine's,
// an older format of its own, a mail store named as a model) without changing them.
#include <sqlite3.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/mailstore/mail_store.h"
#include "engine/builtin_spam_engine.h"
#include "engine/engine_errors.h"
#include "engine/model_store.h"
#include "platform/com/com_error.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

int64_t QueryInt(const fs::path& path, const char* sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr));
  const int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

void RunSql(const fs::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class ModelFileTest : public ::testing::Test {
 protected:
  std::string DatPath() const { return folder_.path().string() + "\\user.dat"; }
  fs::path FilePath() const { return folder_.path() / "user.dat"; }

  testing::TempFolder folder_;
  testing::MailMaker mail_;
  BuiltinSpamEngine engine_;
};

TEST_F(ModelFileTest, NewFilesCarryTheirOwnIdAndAreNotWorldReadable) {
  const mode_t old_mask = umask(022);
  engine_.Classify(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1));
  umask(old_mask);
  EXPECT_EQ(engine::kModelApplicationId, QueryInt(FilePath(), "PRAGMA application_id"));
  EXPECT_NE(engine::kEarlierApplicationId, engine::kModelApplicationId);
  EXPECT_EQ(engine::kModelFormatVersion, QueryInt(FilePath(), "PRAGMA user_version"));
  EXPECT_EQ(4096, QueryInt(FilePath(), "PRAGMA page_size")) << "a user's model: SQLite's usual pages";
  const fs::perms perms = fs::status(FilePath()).permissions();
  EXPECT_EQ(fs::perms::none, perms & fs::perms::others_all);
  EXPECT_NE(fs::perms::none, perms & fs::perms::group_read);
  EXPECT_NE(fs::perms::none, perms & fs::perms::owner_write);
}

TEST_F(ModelFileTest, FilesThatAreNoModelOfThisEngineAreRefusedAndKept) {
  struct Case {
    const char* name;
    std::function<void()> make;
    int32_t number;
    const char* what;
  };
  const Case cases[] = {
      {"the earlier engine's order-dependent model",
       [&] {
         RunSql(FilePath(),
                "PRAGMA application_id = " + std::to_string(engine::kEarlierApplicationId) +
                    "; PRAGMA user_version = 2;"
                    "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
                    "CREATE TABLE weights(bucket INTEGER PRIMARY KEY, entries BLOB NOT NULL);"
                    "INSERT INTO meta VALUES('ham', 3), ('spam', 4);");
       },
       engine::kErrorEarlierFormat, "move it away and teach the user again with 'varnolt train'"},
      {"this engine's model from before its tokens changed",
       [&] {
         {
           // Its own cache, closed before the file is changed behind its back.
           EngineOptions options;
           options.cache = std::make_shared<engine::ModelCache>();
           BuiltinSpamEngine(options).Learn(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1), true);
         }
         RunSql(FilePath(), "PRAGMA user_version = " + std::to_string(engine::kModelFormatVersion - 1));
       },
       engine::kErrorEarlierFormat, "move it away and teach the user again with 'varnolt train'"},
      {"a mail store", [&] { MailStore::Open(FilePath().string())->AddMailbox("example.com", "alice"); },
       engine::kErrorForeignDatabase, "is a VarnoltFilter mail store, not a spam database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(FilePath());
    c.make();
    const std::string before = testing::FileBytes(FilePath());
    const std::function<void()> operations[] = {
        [&] { engine_.Classify(DatPath(), "Subject: hi\r\n", "hello"); },
        [&] { engine_.Learn(DatPath(), "Subject: hi\r\n", "hello", false); },
        [&] { engine_.GetCounts(DatPath()); },
        [&] { engine_.Peek(DatPath(), "Subject: hi\r\n", "hello"); },
    };
    for (const auto& operation : operations) {
      try {
        operation();
        ADD_FAILURE() << "no error";
      } catch (const ComError& e) {
        EXPECT_EQ(c.number, e.number());
        EXPECT_THAT(e.description(), HasSubstr(DatPath()));
        EXPECT_THAT(e.description(), HasSubstr(c.what));
      }
    }
    EXPECT_EQ(before, testing::FileBytes(FilePath()));
  }
}

TEST_F(ModelFileTest, AFileFromBeforeKeyRecordsOpensAndGainsThemAsItLearns) {
  {
    EngineOptions options;
    options.cache = std::make_shared<engine::ModelCache>();
    BuiltinSpamEngine(options).Learn(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1), true);
  }
  RunSql(FilePath(), "DROP TABLE records");
  auto records = [&] {
    auto store = engine::ModelStore::Open(DatPath(), engine::ModelStore::Mode::kExistingOnly);
    store->BeginRead();
    std::vector<size_t> sizes;
    for (const auto& [digest, message] : store->Messages()) sizes.push_back(message.keys.size());
    store->Commit();
    std::sort(sizes.begin(), sizes.end());
    return sizes;
  };
  EXPECT_EQ(std::vector<size_t>{0}, records());
  EXPECT_GT(engine_.Peek(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1)).spamminess, 0.0);
  engine_.Learn(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), false);
  const std::vector<size_t> after = records();
  ASSERT_EQ(2u, after.size());
  EXPECT_EQ(0u, after[0]);  // learned before: the linear model does not know it
  EXPECT_GT(after[1], 10u);
  EXPECT_EQ(1, engine_.GetCounts(DatPath()).spam);
  // A correction writes the message's record with its new class.
  engine_.Relearn(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1), false);
  EXPECT_GT(records()[0], 10u);
}

}  // namespace
}  // namespace varnolt
