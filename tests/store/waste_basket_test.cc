#include "store/waste_basket.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backends/mailstore/store_names.h"
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

class DetectWasteBasketTest : public StoreTest {};

TEST_F(DetectWasteBasketTest, NamesDeletedItemsInTheFormOfParentUrls) {
  const std::string moved = store_->MoveItem(Deliver(MessageBuilder().Build()), Url("Deleted Items"));
  const std::string found = DetectWasteBasket(filter_, *connection_, "EXAMPLE.COM", "Alice");
  EXPECT_EQ(Url("Deleted Items"), found);
  // The caller's comparison: both sides lower-cased.
  EXPECT_EQ(mailstore::LowerKey(found), mailstore::LowerKey(Prop(moved, kParentNameField).AsText()));
  EXPECT_TRUE(filter_.errors.empty());
}

TEST_F(DetectWasteBasketTest, AMissingMailboxIsReportedAndNothingIsCreated) {
  ExpectErr("Detection of WasteBasket failed: ");
  EXPECT_EQ("", DetectWasteBasket(filter_, *connection_, "D", "U"));
  EXPECT_THAT(filter_.ErrorLines(),
              ElementsAre("Err: Detection of WasteBasket failed: The item or folder does not exist 0x80047001 Source: D/U"));
  EXPECT_EQ(1u, store_->ListMailboxes().size());
}

TEST_F(DetectWasteBasketTest, ReportsFailuresAndKeepsWhatWasRead) {
  struct Case {
    StoreCall call;
    const char* result;
  };
  const Case cases[] = {
      {StoreCall::kOpen, ""},
      {StoreCall::kFieldValue, ""},
      {StoreCall::kClose, "file://./backofficestorage/example.com/MBX/alice/Deleted Items"},
  };
  ExpectErr("Detection of WasteBasket failed: ");
  for (const Case& c : cases) {
    filter_.Clear();
    auto faults = std::make_shared<StoreFaults>();
    faults->FailOn(c.call, Url(""), ComError(-9, "broken"));
    FaultyConnection faulty(connection_, faults);
    EXPECT_EQ(c.result, DetectWasteBasket(filter_, faulty, kDomain, kUser));
    EXPECT_THAT(filter_.ErrorLines(),
                ElementsAre("Err: Detection of WasteBasket failed: broken 0xFFFFFFF7 Source: example.com/alice"));
  }
}

TEST_F(DetectWasteBasketTest, AMailboxWithoutThePropertyIsReported) {
  // A folder made through a record has no Deleted Items property; pass it off as a mailbox root.
  auto bare = connection_->CreateRecord();
  bare->Open("file://./backofficestorage/example.com/MBX/alice/Inbox/Bare", *connection_, ConnectMode::kReadWrite,
             RecordCreateOptions::kCreateCollection, RecordOpenOptions::kUnspecified);
  ExpectErr("Detection of WasteBasket failed: ");
  EXPECT_EQ("", DetectWasteBasket(filter_, *connection_, kDomain, std::string(kUser) + "/Inbox/Bare"));
  EXPECT_THAT(filter_.ErrorLines(),
              ElementsAre("Err: Detection of WasteBasket failed: The item has no such property 0x8004700C Source: "
                          "example.com/alice/Inbox/Bare"));
}

}  // namespace
}  // namespace varnolt
