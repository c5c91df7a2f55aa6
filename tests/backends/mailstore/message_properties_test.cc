// What a delivered message's content gives its item.
#include <gmock/gmock.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <optional>

#include "backends/mailstore/message_properties.h"
#include "backends/mailstore/raw_headers.h"
#include "platform/com/com_error.h"
#include "store/property_names.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using testing::MessageBuilder;
using testing::MimePart;
using testing::StoreTest;

const std::string kPlain = MapiField("x1000001E");
const std::string kHtml = MapiField("x1013001E");

struct BodyCase {
  const char* what;
  std::string message;
  std::optional<std::string> plain;  // nullopt: no plain body property
  std::optional<std::string> html;
  int32_t flags;
};

class MessagePropertiesTest : public StoreTest {};

TEST_F(MessagePropertiesTest, BodiesAreDecodedToUtf8) {
  const BodyCase cases[] = {
      {"plain", MessageBuilder().Body("Hi there\r\n").Build(), "Hi there\r\n", std::nullopt, 0},
      {"html only", MessageBuilder().Body("<p>Hi</p>\r\n", "text/html; charset=utf-8").Build(), std::nullopt,
       "<p>Hi</p>\r\n", 0},
      {"alternative",
       MessageBuilder()
           .Multipart("alternative")
           .AddPart({"text/plain; charset=us-ascii", "", "", "Plain text\r\n"})
           .AddPart({"text/html; charset=us-ascii", "", "", "<b>Rich</b>\r\n"})
           .Build(),
       "Plain text\r\n", "<b>Rich</b>\r\n", 0},
      {"quoted-printable latin-1",
       MessageBuilder().Body("Gr=FC=DFe, caf=E9=\r\n au lait\r\n", "text/plain; charset=iso-8859-1",
                             "quoted-printable").Build(),
       "Grüße, café au lait\r\n", std::nullopt, 0},
      {"base64 utf-8", MessageBuilder().Body("w4RwZmVsIHVuZCBCaXJuZW4=\r\n", "text/plain; charset=utf-8", "base64").Build(),
       "Äpfel und Birnen", std::nullopt, 0},
      {"undeclared 8-bit", MessageBuilder().Body("caf\xE9\r\n", "text/plain").Build(), "café\r\n", std::nullopt, 0},
      {"attachment is no body",
       MessageBuilder()
           .Multipart("mixed")
           .AddPart({"text/html", "", "", "<i>Body</i>"})
           .AddPart({"text/plain", "", "attachment; filename=\"notes.txt\"", "not the body"})
           .Build(),
       std::nullopt, "<i>Body</i>", 0x10},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string url = Deliver(c.message);
    if (c.plain) {
      EXPECT_EQ(Variant::Text(*c.plain), Prop(url, kPlain));
    } else {
      EXPECT_FALSE(HasProp(url, kPlain));
    }
    if (c.html) {
      EXPECT_EQ(Variant::Text(*c.html), Prop(url, kHtml));
    } else {
      EXPECT_FALSE(HasProp(url, kHtml));
    }
    EXPECT_EQ(Variant::Int32(c.flags), Prop(url, MapiField("x0E070003")));
    EXPECT_EQ(Variant::Text("IPM.Note"), Prop(url, MapiField("x001A001E")));
    EXPECT_EQ(Variant::Text(kMessageContentClass), Prop(url, kContentClassField));
  }
}

TEST_F(MessagePropertiesTest, HeadersAreUnfoldedDecodedFirstOccurrence) {
  const std::string url = Deliver(MessageBuilder()
                                      .Subject("=?UTF-8?B?w4RwZmVs?= and =?iso-8859-1?Q?Birnen_f=FCr_dich?=")
                                      .From("=?utf-8?q?J=C3=BCrgen?= <j@example.org>")
                                      .Header("X-Long", "first part\r\n\tsecond part")
                                      .Header("Received", "from a.example by b.example")
                                      .Header("received", "from c.example by a.example")
                                      .Build());
  EXPECT_EQ(Variant::Text("Äpfel and Birnen für dich"), Prop(url, "urn:schemas:httpmail:subject"));
  EXPECT_EQ(Variant::Text("Äpfel and Birnen für dich"), Prop(url, "urn:schemas:mailheader:subject"));
  EXPECT_EQ(Variant::Text("Jürgen <j@example.org>"), Prop(url, "urn:schemas:mailheader:from"));
  EXPECT_EQ(Variant::Text("first part\tsecond part"), Prop(url, "urn:schemas:mailheader:x-long"));
  EXPECT_EQ(Variant::Text("from a.example by b.example"), Prop(url, "urn:schemas:mailheader:received"));
  EXPECT_EQ(Url("Inbox/Äpfel and Birnen für dich.EML"), url);
}

