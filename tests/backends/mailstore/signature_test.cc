// The store's file signature: distinct from the spam engine's model, with the
// stores of earlier releases (which carried the model's) still readable.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sqlite3.h>

#include "backends/mailstore/mail_store.h"
#include "backends/mailstore/store_errors.h"
#include "platform/com/com_error.h"
#include "support/message_builder.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kStoreId = 0x564E4D42;   // "VNMB"
constexpr int64_t kSharedId = 0x564E4C54;  // "VNLT", the model file's too in earlier releases
// (the engine's refusal of a store file: tests/engine/model_file_test.cc)

class StoreSignatureTest : public ::testing::Test {
 protected:
  StoreSignatureTest() {
    dir_ = fs::path(::testing::TempDir()) /
           ("store-signature-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "store.db").string();
  }
  ~StoreSignatureTest() override { fs::remove_all(dir_); }

  static int64_t Pragma(const std::string& path, const std::string& name) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, ("PRAGMA " + name).c_str(), -1, &stmt, nullptr);
    const int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
  }
  static void Exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static int32_t OpenError(const std::string& path) {
    try {
      MailStore::Open(path, false);
    } catch (const ComError& e) {
      return e.number();
    }
    return 0;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(StoreSignatureTest, ANewStoreCarriesItsOwnId) {
  MailStore::Open(path_)->AddMailbox("example.com", "alice");
  EXPECT_EQ(kStoreId, Pragma(path_, "application_id"));
  EXPECT_EQ(1, Pragma(path_, "user_version"));
}

TEST_F(StoreSignatureTest, AStoreOfAnEarlierReleaseIsReMarkedAndKeepsItsMail) {
  std::string url;
  {
    auto store = MailStore::Open(path_);
    store->AddMailbox("example.com", "alice");
    url = store->Deliver(MailStore::FolderUrl("example.com", "alice", "Inbox"),
                         testing::MessageBuilder().Subject("Kept").Build());
  }
  Exec(path_, "PRAGMA application_id = " + std::to_string(kSharedId));
  {
    auto store = MailStore::Open(path_, false);
    EXPECT_EQ(url, store->Describe(url).url);
    EXPECT_NE(std::string::npos, store->ReadContent(url).find("Subject: Kept"));
  }
  EXPECT_EQ(kStoreId, Pragma(path_, "application_id"));
}

// A model file of an earlier release carries the same old id and version 1,
// but none of the store's tables: it is refused and left as it was.
TEST_F(StoreSignatureTest, AModelFileWithTheOldIdIsNoStore) {
  Exec(path_, "PRAGMA application_id = " + std::to_string(kSharedId) +
                  "; PRAGMA user_version = 1; CREATE TABLE weights(bucket INTEGER PRIMARY KEY, entries BLOB);");
  const std::string before = Bytes(path_);
  EXPECT_EQ(kStoreNotAStore, OpenError(path_));
  EXPECT_EQ(before, Bytes(path_));
  EXPECT_EQ(kSharedId, Pragma(path_, "application_id"));
}

}  // namespace
}  // namespace varnolt
