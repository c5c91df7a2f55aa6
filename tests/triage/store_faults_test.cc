// The save event over a store that fails chosen calls: what each failure
// costs, and that nothing ever reaches the store as a failure.
#include <gmock/gmock.h>

#include "backends/mailstore/store_errors.h"
#include "store/property_names.h"
#include "support/faulty_connection.h"
#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class StoreFaultsTest : public TriageTest {
 protected:
  StoreFaultsTest() {
    MakeKnownUser();
    store_->SetEventWrapper(FaultyEvents(faults_));
  }

  std::shared_ptr<StoreFaults> faults_ = std::make_shared<StoreFaults>();
};

TEST_F(StoreFaultsTest, SpamboxThatCannotBeMadeLeavesSpamWhereItArrived) {
  SetText("UseJunkMailFolder", "Nowhere");
  SetDword("HideSpam", 1);
  faults_->FailOn(StoreCall::kOpen, FolderUrl("Spambox"), RuntimeError(kPermissionDenied));
  engine_->verdict = true;
  const std::string url = Deliver();
  ExpectErr("Open Spambox failed: ");
  EXPECT_EQ(FolderUrl("Inbox/Hello.EML"), url);
  EXPECT_EQ(2, Marker(url));
  EXPECT_FALSE(Hidden(url));
  EXPECT_FALSE(FolderExists("Spambox"));
  EXPECT_THAT(TriageMessages(), ElementsAre("Err: Open Spambox failed: Permission denied 0x46 Source: " +
                                                FolderUrl("Spambox"),
                                            "New Mail recognized as SPAM : 0ms"));
}

// Lets the first open of a URL through and fails every later one.
class SecondOpenFails final : public StoreCallObserver {
 public:
  explicit SecondOpenFails(std::string url) : url_(std::move(url)) {}
  void BeforeCall(StoreCall call, const std::string& url, const std::string&) override {
    if (call == StoreCall::kOpen && url == url_ && ++opens_ > 1) throw StoreError(kStoreNotFound);
  }

 private:
  std::string url_;
  int opens_ = 0;
};

TEST_F(StoreFaultsTest, JunkFolderGoneAtTheRecheckFallsBackToTheSpambox) {
  SetDword("DebugLevel", 2);
  AddFolder("Spambox");
  auto observer = std::make_shared<SecondOpenFails>(FolderUrl("Junk E-Mail"));
  store_->SetEventWrapper([observer](EventParts parts) {
    auto connection = std::make_shared<ForwardingConnection>(parts.connection, observer);
    return EventParts{connection, connection->Adopt(parts.record)};
  });
  engine_->verdict = true;
  const std::string url = Deliver();
  EXPECT_EQ(FolderUrl("Spambox/Hello.EML"), url);
  const std::vector<std::string> messages = TriageMessages();
  ASSERT_EQ(3u, messages.size());
  EXPECT_EQ("The use of Junk Mail folder is enabled but the folder does not exists! Try to create the Spambox...",
            messages[1]);
  EXPECT_THAT(messages[2], ::testing::HasSubstr("\r\nUseJunkFld: no\r\nJunkFolder: " + FolderUrl("Junk E-Mail") +
                                                    "\r\n"));
}

TEST_F(StoreFaultsTest, FailedHidingEndsTheEventAfterTheMarker) {
  SetDword("HideSpam", 1);
  engine_->verdict = true;
  faults_->FailOn(StoreCall::kFieldSetValue, "", StoreError(kStoreBadValueType), MapiField("x67aa000b"));
  const std::string url = Deliver();
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_EQ(FolderUrl("Inbox/Hello.EML"), url);
  EXPECT_EQ(2, Marker(url));
  EXPECT_FALSE(Hidden(url));
  EXPECT_THAT(ErrorLines(),
              ElementsAre("Err: Varnolt Extension failed: The value is of a type the store cannot hold 0x8004700E "
                          "Source: " + url));
  EXPECT_EQ("", Trace());
}

TEST_F(StoreFaultsTest, UnreadableParentEndsAMoveEvent) {
  faults_->FailOn(StoreCall::kParentURL, "", StoreError(kStoreRecordClosed));
  const std::string url = Move(Place({}, "Inbox", 1), "Junk E-Mail");
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_EQ(1, Marker(url));
  EXPECT_THAT(engine_->calls, IsEmpty());
  EXPECT_THAT(ErrorLines(), ElementsAre("Err: Varnolt Extension failed: Operation is not allowed when the record is "
                                        "closed 0x80047009 Source: " + url));
}

TEST_F(StoreFaultsTest, StoreFailingEveryCallGetsOneReportAndSuccess) {
  SetDword("DebugLevel", 4);
  faults_->FailEverything(StoreError(kStoreDatabaseError));
  const std::string url = Deliver();  // would throw had the filter failed the event
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_EQ(FolderUrl("Inbox/Hello.EML"), url);
  EXPECT_EQ(std::nullopt, Marker(url));
  // The record cannot even tell its URL: the event's URL stands in.
  EXPECT_THAT(ErrorLines(), ElementsAre("Err: Varnolt Extension failed: The store's database failed 0x80047016 "
                                        "Source: " + url));
  EXPECT_EQ(0, engine_->instances);
}

}  // namespace
}  // namespace varnolt::testing
