// A file at the user's path that is not a sound engine database: every
// operation fails with a clear error and the file stays byte for byte as it was.
#include <sqlite3.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "engine/builtin_spam_engine.h"
#include "engine/engine_errors.h"
#include "platform/com/com_error.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

void RunSql(const fs::path& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql, nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class BadFileTest : public ::testing::Test {
 protected:
  std::string DatPath() const { return folder_.path().string() + "\\user.dat"; }
  fs::path FilePath() const { return folder_.path() / "user.dat"; }

  // A sound database with some learning in it, as bytes.
  std::string GoodDatabase() {
    {
      // Its own cache, closed again: the write-ahead log is folded back into the file.
      EngineOptions options;
      options.cache = std::make_shared<engine::ModelCache>();
      BuiltinSpamEngine writer(options);
      for (int i = 0; i < 30; ++i) writer.Learn(DatPath(), mail_.Header(i % 2, i), mail_.Body(i % 2, i), i % 2);
    }
    std::string bytes = testing::FileBytes(FilePath());
    fs::remove(FilePath());
    return bytes;
  }

  // Runs every operation of the engine and checks each fails with the number
  // and a description naming the file, leaving the file as it was.
  void ExpectEveryOperationFails(int32_t number, const std::string& what) {
    const std::string before = testing::FileBytes(FilePath());
    const std::function<void()> operations[] = {
        [&] { engine_.Classify(DatPath(), "Subject: hi\r\n", "hello"); },
        [&] { engine_.Learn(DatPath(), "Subject: hi\r\n", "hello", false); },
        [&] { engine_.Relearn(DatPath(), "Subject: hi\r\n", "hello", true); },
        [&] { engine_.GetCounts(DatPath()); },
        [&] { engine_.Peek(DatPath(), "Subject: hi\r\n", "hello"); },
    };
    for (size_t i = 0; i < std::size(operations); ++i) {
      SCOPED_TRACE(i);
      try {
        operations[i]();
        ADD_FAILURE() << "no error";
      } catch (const ComError& e) {
        EXPECT_EQ(number, e.number());
        EXPECT_THAT(e.description(), HasSubstr(DatPath()));
        EXPECT_THAT(e.description(), HasSubstr(what));
      }
      EXPECT_EQ(before, testing::FileBytes(FilePath()));
    }
    EXPECT_EQ(1, std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()));
  }

  testing::TempFolder folder_;
  testing::MailMaker mail_;
  BuiltinSpamEngine engine_;
};

TEST_F(BadFileTest, TextFile) {
  testing::WriteBytes(FilePath(), "Not a database: someone's notes.\r\n" + std::string(5000, 'x'));
  ExpectEveryOperationFails(engine::kErrorForeignDatabase, "is not a VarnoltFilter spam database");
}

TEST_F(BadFileTest, AnotherProgramsSqliteDatabase) {
  RunSql(FilePath(), "CREATE TABLE contacts(name TEXT, email TEXT); INSERT INTO contacts VALUES('a', 'b');");
  ExpectEveryOperationFails(engine::kErrorForeignDatabase, "is not a VarnoltFilter spam database");
}

TEST_F(BadFileTest, EmptySqliteDatabaseOfAnotherProgram) {
  RunSql(FilePath(), "PRAGMA user_version = 3;");
  ExpectEveryOperationFails(engine::kErrorForeignDatabase, "is not a VarnoltFilter spam database");
}

TEST_F(BadFileTest, DamagedPages) {
  std::string bytes = GoodDatabase();
  ASSERT_GT(bytes.size(), 8192u);
  for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  testing::WriteBytes(FilePath(), bytes);
  ExpectEveryOperationFails(engine::kErrorCorruptDatabase, "is corrupt");
}

TEST_F(BadFileTest, NewerFormat) {
  testing::WriteBytes(FilePath(), GoodDatabase());
  RunSql(FilePath(), "PRAGMA user_version = 99;");
  ExpectEveryOperationFails(engine::kErrorNewerFormat, "newer");
}

TEST_F(BadFileTest, DirectoryAtThePath) {
  fs::create_directory(FilePath());
  for (int op = 0; op < 3; ++op) {
    try {
      if (op == 0) engine_.Classify(DatPath(), "", "x");
      if (op == 1) engine_.GetCounts(DatPath());
      if (op == 2) engine_.Learn(DatPath(), "", "x", true);
      ADD_FAILURE() << "no error";
    } catch (const ComError& e) {
      EXPECT_EQ(engine::kErrorForeignDatabase, e.number());
      EXPECT_THAT(e.description(), HasSubstr("is a directory"));
    }
  }
  EXPECT_TRUE(fs::is_empty(FilePath()));
}

TEST_F(BadFileTest, EmptyFileIsANewDatabase) {
  // What a creator that died before its first commit leaves behind.
  testing::WriteBytes(FilePath(), "");
  EXPECT_EQ(0, engine_.GetCounts(DatPath()).ham);
  EXPECT_FALSE(engine_.Peek(DatPath(), "", "x").is_spam);
  EXPECT_EQ(0u, fs::file_size(FilePath()));
  engine_.Learn(DatPath(), "", "hello there", true);
  EXPECT_EQ(1, engine_.GetCounts(DatPath()).spam);
}

}  // namespace
}  // namespace varnolt
