// Delivery, user moves and client creation: naming, stored bytes, and the
// save event raised inside the write transaction.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backends/mailstore/store_errors.h"
#include "platform/com/com_error.h"
#include "store/mail_marker.h"
#include "store/property_names.h"
#include "support/faulty_connection.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using ::testing::ElementsAre;
using testing::MessageBuilder;
using testing::StoreTest;
using testing::StoreFaults;
using testing::FaultyEvents;

int32_t ErrorNumberOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const ComError& error) {
    return error.number();
  }
  return 0;
}

class DeliveryTest : public StoreTest {};

TEST_F(DeliveryTest, ItemNamesComeFromTheSubjectOrTheGivenName) {
  struct Case {
    const char* subject;
    const char* given;
    const char* expected;
  };
  const Case cases[] = {
      {"Hello", "", "Hello.EML"},
      {"Hello", "", "Hello-2.EML"},
      {"hello", "", "hello-3.EML"},  // names collide ignoring letter case
      {"Hello", "Report.EML", "Report.EML"},
      {"Hello", "Report.EML", "Report-2.EML"},
      {"Hello", "notes", "notes"},
      {"Hello", "notes", "notes-2"},
      {"a/b\\c", "", "a_b_c.EML"},
      {"  padded  ", "", "padded.EML"},
      {"", "", "No Subject.EML"},
      {"..", "", "No Subject-2.EML"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    DeliveryOptions options;
    options.item_name = c.given;
    EXPECT_EQ(Url(std::string("Inbox/") + c.expected), Deliver(MessageBuilder().Subject(c.subject).Build(), "Inbox", options));
  }
}

TEST_F(DeliveryTest, LongSubjectsAreCutAtACharacterBoundary) {
  std::string subject;
  for (int i = 0; i < 60; ++i) subject += "ä";  // 120 bytes
  const std::string url = Deliver(MessageBuilder().Subject(subject).Build());
  const std::string name = url.substr(url.rfind('/') + 1);
  EXPECT_EQ(std::string(subject, 0, 100) + ".EML", name);
}

TEST_F(DeliveryTest, BadGivenNamesAndMissingFoldersFail) {
  DeliveryOptions slash;
  slash.item_name = "a/b.EML";
  EXPECT_EQ(kStoreInvalidName, ErrorNumberOf([&] { Deliver(MessageBuilder().Build(), "Inbox", slash); }));
  EXPECT_EQ(kStoreNotFound, ErrorNumberOf([&] { Deliver(MessageBuilder().Build(), "Nowhere"); }));
  const std::string item = Deliver(MessageBuilder().Build());
  EXPECT_EQ(kStoreNotAFolder, ErrorNumberOf([&] { store_->Deliver(item, MessageBuilder().Build()); }));
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre("Hello.EML"));
}

TEST_F(DeliveryTest, IncomingMarkerHeadersAreDroppedEverythingElseIsKept) {
  const std::string message =
      "X-Varnolt: 1\r\nFrom: a@example.org\r\nx-varnolt: 2\r\n\tcontinued\r\nSubject: Hi\r\n\r\n"
      "X-Varnolt: 1 stays in the body\r\n";
  const std::string url = Deliver(message);
  EXPECT_EQ("From: a@example.org\r\nSubject: Hi\r\n\r\nX-Varnolt: 1 stays in the body\r\n",
            store_->ReadContent(url));
  EXPECT_FALSE(HasProp(url, kMailMarkerField));
}

