// The administrator's store operations: items by number and Message-ID,
// listing details, removing one mailbox among others, and online copies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "backends/mailstore/online_backup.h"
#include "backends/mailstore/store_errors.h"
#include "platform/com/com_error.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using ::testing::ElementsAre;
using testing::MessageBuilder;
using testing::StoreTest;

class StoreAdminTest : public StoreTest {};

TEST_F(StoreAdminTest, ItemsAreFoundByTheirNumberAndMessageId) {
  const std::string first = Deliver(MessageBuilder().Header("Message-ID", "<a@example.net>").Subject("A").Build());
  const std::string second = Deliver(MessageBuilder().Header("Message-ID", " <b@example.net> ").Subject("B").Build());
  const std::string copy = Deliver(MessageBuilder().Header("Message-ID", "<b@example.net>").Subject("C").Build());
  const std::vector<ItemSummary> items = store_->ListItems(Url("Inbox"));
  ASSERT_EQ(3u, items.size());
  EXPECT_EQ(first, store_->ItemUrlById(items[0].id));

  const std::string moved = store_->MoveItem(first, Url("Drafts"));
  EXPECT_EQ(moved, store_->ItemUrlById(items[0].id)) << "a move keeps the number";
  EXPECT_EQ(std::nullopt, store_->ItemUrlById(0));
  EXPECT_EQ(std::nullopt, store_->ItemUrlById(999999));

  struct Case {
    std::string message_id;
    std::vector<std::string> urls;
  };
  const Case cases[] = {
      {"<a@example.net>", {moved}},
      {"a@example.net", {moved}},
      {" <b@example.net>", {second, copy}},
      {"<A@example.net>", {}},  // Message-IDs keep their letter case
      {"", {}},
      {"<>", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message_id);
    EXPECT_EQ(c.urls, store_->FindItemsByMessageId(c.message_id));
  }
}

TEST_F(StoreAdminTest, ListingsGiveSizeAndDate) {
  const std::string bytes = MessageBuilder().Header("Date", "Mon, 21 Dec 2026 09:00:00 +0100").Subject("D").Build();
  Deliver(bytes);
  Deliver(MessageBuilder().Header("Date", "not a date").Subject("E").Build());
  const std::vector<ItemSummary> items = store_->ListItems(Url("Inbox"));
  ASSERT_EQ(2u, items.size());
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), items[0].size);
  EXPECT_EQ(std::optional<int64_t>(1797840000), items[0].date);  // 2026-12-21 08:00 UTC
  EXPECT_EQ(std::nullopt, items[1].date);
}

TEST_F(StoreAdminTest, RemovingAMailboxLeavesItsNeighboursWhole) {
  // Names that sort right beside alice's URL keys, before and after its "/".
  for (const char* user : {"alice-x", "alice.x", "alice0", "alicf"}) store_->AddMailbox(kDomain, user);
  for (const char* user : {"alice-x", "alice.x", "alice0", "alicf"}) {
    store_->Deliver(MailStore::FolderUrl(kDomain, user, "Inbox"), MessageBuilder().Subject("Kept").Build());
  }
  Deliver(MessageBuilder().Subject("Gone").Build());
  store_->AddFolder(Url("Inbox/Sub"));
  Deliver(MessageBuilder().Subject("Deep").Build(), "Inbox/Sub");
  EXPECT_EQ(2, store_->CountMailboxItems(kDomain, "ALICE"));

  store_->RemoveMailbox(kDomain, kUser);
  std::vector<std::string> users;
  for (const MailboxName& name : store_->ListMailboxes()) {
    users.push_back(name.user);
    EXPECT_EQ(1, store_->CountMailboxItems(name.domain, name.user)) << name.user;
  }
  EXPECT_THAT(users, ElementsAre("alice-x", "alice.x", "alice0", "alicf"));
  for (const std::string& url : {MailStore::MailboxUrl(kDomain, kUser), Url("Inbox"), Url("Inbox/Sub")}) {
    EXPECT_THROW(store_->Describe(url), ComError) << url;
  }
  try {
    store_->RemoveMailbox(kDomain, kUser);
    ADD_FAILURE() << "removed twice";
  } catch (const ComError& error) {
    EXPECT_EQ(kStoreNotFound, error.number());
  }
  store_->AddMailbox(kDomain, kUser);
  EXPECT_EQ(0, store_->CountMailboxItems(kDomain, kUser)) << "a new mailbox of that name starts empty";
}

TEST(OnlineBackupTest, CopiesAStoreThatIsOpenAndRefusesToOverwrite) {
  std::string pattern = (std::filesystem::temp_directory_path() / "varnolt-backup-XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(pattern.data()));
  const std::string dir = pattern;
  {
    auto store = MailStore::Open(dir + "/store.db");
    store->AddMailbox("example.com", "alice");
    store->Deliver(MailStore::FolderUrl("example.com", "alice", "Inbox"), MessageBuilder().Subject("Live").Build());
    EXPECT_TRUE(IsSqliteDatabase(dir + "/store.db"));
    // The source stays open, with its write-ahead log, while it is copied.
    CopyDatabaseOnline(dir + "/store.db", dir + "/copy.db");
    EXPECT_THROW(CopyDatabaseOnline(dir + "/store.db", dir + "/copy.db"), ComError);
    EXPECT_THROW(CopyDatabaseOnline(dir + "/missing.db", dir + "/other.db"), ComError);
    EXPECT_FALSE(std::filesystem::exists(dir + "/other.db")) << "a failed copy leaves nothing";
  }
  auto copy = MailStore::Open(dir + "/copy.db", /*create_if_missing=*/false);
  const auto items = copy->ListItems(MailStore::FolderUrl("example.com", "alice", "Inbox"));
  ASSERT_EQ(1u, items.size());
  EXPECT_EQ("Live", items[0].subject);
  EXPECT_FALSE(IsSqliteDatabase(dir + "/missing.db"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnolt
