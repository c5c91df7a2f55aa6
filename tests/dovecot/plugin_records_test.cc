// The filter's own mailbox operations, run unchanged on the plugin's records
// over an in-memory Dovecot user.
#include "dovecot/plugin_records.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "backends/mailstore/store_errors.h"
#include "dovecot/fake_mail_access.h"
#include "manual/user_manual.h"
#include "platform/names/unsaved_item.h"
#include "store/junk_folders.h"
#include "store/mail_marker.h"
#include "store/waste_basket.h"
#include "support/fake_platform.h"
#include "support/recording_filter.h"

namespace varnolt::dovecot {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using varnolt::testing::RecordingFilter;

constexpr const char* kRoot = "file://./backofficestorage/example.com/MBX/alice";
const std::string kMessage =
    "From: Sender <sender@example.net>\r\nSubject: Hello\r\nX-Varnolt: 1\r\n\r\nHi there\r\n";

class PluginRecordsTest : public ::testing::Test {
 protected:
  PluginRecordsTest() {
    for (const char* name : {"INBOX", "Junk E-Mail", "Trash"}) access_.CreateMailbox(name);
  }

  std::unique_ptr<Record> OpenExisting(const std::string& url) {
    auto record = connection_.CreateRecord();
    record->Open(url, connection_, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
                 RecordOpenOptions::kDelayFetchAll);
    return record;
  }

  uint32_t Store(const std::string& mailbox, std::vector<std::string> keywords = {}) {
    return access_.SaveMessage(mailbox, kMessage, keywords);
  }

  std::vector<std::string> Keywords(const std::string& mailbox, uint32_t uid) {
    return access_.mailboxes.at(mailbox).messages.at(uid).keywords;
  }

  testing::FakeMailAccess access_;
  PluginConnection connection_{access_, MailboxUrls("example.com", "alice", '/')};
  RecordingFilter filter_;
};

TEST_F(PluginRecordsTest, StoredMessagesHaveTheDerivedProperties) {
  const uint32_t uid = Store("INBOX");
  auto record = OpenExisting(std::string(kRoot) + "/INBOX/" + std::to_string(uid) + ".EML");
  Fields& fields = record->GetFields();
  // The sender, the place and a missing field: tests/records, for both backends.
  EXPECT_EQ("urn:content-classes:message", fields.Item("DAV:contentclass")->Value().ToText());
  EXPECT_EQ("SMTP", fields.Item("urn:schemas:mapi:proptag:x0C1E001E")->Value().ToText());
}

TEST_F(PluginRecordsTest, DeliveredMailIsSeenAsItWasJudged) {
  const uint32_t uid = Store("INBOX");
  auto record = OpenExisting(std::string(kRoot) + "/INBOX/" + std::to_string(uid) + ".EML");
  const std::string headers = record->GetFields().Item("urn:schemas:mapi:proptag:x007D001E")->Value().ToText();
  EXPECT_EQ("From: Sender <sender@example.net>\r\nSubject: Hello\r\n", headers);
  EXPECT_EQ(kMarkerHam, GetMailMarker(filter_, *record));
  // The same message from a client keeps its lines: they are the client's copy.
  auto appended = PluginRecord::ForMessage(connection_, "INBOX", uid, /*outside=*/false);
  EXPECT_EQ("1", appended->GetFields().Item("urn:schemas:mailheader:x-varnolt")->Value().ToText());
}

TEST_F(PluginRecordsTest, TheMarkerKeywordOverridesTheHeader) {
  struct Case {
    std::vector<std::string> keywords;
    int32_t marker;
  };
  const Case cases[] = {
      {{}, 1},
      {{"$VarnoltMarker2", "$Junk"}, 2},
      {{"$Junk"}, 1},  // a client's own junk flag is no marker
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.keywords));
    const uint32_t uid = Store("INBOX", c.keywords);
    auto record = OpenExisting(std::string(kRoot) + "/INBOX/" + std::to_string(uid) + ".EML");
    EXPECT_EQ(c.marker, GetMailMarker(filter_, *record));
  }
  EXPECT_THAT(filter_.ErrorLines(), IsEmpty());
}

