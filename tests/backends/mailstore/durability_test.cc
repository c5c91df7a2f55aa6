// The store in a file: several processes at once, processes that die inside
// an event, and files that are not stores.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include <sqlite3.h>

#include "backends/mailstore/store_errors.h"
#include "platform/com/com_error.h"
#include "store/junk_folders.h"
#include "store/mail_marker.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using testing::MessageBuilder;
using testing::RecordingFilter;
using testing::ScriptedSink;

constexpr const char* kDomain = "example.com";
constexpr const char* kUser = "alice";

std::string Url(const std::string& path) { return MailStore::FolderUrl(kDomain, kUser, path); }

class DurabilityTest : public ::testing::Test {
 protected:
  DurabilityTest() {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("store-durability-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "store.db").string();
    MailStore::Open(path_)->AddMailbox(kDomain, kUser);
  }
  ~DurabilityTest() override { std::filesystem::remove_all(dir_); }

  // Runs body in a child process and returns its exit status (-1 when it did not exit).
  static int InChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      int status = 99;
      try {
        status = body();
      } catch (...) {
        status = 98;
      }
      ::_exit(status);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(DurabilityTest, TwoProcessesDeliveringAtOnceLoseNothing) {
  constexpr int kEach = 40;
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      int status = 0;
      try {
        auto store = MailStore::Open(path_);
        ScriptedSink sink;
        // Holding the write lock a while inside the event makes the two collide.
        sink.on_save = [](IExStoreDispEventInfo&, const std::string&, int32_t) {
          ::usleep(500);
          return S_OK;
        };
        store->RegisterSyncSink(ComPtr<IExStoreSyncEvents>::Share(&sink));
        for (int i = 0; i < kEach; ++i) {
          const std::string body = "child " + std::to_string(child) + " message " + std::to_string(i) + "\r\n";
          store->Deliver(Url("Inbox"), MessageBuilder().Subject("Race").Body(body).Build());
        }
        store->RegisterSyncSink(nullptr);
      } catch (...) {
        status = 1;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto store = MailStore::Open(path_);
  const auto items = store->ListItems(Url("Inbox"));
  ASSERT_EQ(2u * kEach, items.size());
  std::set<std::string> bodies;
  for (const auto& item : items) {
    const std::string content = store->ReadContent(item.url);
    bodies.insert(content.substr(content.find("\r\n\r\n") + 4));
  }
  EXPECT_EQ(2u * kEach, bodies.size());
}

TEST_F(DurabilityTest, AProcessKilledInsideTheEventLeavesTheStoreAsBefore) {
  std::string placed;
  {
    auto store = MailStore::Open(path_);
    placed = store->Deliver(Url("Inbox"), MessageBuilder().Subject("Placed").Build());
  }
  struct Case {
    const char* what;
    std::function<void(MailStore&)> operation;
  };
  const Case cases[] = {
      {"delivery", [](MailStore& s) { s.Deliver(Url("Inbox"), MessageBuilder().Subject("New").Build()); }},
      {"user move", [&](MailStore& s) { s.MoveItem(placed, Url("Junk E-Mail")); }},
      {"client create", [](MailStore& s) { s.CreateItem(Url("Drafts"), "Draft.eml", "Subject: d\r\n\r\n"); }},
      {"raised event", [&](MailStore& s) { s.RaiseSaveEvent(placed, kEventFlagsDelivery); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int status = InChild([&] {
      auto store = MailStore::Open(path_);
      ScriptedSink sink;
      RecordingFilter filter;
      testing::FakeTicks ticks;
      // The filter's usual work, then the process dies before the store commits.
      sink.on_save = [&](IExStoreDispEventInfo& info, const std::string&, int32_t) -> HRESULT {
        auto connection = info.EventConnection();
        auto record = info.EventRecord();
        SetMailMarker(filter, *record, kMarkerSpam);
        OpenSpambox(filter, *connection, Url("Spambox"));
        MoveSpamToFolder(filter, ticks, *record, Url("Spambox"), "Moved.eml");
        ::_exit(filter.errors.empty() ? 7 : 8);
      };
      store->RegisterSyncSink(ComPtr<IExStoreSyncEvents>::Share(&sink));
      c.operation(*store);
      return 0;
    });
    EXPECT_EQ(7, status);
    auto store = MailStore::Open(path_);
    EXPECT_EQ(1u, store->ListItems(Url("Inbox")).size());
    EXPECT_EQ(Url("Inbox/Placed.EML"), store->ListItems(Url("Inbox"))[0].url);
    EXPECT_FALSE(store->ListItems(Url("Inbox"))[0].marker.has_value());
    EXPECT_TRUE(store->ListItems(Url("Junk E-Mail")).empty());
    EXPECT_TRUE(store->ListItems(Url("Drafts")).empty());
    EXPECT_EQ(5u, store->ListFolders(kDomain, kUser).size());  // no Spambox
  }
  // The store still takes writes after all that.
  auto store = MailStore::Open(path_);
  EXPECT_EQ(Url("Inbox/After.EML"), store->Deliver(Url("Inbox"), MessageBuilder().Subject("After").Build()));
}

TEST_F(DurabilityTest, WhatWasAcknowledgedSurvivesTheProcess) {
  const int status = InChild([&]() -> int {
    auto store = MailStore::Open(path_);
    store->Deliver(Url("Inbox"), MessageBuilder().Subject("Kept").Build());
    ::_exit(5);  // no orderly close of the database
  });
  EXPECT_EQ(5, status);
  auto store = MailStore::Open(path_);
  ASSERT_EQ(1u, store->ListItems(Url("Inbox")).size());
  EXPECT_EQ("Kept.EML", store->ListItems(Url("Inbox"))[0].name);
}

TEST_F(DurabilityTest, OnlyStoresOfThisVersionAreOpened) {
  const std::string guid = MailStore::Open(path_)->StoreGuid();
  EXPECT_EQ(guid, MailStore::Open(path_, false)->StoreGuid());

  auto error_of = [](const std::string& path, bool create) {
    try {
      MailStore::Open(path, create);
    } catch (const ComError& error) {
      return error.number();
    }
    return 0;
  };
  EXPECT_EQ(kStoreNotFound, error_of((dir_ / "missing.db").string(), false));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.db"));

  const std::string garbage = (dir_ / "garbage.db").string();
  std::ofstream(garbage) << std::string(4096, 'x');
  EXPECT_EQ(kStoreNotAStore, error_of(garbage, true));

  const std::string other = (dir_ / "other.db").string();
  {
    sqlite3* db = nullptr;
    sqlite3_open(other.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE tokens(t TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  EXPECT_EQ(kStoreNotAStore, error_of(other, true));
  {
    // Refused as it was found: still in its own journal mode, nothing beside it.
    sqlite3* db = nullptr;
    sqlite3_open(other.c_str(), &db);
    sqlite3_stmt* mode = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(mode));
    EXPECT_STREQ("delete", reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)));
    sqlite3_finalize(mode);
    sqlite3_close(db);
    EXPECT_FALSE(std::filesystem::exists(other + "-wal"));
  }
  {
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  EXPECT_EQ(kStoreNotAStore, error_of(path_, true));
}

TEST_F(DurabilityTest, ANewStoreIsForItsOwnerAndGroupOnly) {
  const mode_t old_mask = ::umask(022);
  const std::string path = (dir_ / "new.db").string();
  auto store = MailStore::Open(path);
  ::umask(old_mask);
  store->AddMailbox(kDomain, "bob");
  for (const std::string& file : {path, path + "-wal", path + "-shm"}) {  // the journal files while it is open
    SCOPED_TRACE(file);
    struct stat info {};
    ASSERT_EQ(0, ::stat(file.c_str(), &info));
    EXPECT_EQ(0640u, info.st_mode & 0777);
  }
}

}  // namespace
}  // namespace varnolt
