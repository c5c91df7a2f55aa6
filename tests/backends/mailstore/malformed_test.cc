// Malformed mail is stored byte for byte with whatever can be derived.
#include <gtest/gtest.h>

#include "store/property_names.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using testing::MessageBuilder;
using testing::MimePart;
using testing::StoreTest;

class MalformedMailTest : public StoreTest {};

TEST_F(MalformedMailTest, IsStoredWithWhatCanBeDerived) {
  struct Case {
    const char* what;
    std::string message;
    const char* subject;  // nullptr: no subject property
    const char* plain;    // nullptr: no plain body property
  };
  const Case cases[] = {
      {"no separator", "Subject: Only headers\r\nFrom: a@example.org", "Only headers", ""},
      {"body without separator", "Subject: Glued\r\nthis line is no header\r\nmore", "Glued", nullptr},
      {"empty body", "Subject: Nothing inside\r\n\r\n", "Nothing inside", ""},
      {"LF endings", "Subject: Unix\n\nbody\n", "Unix", "body\n"},
      {"8-bit header", "Subject: Caf\xE9 cr\xE8me\r\nFrom: \xFF\xFE <x@example.org>\r\n\r\nbody\r\n", "Café crème",
       "body\r\n"},
      {"broken boundary",
       "Subject: Broken\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\nContent-Type: text/plain\r\n\r\n"
       "first part, never closed\r\n--b2--\r\n",
       "Broken", nullptr},
      {"missing boundary parameter",
       "Subject: No boundary\r\nContent-Type: multipart/alternative\r\n\r\nplain words\r\n", "No boundary",
       nullptr},
      {"bad base64", "Subject: Bad\r\nContent-Transfer-Encoding: base64\r\n\r\n!!!not base64***\r\n", "Bad", nullptr},
      {"unknown charset", "Subject: =?x-unknown?Q?abc?=\r\nContent-Type: text/plain; charset=x-unknown\r\n\r\nabc\r\n",
       "abc", "abc\r\n"},
      {"NUL bytes", std::string("Subject: Nul\r\n\r\na\0b\r\n", 18), "Nul", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeliveryOptions options;
    options.item_name = std::string(c.what) + ".EML";
    const std::string url = Deliver(c.message, "Inbox", options);
    EXPECT_EQ(c.message, store_->ReadContent(url));
    EXPECT_EQ(Variant::Text(kMessageContentClass), Prop(url, kContentClassField));
    if (c.subject) {
      EXPECT_EQ(Variant::Text(c.subject), Prop(url, "urn:schemas:httpmail:subject"));
    }
    if (c.plain) {
      EXPECT_EQ(Variant::Text(c.plain), Prop(url, MapiField("x1000001E")));
    }
  }
}

TEST_F(MalformedMailTest, ALargeAttachmentIsStoredWhole) {
  std::string base64;
  const size_t line_count = 30u * 1024 * 1024 / 57 + 1;  // 57 bytes per 76-character line: about 30 MB decoded
  base64.reserve(line_count * 78);
  const std::string line = std::string(76, 'A') + "\r\n";
  for (size_t i = 0; i < line_count; ++i) base64 += line;
  const std::string message = MessageBuilder()
                                  .Subject("Big one")
                                  .Multipart("mixed")
                                  .AddPart({"text/plain", "", "", "See attachment\r\n"})
                                  .AddPart({"application/octet-stream", "base64", "attachment; filename=\"big.bin\"",
                                            base64})
                                  .Build();
  const std::string url = Deliver(message);
  EXPECT_EQ(message.size(), store_->ReadContent(url).size());
  EXPECT_TRUE(store_->ReadContent(url) == message);
  EXPECT_EQ(Variant::Text("See attachment\r\n"), Prop(url, MapiField("x1000001E")));
  EXPECT_EQ(Variant::Int32(0x10), Prop(url, MapiField("x0E070003")));
}

}  // namespace
}  // namespace varnolt