TEST_F(MessagePropertiesTest, DecodedHeaderValuesHoldNoLineBreaks) {
  const std::string url = Deliver(
      MessageBuilder()
          .From("=?utf-8?q?Promo_=3Cpromo=40spam1.example=0D=0Aceo=40bank.example=3E?= <promo@spam1.example>")
          .Subject("=?utf-8?b?YQ1iCmN/ZAFl?=")  // a CR b LF c DEL d SOH e
          .Header("X-Tab", "=?utf-8?q?one=09two?=")
          .Build());
  EXPECT_EQ(Variant::Text("Promo <promo@spam1.example  ceo@bank.example> <promo@spam1.example>"),
            Prop(url, "urn:schemas:mailheader:from"));
  EXPECT_EQ(Variant::Text("a b c d e"), Prop(url, "urn:schemas:httpmail:subject"));
  EXPECT_EQ(Variant::Text("one\ttwo"), Prop(url, "urn:schemas:mailheader:x-tab"));
}

TEST_F(MessagePropertiesTest, EmptyTextPartWithACharsetIsAnEmptyBodyWithoutAGlibComplaint) {
  int criticals = 0;
  const guint handler = g_log_set_handler(
      "GLib", static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
      [](const gchar*, GLogLevelFlags, const gchar*, gpointer count) { ++*static_cast<int*>(count); }, &criticals);
  const std::string url = Deliver("Subject: Empty\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n");
  g_log_remove_handler("GLib", handler);
  EXPECT_EQ(Variant::Text(""), Prop(url, kPlain));
  EXPECT_EQ(0, criticals);
}

TEST_F(MessagePropertiesTest, OutsideMailKeepsItsHeaderBlockInsideMailHasNone) {
  const std::string message = MessageBuilder().Build();
  const std::string block = message.substr(0, message.find("\r\n\r\n") + 2);

  const std::string outside = Deliver(message);
  EXPECT_EQ(Variant::Text("SMTP"), Prop(outside, MapiField("x0C1E001E")));
  EXPECT_EQ(Variant::Text(block), Prop(outside, MapiField("x007D001E")));

  DeliveryOptions internal;
  internal.internal = true;
  const std::string inside = Deliver(message, "Inbox", internal);
  EXPECT_EQ(Variant::Text("EX"), Prop(inside, MapiField("x0C1E001E")));
  EXPECT_FALSE(HasProp(inside, MapiField("x007D001E")));
}

TEST_F(MessagePropertiesTest, ComputedPropertiesAreNeverStoredButAlwaysShown) {
  const std::string url = Deliver(MessageBuilder().Build());
  EXPECT_EQ(Variant::Text(url), Prop(url, "DAV:href"));
  EXPECT_EQ(Variant::Text(Url("Inbox")), Prop(url, "DAV:parentname"));
  EXPECT_EQ(Variant::Text("Hello.EML"), Prop(url, "DAV:displayname"));
  EXPECT_EQ(Variant::Bool(false), Prop(url, "DAV:iscollection"));

  auto record = OpenRecord(url);
  EXPECT_THROW(record->GetFields().Item("DAV:href")->SetValue(Variant::Text("x")), ComError);
  // The computed parent URL has the form the mailbox root names Deleted Items in.
  const std::string moved = store_->MoveItem(url, Url("Deleted Items"));
  EXPECT_EQ(Prop(Url(""), kDeletedItemsField), Prop(moved, kParentNameField));
}

}  // namespace
}  // namespace varnolt

