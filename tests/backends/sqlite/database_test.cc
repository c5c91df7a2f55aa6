#include "backends/sqlite/database.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "platform/com/com_error.h"

namespace varnolt::sqlite {
namespace {

namespace fs = std::filesystem;

// What a failure handed to the handler: the code and the system's error.
struct Failure {
  int code = 0;
  int system_error = 0;
};

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnolt-sqlite-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::unique_ptr<Database> Open(const std::string& name, OpenOptions options = {}) {
    return Database::Open((folder_ / name).string(), options, [this](int code, const std::string& message) {
      failure_ = {code, errno};
      throw ComError(E_FAIL, message);
    });
  }

  fs::path folder_;
  Failure failure_;
};

TEST_F(DatabaseTest, AWriterWaitsForAPeersShortWriteAndFailsAtOnceWhenToldNotToWait) {
  auto holder = Open("data.db");
  holder->Exec("PRAGMA journal_mode = WAL; CREATE TABLE t(x INTEGER)");
  auto waiter = Open("data.db");
  for (bool wait : {true, false}) {
    holder->Exec("BEGIN IMMEDIATE");
    auto release = std::async(std::launch::async, [&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      holder->Exec("COMMIT");
    });
    waiter->WaitForPeers(wait);
    if (wait) {
      WriteTransaction write(*waiter);
      Statement(*waiter, "INSERT INTO t VALUES(1)").Run();
      write.Commit();
    } else {
      EXPECT_THROW(waiter->Exec("BEGIN IMMEDIATE"), ComError);
      EXPECT_EQ(SQLITE_BUSY, failure_.code & 0xFF);
    }
    release.get();
  }
  EXPECT_EQ(1, waiter->QueryInt("SELECT count(*) FROM t"));
}

TEST_F(DatabaseTest, AKeptBeginOrCommitThatFailedWorksOnItsNextUse) {
  auto holder = Open("data.db");
  holder->Exec("PRAGMA journal_mode = WAL; CREATE TABLE t(x INTEGER)");
  auto writer = Open("data.db");
  writer->WaitForPeers(false);
  holder->Run("BEGIN IMMEDIATE");
  EXPECT_THROW(WriteTransaction{*writer}, ComError);
  EXPECT_EQ(SQLITE_BUSY, failure_.code & 0xFF);
  holder->Run("COMMIT");
  EXPECT_THROW(holder->Run("COMMIT"), ComError);  // none open
  for (int i = 0; i < 2; ++i) {
    WriteTransaction write(*writer);
    Statement(*writer, "INSERT INTO t VALUES(1)").Run();
    write.Commit();
  }
  holder->Run("BEGIN");
  EXPECT_EQ(2, holder->QueryInt("SELECT count(*) FROM t"));
  holder->Run("COMMIT");
  EXPECT_FALSE(holder->InTransaction());
}

TEST_F(DatabaseTest, ACopyHoldsWhatWasCommittedWhileAWriteIsUnderWay) {
  auto source = Open("live.db");
  source->Exec("PRAGMA journal_mode = WAL; CREATE TABLE t(x INTEGER); INSERT INTO t VALUES(1), (2)");
  auto writer = Open("live.db");
  writer->Exec("BEGIN IMMEDIATE; INSERT INTO t VALUES(3)");
  auto copy = Open("copy.db");
  CopyDatabase(*source, *copy);
  writer->Exec("COMMIT");
  EXPECT_EQ(2, copy->QueryInt("SELECT count(*) FROM t"));
  EXPECT_EQ(3, source->QueryInt("SELECT count(*) FROM t"));
}

TEST_F(DatabaseTest, AFailedOpenTellsTheSystemsError) {
  EXPECT_THROW(Open("missing/data.db"), ComError);
  EXPECT_EQ(SQLITE_CANTOPEN, failure_.code & 0xFF);
  EXPECT_EQ(ENOENT, failure_.system_error);
  OpenOptions existing;
  existing.create_if_missing = false;
  failure_ = {};
  EXPECT_THROW(Open("absent.db", existing), ComError);
  EXPECT_EQ(SQLITE_CANTOPEN, failure_.code & 0xFF);
  EXPECT_FALSE(fs::exists(folder_ / "absent.db"));
}

}  // namespace
}  // namespace varnolt::sqlite