// A mail server reads the header on to the blank line: a forged marker behind
// a line that is no well-formed header is still a header to it.
TEST_F(DeliveryTest, ForgedMarkersBehindMalformedHeaderLinesAreDroppedToo) {
  struct Case {
    const char* what;
    std::string message;
    std::string stored;
  };
  const std::string end = "Subject: Hi\r\n\r\nX-Varnolt: 1 stays in the body\r\n";
  const Case cases[] = {
      {"a line without a colon", "From: a@example.org\r\nno colon here\r\nX-Varnolt: 1\r\n" + end,
       "From: a@example.org\r\nno colon here\r\n" + end},
      {"a name with a blank", "Bad Name: x\r\nX-Varnolt: 1\r\n" + end, "Bad Name: x\r\n" + end},
      {"a name with an 8-bit byte", "N\xe4me: x\r\nx-varnolt : 1\r\n\tfolded\r\n" + end, "N\xe4me: x\r\n" + end},
      {"a second envelope line", "From a@b.example Mon Dec  7 10:00:00 2026\r\nFrom b@c.example\r\nX-Varnolt: 1\r\n" + end,
       "From b@c.example\r\n" + end},
      {"a marker without a colon", "From: a@example.org\r\nbad line\r\nX-Varnolt\r\n" + end,
       "From: a@example.org\r\nbad line\r\n" + end},
      {"LF line ends", "bad line\nX-Varnolt: 1\nSubject: Hi\n\nbody\n", "bad line\nSubject: Hi\n\nbody\n"},
      {"a look-alike stays", "bad line\r\nX-Varnolt-Not: 1\r\nX Varnolt: 1\r\n" + end,
       "bad line\r\nX-Varnolt-Not: 1\r\nX Varnolt: 1\r\n" + end},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string url = Deliver(c.message);
    EXPECT_EQ(c.stored, store_->ReadContent(url));
    EXPECT_FALSE(HasProp(url, kMailMarkerField));
  }
}

TEST_F(DeliveryTest, ALeadingEnvelopeLineIsRemovedBeforeParsing) {
  struct Case {
    const char* what;
    std::string message;
    std::string stored;
    const char* subject;  // nullptr: the header block ends before one
  };
  const std::string rest = "From: Bob <bob@example.org>\nSubject: Piped\n\nFrom me, with love\n";
  const Case cases[] = {
      {"LF", "From bob@example.org  Mon Dec  7 10:00:00 2026\nX-Varnolt: 1\n" + rest, rest, "Piped"},
      {"CR LF", "From bob@example.org Mon Dec  7 10:00:00 2026\r\nSubject: Piped\r\n\r\nx\r\n",
       "Subject: Piped\r\n\r\nx\r\n", "Piped"},
      {"a From header stays", rest, rest, "Piped"},
      {"only the first line goes", "From a@b.example\nFrom b@c.example\nSubject: Piped\n\n",
       "From b@c.example\nSubject: Piped\n\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string url = Deliver(c.message);
    EXPECT_EQ(c.stored, store_->ReadContent(url));
    if (c.subject) {
      EXPECT_EQ(Variant::Text(c.subject), Prop(url, "urn:schemas:httpmail:subject"));
    }
    EXPECT_FALSE(HasProp(url, kMailMarkerField));
  }
  const std::string first = Url("Inbox/Piped.EML");
  EXPECT_EQ(Variant::Text("Bob <bob@example.org>"), Prop(first, kFromField));
  EXPECT_EQ(Variant::Text("From: Bob <bob@example.org>\nSubject: Piped\n"), Prop(first, MapiField("x007D001E")));
}

TEST_F(DeliveryTest, LinesEndingInALoneCrAreHeaderLinesToo) {
  const std::string url = Deliver("X-Varnolt: 1\rFrom: Bob <bob@example.org>\rSubject: Old Mac\r\rBody line\r");
  EXPECT_EQ("From: Bob <bob@example.org>\rSubject: Old Mac\r\rBody line\r", store_->ReadContent(url));
  EXPECT_EQ(Url("Inbox/Old Mac.EML"), url);
  EXPECT_EQ(Variant::Text("Bob <bob@example.org>"), Prop(url, kFromField));
  EXPECT_EQ(Variant::Text("Body line\n"), Prop(url, MapiField("x1000001E")));
  EXPECT_FALSE(HasProp(url, kMailMarkerField));
}

TEST_F(DeliveryTest, NothingLeftToStoreIsRefused) {
  const char* messages[] = {"", "X-Varnolt: 1\r\n", "X-Varnolt: 2", "From a@b.example Mon Dec  7 10:00:00 2026\n",
                            "From a@b.example\rX-Varnolt: 1\r"};
  for (const char* message : messages) {
    SCOPED_TRACE(message);
    EXPECT_EQ(kStoreEmptyMessage, ErrorNumberOf([&] { Deliver(message); }));
  }
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre());
}

