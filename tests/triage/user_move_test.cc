// The user's moves as verdicts: the move table, relearning and auto-whitelisting.
#include <gmock/gmock.h>

#include <algorithm>

#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UserMoveTest : public TriageTest {
 protected:
  UserMoveTest() {
    MakeDomainDir();
    WriteDataFile(UserFile(".dat"), "");
  }
};

struct MoveRow {
  const char* name;
  const char* from;
  const char* to;
  std::optional<int32_t> marker;
  std::optional<int32_t> marker_after;
  const char* outcome;
  std::vector<EngineCall> calls;  // headers and body left empty: compared by operation and class
};

class MoveTableTest : public UserMoveTest, public ::testing::WithParamInterface<MoveRow> {};

TEST_P(MoveTableTest, FollowsTheUsersVerdict) {
  const MoveRow& row = GetParam();
  AddFolder("Spambox");
  AddFolder("Archive");
  const std::string url = Move(Place({}, row.from, row.marker), row.to);
  EXPECT_EQ(FolderUrl(std::string(row.to) + "/Hello.EML"), url);
  EXPECT_EQ(row.marker_after, Marker(url));
  EXPECT_EQ(std::string("Mail moved by User") + row.outcome + " : 0ms", Trace());
  ASSERT_EQ(row.calls.size(), engine_->calls.size());
  for (size_t i = 0; i < row.calls.size(); ++i) {
    EXPECT_EQ(row.calls[i].operation, engine_->calls[i].operation);
    EXPECT_EQ(row.calls[i].is_spam, engine_->calls[i].is_spam);
    EXPECT_EQ(DatPath(), engine_->calls[i].dat_path);
  }
  EXPECT_FALSE(DataFileExists(UserFile(".dat.wlt")));  // UseWhiteList is off by default
}

const EngineCall kRelearnSpam{"Relearn", "", "", "", true};
const EngineCall kRelearnHam{"Relearn", "", "", "", false};

INSTANTIATE_TEST_SUITE_P(
    Rows, MoveTableTest,
    ::testing::Values(
        MoveRow{"DeletedItemsSpam", "Junk E-Mail", "Deleted Items", 2, 2, " to Deleted Items - leave untouched", {}},
        MoveRow{"DeletedItemsHam", "Inbox", "Deleted Items", 1, 1, " to Deleted Items - leave untouched", {}},
        MoveRow{"JunkHam", "Inbox", "Junk E-Mail", 1, 2, " was swapped to SPAM", {kRelearnSpam}},
        MoveRow{"JunkSpam", "Inbox", "Junk E-Mail", 2, 2, " already parsed as SPAM", {}},
        MoveRow{"JunkUnmarked", "Inbox", "Junk E-Mail", std::nullopt, std::nullopt, " has no MM - leave", {}},
        MoveRow{"JunkOtherValue", "Inbox", "Junk E-Mail", 7, 7, " has no MM - leave", {}},
        // The Spambox counts as junk even while a junk folder exists.
        MoveRow{"SpamboxHam", "Inbox", "Spambox", 1, 2, " was swapped to SPAM", {kRelearnSpam}},
        MoveRow{"InboxSpam", "Junk E-Mail", "Inbox", 2, 1, " was swapped to HAM (FP?)", {kRelearnHam}},
        MoveRow{"ArchiveSpam", "Spambox", "Archive", 2, 1, " was swapped to HAM (FP?)", {kRelearnHam}},
        MoveRow{"InboxHam", "Archive", "Inbox", 1, 1, " already parsed as HAM", {}},
        MoveRow{"InboxUnmarked", "Junk E-Mail", "Inbox", std::nullopt, std::nullopt, " has no MM - leave", {}},
        MoveRow{"InboxOtherValue", "Archive", "Inbox", 0, 0, " has no MM - leave", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserMoveTest, RelearnGetsTheMessagesHeadersAndBody) {
  const std::string url = Move(Place({}, "Inbox", 1), "Junk E-Mail");
  ASSERT_EQ(1u, engine_->calls.size());
  EXPECT_EQ(Property(url, "urn:schemas:mapi:proptag:x007D001E").ToText(), engine_->calls[0].header);
  EXPECT_EQ(Property(url, "urn:schemas:mapi:proptag:x1000001E").ToText(), engine_->calls[0].body);
}

TEST_F(UserMoveTest, OnlyTheFirstExistingJunkNameIsJunk) {
  AddFolder("Spam");
  SetText("UseJunkMailFolder", "Junk E-Mail;Spam");
  const std::string url = Move(Place({}, "Inbox", 2), "Spam");
  EXPECT_EQ(1, Marker(url));
  EXPECT_EQ("Mail moved by User was swapped to HAM (FP?) : 0ms", Trace());
}

TEST_F(UserMoveTest, JunkFolderNameInOtherLetterCaseStillMatches) {
  SetText("UseJunkMailFolder", "JUNK e-mail");
  const std::string url = Move(Place({}, "Inbox", 1), "Junk E-Mail");
  EXPECT_EQ(2, Marker(url));
}

TEST_F(UserMoveTest, UnfoundJunkFolderIsNotJunk) {
  SetText("UseJunkMailFolder", "Nowhere");
  AddFolder("Nowhere2");
  const std::string url = Move(Place({}, "Inbox", 1), "Junk E-Mail");
  EXPECT_EQ(1, Marker(url));
  EXPECT_EQ("Mail moved by User already parsed as HAM : 0ms", Trace());
}

TEST_F(UserMoveTest, RescuedSenderIsWhitelistedOnceOnly) {
  SetDword("DebugLevel", 2);
  SetDword("UseWhiteList", 1);
  ExpectErr("InWhiteList() failed: ");  // the first lookup finds no file yet
  Move(Place({}, "Junk E-Mail", 2), "Inbox");
  MessageSpec again;
  again.subject = "Again";
  Move(Place(again, "Junk E-Mail", 2), "Inbox");
  EXPECT_EQ("bob@example.org\r\n", ReadDataFile(UserFile(".dat.wlt")));
  const std::vector<std::string> log = TriageMessages();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "Sender Address bob@example.org added to WhiteList."));
  EXPECT_EQ(1u, ErrorLines().size());
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nSender    : bob@example.org\r\n"));
}

