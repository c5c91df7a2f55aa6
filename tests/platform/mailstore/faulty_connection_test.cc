// The fault-injecting connection fails exactly what it is told to and
// forwards everything else.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/mailstore/faulty_connection.h"
#include "store/mail_marker.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using testing::MessageBuilder;
using testing::StoreTest;

class FaultyConnectionTest : public StoreTest {
 protected:
  FaultyConnectionTest()
      : faults_(std::make_shared<StoreFaults>()), faulty_(std::make_shared<FaultyConnection>(connection_, faults_)) {}

  // The error number of opening the URL for writing through the faulty connection, 0 on success.
  int32_t TryOpen(const std::string& url) {
    auto record = faulty_->CreateRecord();
    try {
      record->Open(url, *faulty_, ConnectMode::kReadWrite, RecordCreateOptions::kFailIfNotExists,
                   RecordOpenOptions::kUnspecified);
    } catch (const ComError& error) {
      return error.number();
    }
    return 0;
  }

  std::shared_ptr<StoreFaults> faults_;
  std::shared_ptr<FaultyConnection> faulty_;
};

TEST_F(FaultyConnectionTest, FailsTheChosenCallOnTheChosenUrlOnly) {
  const std::string item = Deliver(MessageBuilder().Build());
  faults_->FailOn(StoreCall::kOpen, Url("INBOX/hello.eml"), ComError(-5, "injected"));
  EXPECT_EQ(-5, TryOpen(item));
  EXPECT_EQ(0, TryOpen(Url("Inbox")));
  EXPECT_EQ(2, faults_->Calls(StoreCall::kOpen));
  faults_->Clear();
  EXPECT_EQ(0, TryOpen(item));
}

TEST_F(FaultyConnectionTest, FieldRulesAndCountedRulesRunOut) {
  const std::string item = Deliver(MessageBuilder().Build());
  faults_->FailOn(StoreCall::kFieldSetValue, "", ComError(-6, "no writes"), kMailMarkerField, 1);
  auto record = faulty_->CreateRecord();
  record->Open(item, *faulty_, ConnectMode::kReadWrite, RecordCreateOptions::kFailIfNotExists,
               RecordOpenOptions::kUnspecified);
  EXPECT_NO_THROW(record->GetFields().Item("urn:schemas:mailheader:other")->SetValue(Variant::Int32(1)));
  EXPECT_THROW(record->GetFields().Item(kMailMarkerField)->SetValue(Variant::Int32(1)), ComError);
  EXPECT_NO_THROW(record->GetFields().Item(kMailMarkerField)->SetValue(Variant::Int32(2)));
  record->GetFields().Update();
  EXPECT_EQ(Variant::Int32(2), Prop(item, kMailMarkerField));
}

TEST_F(FaultyConnectionTest, SaveEventsCanBeHandedAFaultyStore) {
  UseSink();
  auto faults = std::make_shared<StoreFaults>();
  faults->FailEverything(ComError(-7, "all broken"));
  store_->SetEventWrapper(FaultyEvents(faults));
  sink_.on_save = [&](IExStoreDispEventInfo& info, const std::string&, int32_t) {
    EXPECT_EQ(0, GetMailMarker(filter_, *info.EventRecord()));
    return S_OK;
  };
  ExpectErr("MailMarker (Get) failed: all broken");
  Deliver(MessageBuilder().Build());
  ASSERT_EQ(1u, filter_.errors.size());
  EXPECT_EQ(-7, filter_.errors[0].nErr);
  EXPECT_EQ("", filter_.errors[0].source);  // even the URL could not be read
}

}  // namespace
}  // namespace varnolt
