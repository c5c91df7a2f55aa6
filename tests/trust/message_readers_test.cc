// The readers of the message being saved, over records of the in-memory store.
#include "trust/message_readers.h"

#include <gmock/gmock.h>

#include "store/property_names.h"
#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class MessageReadersTest : public TriageTest {
 protected:
  MessageReadersTest() { url_ = Place({}, "Inbox", std::nullopt); }

  // The item's record with the property set (or removed, for an empty value).
  std::unique_ptr<Record> ItemWith(const std::string& name, const Variant& value) {
    std::unique_ptr<Record> record = OpenRecord(url_);
    record->GetFields().Item(name)->SetValue(value);
    record->GetFields().Update();
    record->Close();
    return OpenRecord(url_);
  }

  std::string url_;
};

TEST_F(MessageReadersTest, SenderAddressIsCutFromTheFromHeader) {
  const struct {
    const char* from;
    const char* address;
  } rows[] = {
      {"Bob Sender <bob@example.org>", "bob@example.org"},
      {"<bob@example.org>", "bob@example.org"},
      {"Bob <bob@example.org", "bob@example.org"},
      {"Bob <bob@example.org <second>", "bob@example.org "},
      {"Bob <>", ""},
      {"\"Eve <eve@evil.example>\" <bob@example.org>", "eve@evil.example"},
      {"Bob < bob@example.org >", " bob@example.org "},
      {"", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.from);
    EXPECT_EQ(row.address, GetSenderAddress(*filter_, *ItemWith(kFromField, Variant::Text(row.from))));
  }
  EXPECT_THAT(ErrorLines(), IsEmpty());
}

TEST_F(MessageReadersTest, FromHeaderWithoutUsableBracketIsReported) {
  const char* rows[] = {"bob@example.org", "Bob <", "Bob <<bob@example.org>"};  // no "<", or nothing after it
  ExpectErr("GetSenderAddress failed: ");
  for (const char* from : rows) {
    SCOPED_TRACE(from);
    EXPECT_EQ("", GetSenderAddress(*filter_, *ItemWith(kFromField, Variant::Text(from))));
  }
  EXPECT_THAT(ErrorLines(),
              ElementsAre("Err: GetSenderAddress failed: Subscript out of range 0x9 Source: " + url_,
                          "Err: GetSenderAddress failed: Subscript out of range 0x9 Source: " + url_,
                          "Err: GetSenderAddress failed: Subscript out of range 0x9 Source: " + url_));
}

TEST_F(MessageReadersTest, AddressHoldingAControlCharacterIsNoAddress) {
  const char* rows[] = {"Promo <promo@spam1.example\r\nceo@bank.example> <promo@spam1.example>",
                        "<a@example.org\nb@example.org>", "<a@example.org\x01>", "<a@example.org\x7F>",
                        "<a@example.org\tb>"};
  ExpectErr("GetSenderAddress failed: ");
  for (const char* from : rows) {
    SCOPED_TRACE(from);
    EXPECT_EQ("", GetSenderAddress(*filter_, *ItemWith(kFromField, Variant::Text(from))));
  }
  EXPECT_EQ(std::size(rows), ErrorLines().size());
  EXPECT_EQ("Err: GetSenderAddress failed: Invalid procedure call or argument 0x5 Source: " + url_, ErrorLines()[0]);
}

TEST_F(MessageReadersTest, ReadersOfMissingPropertiesAreSilent) {
  std::unique_ptr<Record> folder = OpenRecord(FolderUrl("Inbox"));
  EXPECT_EQ("", GetSenderAddrType(*folder));
  EXPECT_EQ("", GetTransportHeaders(*folder));
  EXPECT_EQ("", GetBodyText(*folder));
  EXPECT_THAT(LogMessages(), IsEmpty());
}

}  // namespace
}  // namespace varnolt::testing