TEST_F(UserMoveTest, WhitelistingAtLevelOneWritesNoLine) {
  SetDword("UseWhiteList", 1);
  ExpectErr("InWhiteList() failed: ");
  Move(Place({}, "Junk E-Mail", 2), "Inbox");
  EXPECT_EQ("bob@example.org\r\n", ReadDataFile(UserFile(".dat.wlt")));
  EXPECT_THAT(TriageMessages(), ElementsAre("Found JunkMail folder '" + FolderUrl("Junk E-Mail") + "'",
                                            ::testing::StartsWith("Err: InWhiteList() failed: "),
                                            "Mail moved by User was swapped to HAM (FP?) : 0ms"));
}

TEST_F(UserMoveTest, NoAutoWhitelistWithoutAutoWhiteList) {
  SetDword("UseWhiteList", 1);
  SetDword("AutoWhiteList", 0);
  SetDword("DebugLevel", 2);
  Move(Place({}, "Junk E-Mail", 2), "Inbox");
  EXPECT_FALSE(DataFileExists(UserFile(".dat.wlt")));
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nSender    : \r\n"));
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nWhiteList : enabled\r\n"));
}

TEST_F(UserMoveTest, SwapToSpamNeverWhitelists) {
  WriteDataFile(UserFile(".dat.wlt"), "");
  Move(Place({}, "Inbox", 1), "Junk E-Mail");
  EXPECT_EQ("", ReadDataFile(UserFile(".dat.wlt")));
}

TEST_F(UserMoveTest, RelearnFailureKeepsTheOldMarker) {
  engine_->failures.emplace("Relearn", RuntimeError(kPathNotFound));
  const std::string url = Move(Place({}, "Junk E-Mail", 2), "Inbox");
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_EQ(2, Marker(url));
  EXPECT_THAT(ErrorLines(), ElementsAre("Err: Varnolt Extension failed: Path not found 0x4C Source: " + url));
  EXPECT_FALSE(DataFileExists(UserFile(".dat.wlt")));
}

TEST_F(UserMoveTest, MessageWithoutMarkerNeedsNoEngine) {
  Move(Place({}, "Inbox", std::nullopt), "Junk E-Mail");
  EXPECT_EQ(0, engine_->instances);
  EXPECT_THAT(engine_->calls, IsEmpty());
}

}  // namespace
}  // namespace varnolt::testing