TEST_F(DeliveryTest, AMailboxRootHoldsNoItems) {
  const std::string item = Deliver(MessageBuilder().Build());
  EXPECT_EQ(kStoreRootHoldsNoItems, ErrorNumberOf([&] { Deliver(MessageBuilder().Build(), ""); }));
  EXPECT_EQ(kStoreRootHoldsNoItems, ErrorNumberOf([&] { store_->MoveItem(item, Url("")); }));
  EXPECT_EQ(kStoreRootHoldsNoItems, ErrorNumberOf([&] { store_->CreateItem(Url(""), "Note.eml", "x"); }));
  auto record = connection_->CreateRecord();
  EXPECT_EQ(kStoreRootHoldsNoItems, ErrorNumberOf([&] {
              record->Open(Url("Loose.eml"), *connection_, ConnectMode::kReadWrite,
                           RecordCreateOptions::kCreateOverwrite, RecordOpenOptions::kUnspecified);
            }));
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre("Hello.EML"));
}

TEST_F(DeliveryTest, ContentIsStoredByteForByte) {
  std::string message = MessageBuilder().Build();
  message += std::string("\0\xff\r\r\n\n", 6);
  EXPECT_EQ(message, store_->ReadContent(Deliver(message)));
}

TEST_F(DeliveryTest, TheEventSeesTheCommittedItemAndTheFilterMayMoveIt) {
  UseSink();
  sink_.on_save = [&](IExStoreDispEventInfo& info, const std::string& url, int32_t) {
    auto record = info.EventRecord();
    EXPECT_EQ(url, record->Source());
    EXPECT_EQ(Url("Inbox"), record->ParentURL());
    SetMailMarker(filter_, *record, kMarkerSpam);
    record->MoveRecord(record->Source(), Url("Junk E-Mail/Moved.eml"), "", "", MoveRecordOptions::kUnspecified,
                       false);
    return S_OK;
  };
  EXPECT_EQ(Url("Junk E-Mail/Moved.eml"), Deliver(MessageBuilder().Build()));
  ASSERT_EQ(1u, sink_.saves.size());  // the filter's own changes raised nothing
  EXPECT_EQ(Url("Inbox/Hello.EML"), sink_.saves[0].url);
  EXPECT_EQ(kEventFlagsDelivery, sink_.saves[0].flags);
  EXPECT_EQ(Variant::Int32(2), Prop(Url("Junk E-Mail/Moved.eml"), kMailMarkerField));
}

TEST_F(DeliveryTest, AFailingSinkRollsTheDeliveryBack) {
  UseSink();
  sink_.on_save = [&](IExStoreDispEventInfo& info, const std::string&, int32_t) {
    SetMailMarker(filter_, *info.EventRecord(), kMarkerHam);
    return E_FAIL;
  };
  EXPECT_EQ(kStoreEventAborted, ErrorNumberOf([&] { Deliver(MessageBuilder().Build()); }));
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre());
  sink_.on_save = nullptr;
  EXPECT_EQ(Url("Inbox/Hello.EML"), Deliver(MessageBuilder().Build()));
}

TEST_F(DeliveryTest, EventObjectsStopWorkingWhenTheEventEnds) {
  UseSink();
  std::shared_ptr<Record> kept_record;
  std::shared_ptr<Connection> kept_connection;
  sink_.on_save = [&](IExStoreDispEventInfo& info, const std::string&, int32_t) {
    kept_record = info.EventRecord();
    kept_connection = info.EventConnection();
    return S_OK;
  };
  Deliver(MessageBuilder().Build());
  EXPECT_EQ(kStoreEventEnded, ErrorNumberOf([&] { kept_record->Source(); }));
  auto record = kept_connection->CreateRecord();
  EXPECT_EQ(kStoreEventEnded, ErrorNumberOf([&] {
              record->Open(Url("Inbox"), *kept_connection, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
                           RecordOpenOptions::kDelayFetchAll);
            }));
}

