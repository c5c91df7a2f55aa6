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
#include "engine/model_cache.h"
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

TEST_F(BadFileTest, LinkToAMissingModel) {
  // The user's lessons are elsewhere: no operation takes the user for new.
  fs::create_symlink(folder_.path() / "moved-away.dat", FilePath());
  const std::function<void()> operations[] = {
      [&] { engine_.Classify(DatPath(), "Subject: hi\r\n", "hello"); },
      [&] { engine_.Learn(DatPath(), "Subject: hi\r\n", "hello", false); },
      [&] { engine_.GetCounts(DatPath()); },
      [&] { engine_.Peek(DatPath(), "Subject: hi\r\n", "hello"); },
  };
  for (size_t i = 0; i < std::size(operations); ++i) {
    SCOPED_TRACE(i);
    try {
      operations[i]();
      ADD_FAILURE() << "no error";
    } catch (const ComError& e) {
      EXPECT_EQ(engine::kErrorForeignDatabase, e.number());
      EXPECT_THAT(e.description(), HasSubstr("moved-away.dat, which does not exist"));
    }
  }
  EXPECT_FALSE(fs::exists(folder_.path() / "moved-away.dat"));
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

namespace varnolt {
namespace {

// Damage inside a sound SQLite file: every operation that reads the damaged
// part refuses the file, names it and says how to rebuild it, and leaves it
// as it was (nothing is learned over it).
enum Reads { kPasses, kFails, kMayFail };
struct Damage {
  const char* name;
  const char* sql;
  const char* what;
  Reads counts = kFails;    // GetCounts reads the first and last buckets only
  Reads classify = kFails;  // scoring checks only the entries it meets
};

const Damage kDamages[] = {
    {"NegativeHam", "UPDATE meta SET value = -5 WHERE key = 'ham'", "'ham' is -5"},
    {"HugeSpam", "UPDATE meta SET value = 4611686018427387904 WHERE key = 'spam'", "'spam' is 4611686018427387904"},
    {"TextCount", "UPDATE meta SET value = 'many' WHERE key = 'ham'", "'ham' is no number"},
    {"RealCount", "UPDATE meta SET value = 2.5 WHERE key = 'spam'", "'spam' is no number"},
    {"MissingCount", "DELETE FROM meta WHERE key = 'spam'", "no spam"},
    {"DeepBuckets", "UPDATE meta SET value = 33 WHERE key = 'depth'", "'depth' is 33"},
    {"NegativeEntries", "UPDATE meta SET value = -1 WHERE key = 'entries'", "'entries' is -1"},
    {"ClassSeven", "UPDATE messages SET spam = 7 WHERE digest = (SELECT min(digest) FROM messages)",
     "learned message of class 7"},
    {"ClassText", "UPDATE messages SET automatic = 'x' WHERE digest = (SELECT min(digest) FROM messages)",
     "learned message of class"},
    {"MessageMovedClass", "UPDATE messages SET spam = 1 - spam WHERE digest = (SELECT min(digest) FROM messages)",
     "messages learned, but totals of"},
    {"MessageLost", "DELETE FROM messages WHERE digest = (SELECT min(digest) FROM messages)",
     "messages learned, but totals of"},
    {"TotalsAhead", "UPDATE meta SET value = value + 1 WHERE key = 'ham'", "messages learned, but totals of"},
    // Every bucket, so the first and last too: refused on opening, by GetCounts as well.
    {"BlobOfOddSize", "UPDATE tokens SET entries = x'0102030405'", "of 5 bytes"},
    {"BlobOutOfOrder", "UPDATE tokens SET entries = x'FFFFFFFF0100000000000000000000000100000000000000'",
     "out of order"},
    {"TokenCountsAboveTotals", "UPDATE tokens SET entries = substr(entries, 1, 4) || x'40420F00' || substr(entries, 9)",
     "a token counted in more messages than were learned", kPasses, kMayFail},
    {"TokensEmptied", "DELETE FROM tokens", "no token entries, though it counts"},
    {"BucketsEmptied", "UPDATE tokens SET entries = x''", "is empty"},
    {"BucketMoved", "UPDATE tokens SET bucket = bucket + 4096 WHERE bucket = (SELECT max(bucket) FROM tokens)",
     "beyond depth"},
    {"TokensOverwritten",
     "UPDATE tokens SET entries = substr(entries, 1, 24) || zeroblob(120) || substr(entries, 145) "
     "WHERE bucket = (SELECT min(bucket) FROM tokens)",
     "out of order"},
    {"WrongDepth", "UPDATE meta SET value = value + 1 WHERE key = 'depth'", "out of order"},
    {"GarbageDigests", "UPDATE messages SET digest = randomblob(7)", "key of the wrong size"},
};

class ModelDamageTest : public BadFileTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(ModelDamageTest, IsRefusedAndLeftAsItWas) {
  const Damage& damage = GetParam();
  testing::WriteBytes(FilePath(), GoodDatabase());
  RunSql(FilePath(), damage.sql);
  const std::string before = testing::FileBytes(FilePath());
  // A cache of its own: the file is new, whatever inode it got.
  EngineOptions options;
  options.cache = std::make_shared<engine::ModelCache>();
  BuiltinSpamEngine engine(options);
  // A message the model learned, so that scoring meets its tokens' entries.
  const std::string header = mail_.Header(0, 0), body = mail_.Body(0, 0);
  const std::function<void()> operations[] = {
      [&] { engine.Learn(DatPath(), header, body + " more", true); },
      [&] { engine.Relearn(DatPath(), header, body, true); },
      [&] { engine.Classify(DatPath(), header, body); },
      [&] { engine.Peek(DatPath(), header, body); },
      [&] { engine.GetCounts(DatPath()); },
  };
  for (size_t i = 0; i < std::size(operations); ++i) {
    SCOPED_TRACE(i);
    const Reads reads = i < 2 ? kFails : i < 4 ? damage.classify : damage.counts;
    try {
      operations[i]();
      EXPECT_NE(kFails, reads) << "no error";
    } catch (const ComError& e) {
      EXPECT_NE(kPasses, reads) << e.description();
      EXPECT_EQ(engine::kErrorCorruptDatabase, e.number());
      EXPECT_THAT(e.description(), HasSubstr(DatPath()));
      EXPECT_THAT(e.description(), HasSubstr(damage.what));
      EXPECT_THAT(e.description(), HasSubstr("'varnolt model reset USER@DOMAIN'"));
    }
    EXPECT_EQ(before, testing::FileBytes(FilePath()));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ModelDamageTest, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnolt
