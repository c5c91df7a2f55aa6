// Delivered mail: trust, verdict, marker, hiding and where SPAM goes.
#include <gmock/gmock.h>

#include <algorithm>

#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class NewMailTest : public TriageTest {
 protected:
  NewMailTest() {
    MakeKnownUser();  // a known user: no manual
  }
};

struct TrustRow {
  const char* name;
  bool internal;
  uint32_t use_white_list;
  const char* whitelist;  // file content; null: no file
  const char* from;
  const char* trace;
  const char* operation;   // the engine call
  const char* sender_row;  // "Sender    : " + this, at level 2
  const char* error;       // an error line prefix the row causes, or null
};

class TrustTest : public NewMailTest, public ::testing::WithParamInterface<TrustRow> {};

TEST_P(TrustTest, DecidesWhoIsTrusted) {
  const TrustRow& row = GetParam();
  SetDword("DebugLevel", 2);
  SetDword("UseWhiteList", row.use_white_list);
  if (row.whitelist) WriteDataFile(UserFile(".dat.wlt"), row.whitelist);
  if (row.error) ExpectErr(row.error);
  MessageSpec message;
  message.internal = row.internal;
  message.from = row.from;
  const std::string url = Deliver(message);

  EXPECT_EQ(1, Marker(url));
  EXPECT_EQ((std::vector<std::string>{row.operation, "GetCounts"}), engine_->Operations());
  EXPECT_EQ(1, engine_->instances);
  const EngineCall& call = engine_->calls.at(0);
  EXPECT_EQ(DatPath(), call.dat_path);
  EXPECT_FALSE(call.is_spam);
  EXPECT_EQ(Property(url, "urn:schemas:mapi:proptag:x007D001E").ToText(), call.header);
  const std::string trace = Trace();
  EXPECT_EQ(row.trace, trace.substr(0, trace.find(" : ")));
  EXPECT_NE(std::string::npos, trace.find("\r\nSender    : " + std::string(row.sender_row) + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TrustTest,
    ::testing::Values(
        TrustRow{"InternalWithoutLookup", true, 1, nullptr, "Carol <carol@example.com>", "New Mail (EA) forced to HAM",
                 "Learn", "", nullptr},
        TrustRow{"Whitelisted", false, 1, "someone@else\r\nbob@example.org\r\n", "Bob <bob@example.org>",
                 "New Mail (WL) forced to HAM", "Learn", "bob@example.org", nullptr},
        TrustRow{"ListedButWhitelistOff", false, 0, "bob@example.org\r\n", "Bob <bob@example.org>",
                 "New Mail parsed as HAM", "Classify", "", nullptr},
        TrustRow{"ListedInOtherCase", false, 1, "Bob@Example.org\r\n", "Bob <bob@example.org>",
                 "New Mail parsed as HAM", "Classify", "bob@example.org", nullptr},
        TrustRow{"ListedWithTrailingBlank", false, 1, "bob@example.org \r\n", "Bob <bob@example.org>",
                 "New Mail parsed as HAM", "Classify", "bob@example.org", nullptr},
        TrustRow{"NoWhitelistFile", false, 1, nullptr, "Bob <bob@example.org>", "New Mail parsed as HAM", "Classify",
                 "bob@example.org", "InWhiteList() failed: "},
        // An empty line matches the empty address, but an empty address is never trusted.
        TrustRow{"BareAddressGivesNoSender", false, 1, "\r\n", "bob@example.org", "New Mail parsed as HAM",
                 "Classify", "", "GetSenderAddress failed: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NewMailTest, HamStaysInTheInboxAndStillPreparesTheSpambox) {
  SetText("UseJunkMailFolder", "Nowhere");
  const std::string url = Deliver();
  EXPECT_EQ(1, Marker(url));
  EXPECT_FALSE(Hidden(url));
  EXPECT_THAT(Items("Inbox"), ElementsAre("Hello.EML"));
  EXPECT_TRUE(FolderExists("Spambox"));
  EXPECT_EQ("New Mail parsed as HAM : 0ms", Trace());
}

struct SpamRow {
  const char* name;
  const char* junk_setting;
  bool spambox_exists;
  uint32_t hide;
  const char* folder;  // where the message ends up
  bool hidden;
  bool spambox_after;
};

class SpamDestinationTest : public NewMailTest, public ::testing::WithParamInterface<SpamRow> {};

TEST_P(SpamDestinationTest, MarksHidesAndMoves) {
  const SpamRow& row = GetParam();
  SetText("UseJunkMailFolder", row.junk_setting);
  SetDword("HideSpam", row.hide);
  if (row.spambox_exists) AddFolder("Spambox");
  engine_->verdict = true;
  const std::string url = Deliver();
  ASSERT_THAT(Items(row.folder), ElementsAre("Hello.EML"));
  EXPECT_EQ(FolderUrl(row.folder) + "/Hello.EML", url);
  EXPECT_EQ(2, Marker(url));
  EXPECT_EQ(row.hidden, Hidden(url));
  EXPECT_EQ("New Mail recognized as SPAM : 0ms", Trace());
  EXPECT_EQ(std::vector<std::string>{"Classify"}, engine_->Operations());
  EXPECT_EQ(row.spambox_after, FolderExists("Spambox"));
}

INSTANTIATE_TEST_SUITE_P(Rows, SpamDestinationTest,
                         ::testing::Values(SpamRow{"JunkFolder", "Junk E-Mail", false, 0, "Junk E-Mail", false, false},
                                           SpamRow{"JunkFolderHidden", "Junk E-Mail", false, 1, "Junk E-Mail", true,
                                                   false},
                                           SpamRow{"ExistingSpambox", "Nowhere", true, 0, "Spambox", false, true},
                                           SpamRow{"ExistingSpamboxHidden", "", true, 1, "Spambox", true, true},
                                           // Made by this very event: marked only, not hidden, not moved.
                                           SpamRow{"SpamboxCreatedNow", "Nowhere", false, 1, "Inbox", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Delivered straight into the junk folder: SPAM is where it belongs, and no
// move is tried (any "Err:" line would fail the test).
struct AlreadyThereRow {
  const char* name;
  const char* setting;
  const char* folder;
};

class AlreadyInJunkTest : public NewMailTest, public ::testing::WithParamInterface<AlreadyThereRow> {};

TEST_P(AlreadyInJunkTest, SpamStaysWhereItWasDelivered) {
  const AlreadyThereRow& row = GetParam();
  SetText("UseJunkMailFolder", row.setting);
  if (!FolderExists(row.folder)) AddFolder(row.folder);
  engine_->verdict = true;
  const std::string url = Deliver({}, row.folder);
  EXPECT_EQ(FolderUrl(row.folder) + "/Hello.EML", url);
  EXPECT_EQ(2, Marker(url));
  EXPECT_EQ("New Mail recognized as SPAM (already in the junk folder) : 0ms", Trace());
}

INSTANTIATE_TEST_SUITE_P(Rows, AlreadyInJunkTest,
                         ::testing::Values(AlreadyThereRow{"JunkFolder", "Junk E-Mail", "Junk E-Mail"},
                                           AlreadyThereRow{"OtherLetterCase", "junk e-mail", "Junk E-Mail"},
                                           AlreadyThereRow{"Spambox", "Nowhere", "Spambox"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NewMailTest, SpamAfterTheSpamboxWasCreatedGoesIntoIt) {
  SetText("UseJunkMailFolder", "Nowhere");
  SetDword("HideSpam", 1);
  engine_->verdict = true;
  const std::string first = Deliver();
  MessageSpec second_message;
  second_message.subject = "Second";
  const std::string second = Deliver(second_message);
  EXPECT_EQ(FolderUrl("Inbox/Hello.EML"), first);
  EXPECT_EQ(FolderUrl("Spambox/Second.EML"), second);
  EXPECT_TRUE(Hidden(second));
  EXPECT_EQ(Variant::Text("IPF.Note"), Property(FolderUrl("Spambox"), "urn:schemas:exchange:outlookfolderclass"));
}

TEST_F(NewMailTest, JunkFolderNamesAreTriedInOrderAndTrimmed) {
  AddFolder("Spam");
  SetText("UseJunkMailFolder", "  Junk ; Spam  ;Junk E-Mail");
  engine_->verdict = true;
  const std::string url = Deliver();
  EXPECT_EQ(FolderUrl("Spam/Hello.EML"), url);
  EXPECT_EQ("Found JunkMail folder '" + FolderUrl("Spam") + "'", TriageMessages()[0]);
}

TEST_F(NewMailTest, HtmlBodyIsWhatTheEngineReads) {
  MessageSpec message;
  message.html = "<p>Cheap pills</p>";
  Deliver(message);
  ASSERT_EQ(1u, engine_->calls.size());
  EXPECT_THAT(engine_->calls[0].body, ::testing::HasSubstr("<p>Cheap pills</p>"));
}

TEST_F(NewMailTest, EngineFailureLeavesTheMessageUnmarked) {
  engine_->verdict = true;
  engine_->failures.emplace("Classify", ComError(static_cast<int32_t>(0x80049999u), "The model is corrupt"));
  const std::string url = Deliver();
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_EQ(FolderUrl("Inbox/Hello.EML"), url);
  EXPECT_EQ(std::nullopt, Marker(url));
  EXPECT_FALSE(Hidden(url));
  EXPECT_THAT(TriageMessages(), ElementsAre("Found JunkMail folder '" + FolderUrl("Junk E-Mail") + "'",
                                            "Err: Varnolt Extension failed: The model is corrupt 0x80049999 Source: " +
                                                url));
}

class NewUserTest : public TriageTest {};

TEST_F(NewUserTest, ManualArrivesUntilTheEngineHasADatabase) {
  engine_->files = nullptr;  // an engine that never stores anything
  Deliver();
  MessageSpec second;
  second.subject = "Again";
  Deliver(second);
  EXPECT_THAT(Items("Inbox"), UnorderedElementsAre("Hello.EML", "Varnolt_Manual.eml", "Again.EML"));
  EXPECT_EQ(kManualText, Content(FolderUrl("Inbox/Varnolt_Manual.eml")));
  const std::vector<std::string> log = LogMessages();
  EXPECT_EQ(2, std::count(log.begin(), log.end(), "dat file does not exist, create the manual for the user."));
}

TEST_F(NewUserTest, ManualOnceWhenTheEngineCreatesTheDatabase) {
  Deliver();
  MessageSpec second;
  second.subject = "Again";
  Deliver(second);
  EXPECT_TRUE(DataFileExists(UserFile(".dat")));
  const std::vector<std::string> log = LogMessages();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "dat file does not exist, create the manual for the user."));
  EXPECT_THAT(Items("Inbox"), UnorderedElementsAre("Hello.EML", "Varnolt_Manual.eml", "Again.EML"));
}

TEST_F(NewUserTest, ManualGoesIntoTheInboxWhereverTheMailArrived) {
  AddFolder("Inbox/Lists");
  Deliver({}, "Inbox/Lists");
  EXPECT_THAT(Items("Inbox/Lists"), ElementsAre("Hello.EML"));
  EXPECT_THAT(Items("Inbox"), ElementsAre("Varnolt_Manual.eml"));
}

}  // namespace
}  // namespace varnolt::testing
