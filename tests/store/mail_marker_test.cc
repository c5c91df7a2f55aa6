#include "store/mail_marker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/faulty_connection.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using testing::MessageBuilder;
using testing::StoreTest;
using testing::FaultyConnection;
using testing::StoreFaults;
using testing::StoreCall;

class MailMarkerTest : public StoreTest {
 protected:
  MailMarkerTest() : item_(Deliver(MessageBuilder().Build())) {}

  void Store(const Variant& value) {
    auto record = OpenRecord(item_);
    record->GetFields().Item(kMailMarkerField)->SetValue(value);
    record->GetFields().Update();
  }
  int32_t Marker() { return GetMailMarker(filter_, *OpenRecord(item_, ConnectMode::kRead)); }

  std::string item_;
};

TEST_F(MailMarkerTest, StoredValuesConvertToTheMarker) {
  struct Case {
    const char* what;
    Variant stored;
    int32_t marker;
  };
  const Case cases[] = {
      {"number", Variant::Int32(2), 2},       {"short number", Variant::Int16(1), 1},
      {"text", Variant::Text("2"), 2},        {"blanks and fraction", Variant::Text(" 2.5 "), 2},
      {"half to odd", Variant::Text("1.5"), 2}, {"other number", Variant::Int32(7), 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store(c.stored);
    EXPECT_EQ(c.marker, Marker());
  }
  EXPECT_TRUE(filter_.errors.empty());
}

TEST_F(MailMarkerTest, NoMarkerReadsAsNoneWithoutAReport) {
  EXPECT_EQ(kMarkerNone, Marker());
  EXPECT_TRUE(filter_.errors.empty());
}

TEST_F(MailMarkerTest, TextThatIsNoNumberReadsAsNoneWithOneReport) {
  Store(Variant::Text("spam"));
  ExpectErr("MailMarker (Get) failed: ");
  EXPECT_EQ(kMarkerNone, Marker());
  EXPECT_THAT(filter_.ErrorLines(), ::testing::ElementsAre("Err: MailMarker (Get) failed: Type mismatch 0xD Source: " + item_));
}

TEST_F(MailMarkerTest, WritingReplacesTheMarkerAsANumber) {
  Store(Variant::Int32(2));
  auto record = OpenRecord(item_);
  SetMailMarker(filter_, *record, kMarkerHam);
  EXPECT_EQ(Variant::Int32(1), Prop(item_, kMailMarkerField));
  EXPECT_EQ(kMarkerHam, Marker());
  EXPECT_EQ(kMarkerHam, GetMailMarker(filter_, *record));
}

TEST_F(MailMarkerTest, FailuresAreReportedOnceAndNotRaised) {
  struct Case {
    StoreCall call;
    const char* prefix;
    int32_t read;  // what GetMailMarker gives afterwards on the same record
  };
  const Case cases[] = {
      {StoreCall::kFieldsItem, "MailMarker (Set) failed: ", kMarkerSpam},
      {StoreCall::kFieldSetValue, "MailMarker (Set) failed: ", kMarkerSpam},
      {StoreCall::kFieldsUpdate, "MailMarker (Set) failed: ", kMarkerHam},  // still staged on the record
      {StoreCall::kFieldStatus, "MailMarker (Get) failed: ", kMarkerNone},
      {StoreCall::kFieldValue, "MailMarker (Get) failed: ", kMarkerNone},
  };
  Store(Variant::Int32(2));
  for (const Case& c : cases) {
    filter_.Clear();
    auto faults = std::make_shared<StoreFaults>();
    faults->FailOn(c.call, item_, ComError(-1000, "injected"), "", 1);
    FaultyConnection faulty(connection_, faults);
    auto record = faulty.CreateRecord();
    record->Open(item_, faulty, ConnectMode::kReadWrite, RecordCreateOptions::kFailIfNotExists,
                 RecordOpenOptions::kUnspecified);
    SetMailMarker(filter_, *record, kMarkerHam);
    const int32_t read = GetMailMarker(filter_, *record);
    SCOPED_TRACE(c.prefix);
    EXPECT_THAT(filter_.ErrorLines(),
                ::testing::ElementsAre(std::string("Err: ") + c.prefix + "injected 0xFFFFFC18 Source: " + item_));
    EXPECT_EQ(c.read, read);
  }
  EXPECT_EQ(Variant::Int32(1), Prop(item_, kMailMarkerField));  // from the Get rows, whose writes worked
  filter_.Clear();
}

}  // namespace
}  // namespace varnolt