namespace varnolt {
namespace {

using mailstore::kMaxBodyTextBytes;

// A body past the bound keeps its first kMaxBodyTextBytes, cut before a
// character, whatever its transfer encoding and charset.
TEST(LargeMessageTest, BodiesAreCutBeforeACharacter) {
  // "é" straddles the bound: two bytes in UTF-8, one in Latin-1.
  const std::string utf8 = std::string(kMaxBodyTextBytes - 1, 'a') + "\xC3\xA9" + std::string(100, 'b');
  gchar* base64 = g_base64_encode(reinterpret_cast<const guchar*>(utf8.data()), utf8.size());
  struct Case {
    const char* what;
    std::string headers;
    std::string body;
  };
  const Case cases[] = {
      {"utf-8", "Content-Type: text/plain; charset=utf-8\r\n", utf8},
      {"undeclared", "Content-Type: text/plain\r\n", utf8},
      {"base64", "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n", base64},
      {"latin-1", "Content-Type: text/plain; charset=iso-8859-1\r\n",
       std::string(kMaxBodyTextBytes - 1, 'a') + "\xE9" + std::string(100, 'b')},
  };
  g_free(base64);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string message = "Subject: big\r\n" + c.headers + "\r\n" + c.body;
    const mailstore::MessageTexts texts = mailstore::DeriveMessageTexts(message);
    ASSERT_TRUE(texts.plain_body);
    EXPECT_LE(texts.plain_body->size(), kMaxBodyTextBytes);
    EXPECT_GE(texts.plain_body->size(), kMaxBodyTextBytes - 4);
    EXPECT_TRUE(g_utf8_validate(texts.plain_body->data(), static_cast<gssize>(texts.plain_body->size()), nullptr));
    EXPECT_EQ(std::string(1000, 'a'), texts.plain_body->substr(0, 1000));
  }
}

// The MIME parser holds every part: a message of many tiny parts is read up to
// the limit on parts, and what comes after it is not looked at.
TEST(LargeMessageTest, TheMimeStructureIsReadUpToTheLimitOnParts) {
  auto message = [](size_t fillers) {
    std::string text = "Subject: parts\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                       "--b\r\nContent-Type: text/plain\r\n\r\nfirst\r\n";
    for (size_t i = 0; i < fillers; ++i) text += "--b\r\nContent-Type: application/x-filler\r\n\r\nx\r\n";
    return text + "--b\r\nContent-Type: text/html\r\n\r\n<p>last</p>\r\n--b--\r\n";
  };
  const mailstore::MessageTexts few = mailstore::DeriveMessageTexts(message(mailstore::kMaxMimeParts - 3));
  ASSERT_TRUE(few.plain_body && few.html_body);
  EXPECT_THAT(*few.plain_body, ::testing::HasSubstr("first"));
  EXPECT_THAT(*few.html_body, ::testing::HasSubstr("last"));
  const mailstore::MessageTexts many = mailstore::DeriveMessageTexts(message(mailstore::kMaxMimeParts - 2));
  ASSERT_TRUE(many.plain_body);
  EXPECT_THAT(*many.plain_body, ::testing::HasSubstr("first"));
  EXPECT_FALSE(many.html_body);
}

TEST(LargeMessageTest, DeliveryCopiesAMessageOnlyToRemoveItsXVarnoltLines) {
  std::string storage;
  const std::string plain = "From x\r\nSubject: s\r\n\r\nbody\r\n";
  const std::string_view view = mailstore::DeliveredView(plain, &storage);
  EXPECT_EQ(plain.data() + 8, view.data());  // the envelope line skipped, nothing copied
  EXPECT_EQ("Subject: s\r\n\r\nbody\r\n", view);
  const std::string marked = "Subject: s\r\nx-varnolt: 2\r\n  folded\r\n\r\nX-Varnolt: in the body\r\n";
  EXPECT_EQ("Subject: s\r\n\r\nX-Varnolt: in the body\r\n", mailstore::DeliveredView(marked, &storage));
  EXPECT_EQ(mailstore::DeliveredContent(marked), mailstore::DeliveredView(marked, &storage));
}

}  // namespace
}  // namespace varnolt
