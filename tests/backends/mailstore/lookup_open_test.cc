// A store opened for lookups: it reads what writers committed, writes nothing
// itself, and refuses or prepares files exactly as a full open does.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <sqlite3.h>

#include "backends/mailstore/mail_store.h"
#include "backends/mailstore/store_errors.h"
#include "platform/com/com_error.h"
#include "support/message_builder.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDomain = "example.com";

class LookupOpenTest : public ::testing::Test {
 protected:
  LookupOpenTest() {
    dir_ = fs::path(::testing::TempDir()) /
           ("store-lookup-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "store.db").string();
  }
  ~LookupOpenTest() override { fs::remove_all(dir_); }

  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static void Exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  static int32_t ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const ComError& error) {
      return error.number();
    }
    return 0;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(LookupOpenTest, ReadsWhatAWriterCommittedAndWritesNothing) {
  auto writer = MailStore::Open(path_);
  writer->AddMailbox(kDomain, "Alice");
  // Still open: the mailbox is in the writer's journal, not yet in the file.
  const std::string store_bytes = Bytes(path_);
  {
    auto reader = MailStore::OpenForReading(path_);
    EXPECT_EQ(writer->StoreGuid(), reader->StoreGuid());
    // Found ignoring letter case, reported as created.
    EXPECT_EQ(MailStore::MailboxUrl(kDomain, "Alice"), reader->Describe(MailStore::MailboxUrl(kDomain, "alice")).url);
    EXPECT_EQ(kStoreNotFound, ErrorOf([&] { reader->Describe(MailStore::MailboxUrl(kDomain, "bob")); }));

    // A change through it fails and leaves the store as it was.
    EXPECT_EQ(kStoreDatabaseError, ErrorOf([&] { reader->AddMailbox(kDomain, "bob"); }));
    EXPECT_EQ(1u, writer->ListMailboxes().size());
  }
  EXPECT_EQ(store_bytes, Bytes(path_));
  // The writer goes on as before.
  writer->Deliver(MailStore::FolderUrl(kDomain, "Alice", "Inbox"), testing::MessageBuilder().Subject("Hi").Build());
}

TEST_F(LookupOpenTest, RefusesAndPreparesFilesAsAFullOpenDoes) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> make;
    int32_t error;        // of both opens; 0: both open it
    bool left_unchanged;  // the file's bytes after a refusal
  };
  const Case cases[] = {
      {"missing", [](const std::string&) {}, kStoreNotFound, false},
      {"not a database", [](const std::string& path) { std::ofstream(path) << std::string(4096, 'x'); },
       kStoreNotAStore, true},
      {"another database",
       [](const std::string& path) { Exec(path, "CREATE TABLE tokens(t TEXT)"); }, kStoreNotAStore, true},
      {"a store of a later version",
       [](const std::string& path) {
         MailStore::Open(path);
         Exec(path, "PRAGMA user_version = 2");
       },
       kStoreNotAStore, true},
      // Files that must be written first: given their schema, re-marked.
      {"an empty file", [](const std::string& path) { std::ofstream{path}; }, 0, false},
      {"a store of an earlier release",
       [](const std::string& path) {
         MailStore::Open(path)->AddMailbox(kDomain, "alice");
         Exec(path, "PRAGMA application_id = " + std::to_string(0x564E4C54));
       },
       0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir_ / (std::string(c.name) + ".db")).string();
    c.make(path);
    const bool existed = fs::exists(path);
    const std::string before = Bytes(path);
    EXPECT_EQ(c.error, ErrorOf([&] { MailStore::OpenForReading(path); }));
    EXPECT_EQ(existed, fs::exists(path));
    if (c.left_unchanged) {
      EXPECT_EQ(before, Bytes(path));
    }
    if (c.error == 0) {
      // Now a store of this version, which a second lookup open only reads.
      auto store = MailStore::OpenForReading(path);
      EXPECT_EQ(MailStore::Open(path, false)->StoreGuid(), store->StoreGuid());
    } else {
      EXPECT_EQ(c.error, ErrorOf([&] { MailStore::Open(path, false); }));
    }
  }
}

}  // namespace
}  // namespace varnolt