TEST_F(DeliveryTest, TheSinkCanBeHandedAFaultyStore) {
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
  // Even the record's URL could not be read for the report.
  EXPECT_THAT(filter_.ErrorLines(), ElementsAre("Err: MailMarker (Get) failed: all broken 0xFFFFFFF9 Source: "));
}

TEST_F(DeliveryTest, UserMovesChooseAFreeNameAndRaiseTheMoveEvent) {
  const std::string first = Deliver(MessageBuilder().Build());
  const std::string second = Deliver(MessageBuilder().Build(), "Drafts");
  UseSink();
  EXPECT_EQ(Url("Drafts/Hello-2.EML"), store_->MoveItem(first, Url("drafts")));
  EXPECT_EQ(Url("Inbox/Hello.EML"), store_->MoveItem(second, Url("Inbox")));
  ASSERT_EQ(2u, sink_.saves.size());
  EXPECT_EQ(Url("Drafts/Hello-2.EML"), sink_.saves[0].url);
  EXPECT_EQ(kEventFlagsUserMove, sink_.saves[0].flags);
  EXPECT_EQ(kStoreSameFolder, ErrorNumberOf([&] { store_->MoveItem(Url("Inbox/Hello.EML"), Url("Inbox")); }));
  EXPECT_EQ(kStoreNotAnItem, ErrorNumberOf([&] { store_->MoveItem(Url("Inbox"), Url("Drafts")); }));
}

TEST_F(DeliveryTest, ClientCreatedItemsAreInsideMailWithTheCreateFlags) {
  UseSink();
  const std::string url = store_->CreateItem(Url("Inbox"), "Note.eml", "Subject: Mine\r\nX-Varnolt: 2\r\n\r\nx\r\n");
  EXPECT_EQ(Url("Inbox/Note.eml"), url);
  ASSERT_EQ(1u, sink_.saves.size());
  EXPECT_EQ(kEventFlagsClientCreate, sink_.saves[0].flags);
  EXPECT_EQ(Variant::Text("EX"), Prop(url, MapiField("x0C1E001E")));
  EXPECT_EQ(Variant::Text("2"), Prop(url, kMailMarkerField));  // a client's own content is its own
}

TEST_F(DeliveryTest, RaisedEventsCarryExactFlagsAndSystemEventsReachTheSink) {
  const std::string url = Deliver(MessageBuilder().Build());
  UseSink();
  EXPECT_EQ(url, store_->RaiseSaveEvent(url, 0x01000048));
  EXPECT_EQ(kStoreNotFound, ErrorNumberOf([&] { store_->RaiseSaveEvent(Url("Inbox/None.EML"), 0x01000048); }));
  store_->RaiseStartup();
  store_->RaiseTimer();
  store_->RaiseShutdown();
  ASSERT_EQ(1u, sink_.saves.size());
  EXPECT_EQ(0x01000048, sink_.saves[0].flags);
  EXPECT_THAT(sink_.system_events,
              ElementsAre("startup " + store_->StoreGuid() + " Mailbox Store", "timer file://./backofficestorage/",
                          "shutdown " + store_->StoreGuid()));
}

TEST_F(DeliveryTest, HostOperationsCannotRunInsideASink) {
  UseSink();
  int32_t nested = 0;
  sink_.on_save = [&](IExStoreDispEventInfo&, const std::string&, int32_t) {
    nested = ErrorNumberOf([&] { Deliver(MessageBuilder().Build()); });
    return S_OK;
  };
  Deliver(MessageBuilder().Build());
  EXPECT_EQ(kStoreInvalidArgument, nested);
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre("Hello.EML"));
}

}  // namespace
}  // namespace varnolt