TEST_F(PluginRecordsTest, ANewMarkerReplacesTheOldKeywords) {
  const uint32_t uid = Store("INBOX", {"$VarnoltMarker1", "$NotJunk", "$Seen-like"});
  auto record = OpenExisting(std::string(kRoot) + "/INBOX/" + std::to_string(uid) + ".EML");
  SetMailMarker(filter_, *record, kMarkerSpam);
  EXPECT_THAT(Keywords("INBOX", uid), UnorderedElementsAre("$Seen-like", "$VarnoltMarker2", "$Junk"));
  EXPECT_EQ(kMarkerSpam, GetMailMarker(filter_, *OpenExisting(record->Source())));
  EXPECT_THAT(filter_.ErrorLines(), IsEmpty());
}

TEST_F(PluginRecordsTest, AMarkerForAMessageAnotherSessionMovedIsANoteNotAnError) {
  const uint32_t uid = Store("INBOX", {"$VarnoltMarker1"});
  auto record = OpenExisting(std::string(kRoot) + "/INBOX/" + std::to_string(uid) + ".EML");
  access_.MoveMessage("INBOX", uid, "Junk E-Mail");  // the other session's move
  std::vector<std::string> notes;
  connection_.SetNoteSink(
      [&](const std::string& text, const std::string& source) { notes.push_back(text + " | " + source); });
  SetMailMarker(filter_, *record, kMarkerSpam);
  EXPECT_THAT(filter_.ErrorLines(), IsEmpty());
  EXPECT_THAT(notes, ElementsAre("another session moved or deleted the message before its marker 2 was written | " +
                                 record->Source()));
  // Any other failure of the write is still the filter's to report.
  auto moved = OpenExisting(std::string(kRoot) + "/Junk E-Mail/1.EML");
  access_.mailboxes.erase("Junk E-Mail");  // the fake's failure of another kind
  SetMailMarker(filter_, *moved, kMarkerHam);
  EXPECT_EQ(1u, filter_.ErrorLines().size());
  EXPECT_EQ(1u, notes.size());
}

TEST_F(PluginRecordsTest, HidingIsAKeywordThatComesAndGoes) {
  const uint32_t uid = Store("INBOX", {"$VarnoltMarker2", "$Junk"});
  const std::string url = std::string(kRoot) + "/INBOX/" + std::to_string(uid) + ".EML";
  for (bool hidden : {true, true, false}) {
    SCOPED_TRACE(hidden);
    auto record = OpenExisting(url);
    record->GetFields().Item("urn:schemas:mapi:proptag:x67aa000b")->SetValue(Variant::Bool(hidden));
    record->GetFields().Update();
    const auto keywords = Keywords("INBOX", uid);
    EXPECT_EQ(hidden ? 1 : 0, std::count(keywords.begin(), keywords.end(), "$VarnoltHidden"));
    EXPECT_EQ(1, std::count(keywords.begin(), keywords.end(), "$VarnoltMarker2"));
  }
}

TEST_F(PluginRecordsTest, ADeliveryIsMovedOnlyInWhereItWillBeSaved) {
  // A message already in the mailbox has UID 1: the delivery's URL must not name it.
  Store("INBOX");
  auto record = PluginRecord::ForDelivery(connection_, "INBOX", kMessage);
  EXPECT_EQ(std::string(kRoot) + "/INBOX/\\unsaved.EML", record->Source());
  EXPECT_TRUE(IsUnsavedItemUrl(record->Source()));
  SetMailMarker(filter_, *record, kMarkerSpam);
  varnolt::testing::FakeTicks ticks;
  EXPECT_TRUE(MoveSpamToFolder(filter_, ticks, *record, std::string(kRoot) + "/Junk E-Mail", "\\unsaved.EML"));
  EXPECT_EQ("Junk E-Mail", record->mailbox());
  EXPECT_EQ(std::string(kRoot) + "/Junk E-Mail/\\unsaved.EML", record->Source());
  EXPECT_THAT(record->StateKeywords(), ElementsAre("$VarnoltMarker2", "$Junk"));
  EXPECT_TRUE(access_.mailboxes.at("Junk E-Mail").messages.empty());  // Dovecot saves it afterwards
  EXPECT_THAT(filter_.ErrorLines(), IsEmpty());
}

