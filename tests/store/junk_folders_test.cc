#include "store/junk_folders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backends/mailstore/store_errors.h"
#include "store/property_names.h"
#include "support/faulty_connection.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using ::testing::ElementsAre;
using testing::MessageBuilder;
using testing::StoreTest;
using testing::FaultyConnection;
using testing::StoreFaults;
using testing::StoreCall;

class JunkFoldersTest : public StoreTest {
 protected:
  std::shared_ptr<FaultyConnection> Faulty(std::shared_ptr<StoreFaults> faults) {
    return std::make_shared<FaultyConnection>(connection_, std::move(faults));
  }
};

TEST_F(JunkFoldersTest, JunkMailFolderExistsOnlyWhereAFolderIs) {
  EXPECT_TRUE(OpenJunkMailFolder(*connection_, Url("Junk E-Mail")));
  EXPECT_TRUE(OpenJunkMailFolder(*connection_, Url("junk e-mail")));
  EXPECT_FALSE(OpenJunkMailFolder(*connection_, Url("Spam")));
  // A failing close still means the folder is there.
  auto faults = std::make_shared<StoreFaults>();
  faults->FailOn(StoreCall::kClose, "", ComError(-1, "close failed"));
  EXPECT_TRUE(OpenJunkMailFolder(*Faulty(faults), Url("Junk E-Mail")));
  EXPECT_TRUE(filter_.errors.empty());
}

TEST_F(JunkFoldersTest, SpamboxIsCreatedOnceWithBothProperties) {
  const std::string spambox = Url("Spambox");
  EXPECT_FALSE(OpenSpambox(filter_, *connection_, spambox));
  EXPECT_EQ(Variant::Text(kFolderContentClass), Prop(spambox, kContentClassField));
  EXPECT_EQ(Variant::Text("IPF.Note"), Prop(spambox, ExchangeField("outlookfolderclass")));
  EXPECT_TRUE(OpenSpambox(filter_, *connection_, spambox));
  EXPECT_TRUE(filter_.errors.empty());
}

TEST_F(JunkFoldersTest, SpamboxFailuresAreReportedWithTheLastFailure) {
  struct Case {
    const char* what;
    StoreCall call;
    const char* field;
    const char* expected;
    bool folder_left;
  };
  const Case cases[] = {
      {"create", StoreCall::kOpen, "", "Err: Open Spambox failed: open 0xFFFFFFFE Source: ", false},
      {"content class", StoreCall::kFieldSetValue, kContentClassField,
       "Err: Open Spambox failed: set 0xFFFFFFFE Source: ", true},
      {"commit", StoreCall::kFieldsUpdate, "", "Err: Open Spambox failed: update 0xFFFFFFFE Source: ", true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    filter_.Clear();
    const std::string url = Url("Spambox" + std::to_string(++n));
    auto faults = std::make_shared<StoreFaults>();
    // The first open (does it exist?) fails on its own; the creating open is the second.
    const char* text = c.call == StoreCall::kOpen ? "open" : c.call == StoreCall::kFieldsUpdate ? "update" : "set";
    faults->FailOn(c.call, url, ComError(-2, text), c.field);
    EXPECT_FALSE(OpenSpambox(filter_, *Faulty(faults), url));
    EXPECT_THAT(filter_.ErrorLines(), ElementsAre(c.expected + url));
    EXPECT_EQ(c.folder_left, OpenJunkMailFolder(*connection_, url));
  }
  // When every step fails, the commit's failure is the one reported.
  filter_.Clear();
  auto faults = std::make_shared<StoreFaults>();
  faults->FailOn(StoreCall::kFieldSetValue, "", ComError(-3, "set"));
  faults->FailOn(StoreCall::kFieldsUpdate, "", ComError(-4, "update"));
  EXPECT_FALSE(OpenSpambox(filter_, *Faulty(faults), Url("Spambox")));
  EXPECT_EQ(1, faults->Calls(StoreCall::kFieldsUpdate));
  EXPECT_THAT(filter_.ErrorLines(), ElementsAre("Err: Open Spambox failed: update 0xFFFFFFFC Source: " + Url("Spambox")));
  // The folder left behind is found next time.
  filter_.Clear();
  EXPECT_TRUE(OpenSpambox(filter_, *connection_, Url("Spambox")));
  ExpectErr("Open Spambox failed: ");
}

TEST_F(JunkFoldersTest, SpamIsMovedUnderItsNameOrARetryName) {
  struct Case {
    uint32_t tick;
    const char* name;
  };
  const Case cases[] = {
      {12345678u, "Hello12345678.eml"},
      {2147483648u, "Hello-2147483648.eml"},  // the tick prints as a signed number
      {4294967295u, "Hello-1.eml"},
  };
  const std::string junk = Url("Junk E-Mail");
  auto first = OpenRecord(Deliver(MessageBuilder().Build()));
  EXPECT_TRUE(MoveSpamToFolder(filter_, ticks_, *first, junk, "Hello.EML"));
  EXPECT_EQ(junk + "/Hello.EML", first->Source());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto record = OpenRecord(Deliver(MessageBuilder().Build()));
    ticks_.now = c.tick;
    EXPECT_TRUE(MoveSpamToFolder(filter_, ticks_, *record, junk, "Hello.EML"));
    EXPECT_EQ(junk + "/" + c.name, record->Source());
  }
  EXPECT_TRUE(filter_.errors.empty());
}

TEST_F(JunkFoldersTest, WhenEveryMoveFailsOneReportAfterAHundredAttempts) {
  const std::string item = Deliver(MessageBuilder().Build());
  auto faults = std::make_shared<StoreFaults>();
  auto faulty = Faulty(faults);
  auto record = faulty->CreateRecord();
  record->Open(item, *faulty, ConnectMode::kReadWrite, RecordCreateOptions::kFailIfNotExists,
               RecordOpenOptions::kUnspecified);
  ticks_.step = 1;
  const std::string missing = Url("No Such Folder");
  EXPECT_FALSE(MoveSpamToFolder(filter_, ticks_, *record, missing, "Hello.EML"));
  EXPECT_EQ(100, faults->Calls(StoreCall::kMoveRecord));
  EXPECT_THAT(filter_.ErrorLines(), ElementsAre("Err: Cannot move Spam to " + missing +
                                                ": The parent folder does not exist 0x80047003 Source: " + item));
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre("Hello.EML"));
  ExpectErr("Cannot move Spam to ");
}

TEST_F(JunkFoldersTest, AShortNameGivesNoRetryName) {
  Deliver(MessageBuilder().Build(), "Junk E-Mail", DeliveryOptions{false, "abc"});
  const std::string item = Deliver(MessageBuilder().Build(), "Inbox", DeliveryOptions{false, "abc"});
  auto faults = std::make_shared<StoreFaults>();
  auto faulty = Faulty(faults);
  auto record = faulty->CreateRecord();
  record->Open(item, *faulty, ConnectMode::kReadWrite, RecordCreateOptions::kFailIfNotExists,
               RecordOpenOptions::kUnspecified);
  EXPECT_FALSE(MoveSpamToFolder(filter_, ticks_, *record, Url("Junk E-Mail"), "abc"));
  EXPECT_EQ(1, faults->Calls(StoreCall::kMoveRecord));  // the retries never get to move
  EXPECT_THAT(filter_.ErrorLines(), ElementsAre("Err: Cannot move Spam to " + Url("Junk E-Mail") +
                                                ": Invalid procedure call or argument 0x5 Source: " + item));
  ExpectErr("Cannot move Spam to ");
}

}  // namespace
}  // namespace varnolt