TEST_F(PluginRecordsTest, AMoveIntoAMissingFolderFailsAndKeepsThePlace) {
  auto record = PluginRecord::ForDelivery(connection_, "INBOX", kMessage);
  varnolt::testing::FakeTicks ticks;
  EXPECT_FALSE(MoveSpamToFolder(filter_, ticks, *record, std::string(kRoot) + "/Nowhere", "\\unsaved.EML"));
  EXPECT_EQ("INBOX", record->mailbox());
  EXPECT_THAT(filter_.ErrorLines(), ElementsAre("Err: Cannot move Spam to " + std::string(kRoot) +
                                                "/Nowhere: The parent folder does not exist 0x80047003 Source: " +
                                                kRoot + "/INBOX/\\unsaved.EML"));
}

TEST_F(PluginRecordsTest, TheSpamboxIsCreatedOnce) {
  const std::string url = std::string(kRoot) + "/Spambox";
  EXPECT_FALSE(OpenJunkMailFolder(connection_, url));
  EXPECT_FALSE(OpenSpambox(filter_, connection_, url));
  EXPECT_TRUE(access_.MailboxExists("Spambox"));
  EXPECT_TRUE(OpenSpambox(filter_, connection_, url));
  EXPECT_THAT(filter_.ErrorLines(), IsEmpty());
}

TEST_F(PluginRecordsTest, DeletedItemsIsTheFolderOfThatNameElseTheTrash) {
  struct Case {
    bool deleted_items_folder;
    std::optional<std::string> trash;
    const char* expected;
  };
  const Case cases[] = {
      {true, "Trash", "/Deleted Items"},
      {false, "Trash", "/Trash"},
      {false, std::nullopt, "/Deleted Items"},  // names no folder there is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    access_.mailboxes.erase("Deleted Items");
    if (c.deleted_items_folder) access_.CreateMailbox("Deleted Items");
    access_.trash = c.trash;
    EXPECT_EQ(std::string(kRoot) + c.expected, DetectWasteBasket(filter_, connection_, "example.com", "alice"));
  }
  EXPECT_THAT(filter_.ErrorLines(), IsEmpty());
}

TEST_F(PluginRecordsTest, TheManualIsSavedAsANewMessage) {
  const auto folder = std::filesystem::temp_directory_path() / "varnolt-dovecot-manual";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / kUserManualSourceFile) << "Subject: Welcome\r\n\r\nHow it works\r\n";
  CreateUserManual(filter_, connection_, folder.string() + "/", std::string(kRoot) + "/INBOX");
  std::filesystem::remove_all(folder);
  EXPECT_THAT(filter_.ErrorLines(), IsEmpty());
  ASSERT_EQ(1u, access_.mailboxes.at("INBOX").messages.size());
  EXPECT_EQ("Subject: Welcome\r\n\r\nHow it works\r\n", access_.mailboxes.at("INBOX").messages.at(1).content);
}

TEST_F(PluginRecordsTest, ANewMessageWithoutContentIsNotSaved) {
  auto record = connection_.CreateRecord();
  record->Open(std::string(kRoot) + "/INBOX/New.EML", connection_, ConnectMode::kReadWrite,
               RecordCreateOptions::kCreateOverwrite, RecordOpenOptions::kUnspecified);
  record->GetFields().Item("urn:schemas:mapi:proptag:x001A001E")->SetValue(Variant::Text("IPM.Note"));
  try {
    record->GetFields().Update();
    ADD_FAILURE() << "saved";
  } catch (const ComError& error) {
    EXPECT_EQ(kStoreInvalidArgument, error.number());
  }
  EXPECT_TRUE(access_.mailboxes.at("INBOX").messages.empty());
}

TEST_F(PluginRecordsTest, WrongUsesFailWithTheStoresNumbers) {
  struct Case {
    const char* name;
    std::string url;
    RecordCreateOptions create;
    int32_t number;
  };
  const Case cases[] = {
      {"name no UID", std::string(kRoot) + "/INBOX/Hello.EML", RecordCreateOptions::kFailIfNotExists, kStoreNotFound},
      {"other user", "file://./backofficestorage/example.com/MBX/bob/INBOX", RecordCreateOptions::kFailIfNotExists,
       kStoreInvalidUrl},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto record = connection_.CreateRecord();
    try {
      record->Open(c.url, connection_, ConnectMode::kReadWrite, c.create, RecordOpenOptions::kUnspecified);
      ADD_FAILURE() << "opened";
    } catch (const ComError& error) {
      EXPECT_EQ(c.number, error.number());
    }
  }
}

}  // namespace
}  // namespace varnolt::dovecot
