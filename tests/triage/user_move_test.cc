// The user's moves as verdicts: the move table, relearning and auto-whitelisting.
#include <gmock/gmock.h>

#include <algorithm>
#include <ostream>

#include "store/property_names.h"
#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;

class UserMoveTest : public TriageTest {
 protected:
  UserMoveTest() {
    MakeKnownUser();
  }
};

struct MoveRow {
  const char* name;
  const char* junk_setting;
  const char* from;
  const char* to;
  std::optional<int32_t> marker;
  std::optional<int32_t> marker_after;
  const char* outcome;
  std::optional<bool> relearned_as_spam;  // nullopt: the engine is not even made
};

// Test logs name the row instead of dumping its bytes.
void PrintTo(const MoveRow& row, std::ostream* os) { *os << row.name; }

class MoveTableTest : public UserMoveTest, public ::testing::WithParamInterface<MoveRow> {};

TEST_P(MoveTableTest, FollowsTheUsersVerdict) {
  const MoveRow& row = GetParam();
  SetText("UseJunkMailFolder", row.junk_setting);
  AddFolder("Spambox");
  AddFolder("Archive");
  const std::string url = Move(Place({}, row.from, row.marker), row.to);
  EXPECT_EQ(FolderUrl(std::string(row.to) + "/Hello.EML"), url);
  EXPECT_EQ(row.marker_after, Marker(url));
  EXPECT_EQ(std::string("Mail moved by User") + row.outcome + " : 0ms", Trace());
  if (row.relearned_as_spam) {
    ASSERT_EQ(1u, engine_->calls.size());
    EXPECT_EQ((EngineCall{"Relearn", DatPath(), Property(url, MapiField("x007D001E")).ToText(),
                          Property(url, MapiField("x1000001E")).ToText(), *row.relearned_as_spam}),
              engine_->calls[0]);
  } else {
    EXPECT_EQ(0, engine_->instances);
  }
  EXPECT_FALSE(DataFileExists(UserFile(".dat.wlt")));  // UseWhiteList is off by default
}

constexpr const char* kJunk = "Junk E-Mail";

INSTANTIATE_TEST_SUITE_P(
    Rows, MoveTableTest,
    ::testing::Values(
        MoveRow{"DeletedItemsSpam", kJunk, kJunk, "Deleted Items", 2, 2, " to Deleted Items - leave untouched", {}},
        MoveRow{"DeletedItemsHam", kJunk, "Inbox", "Deleted Items", 1, 1, " to Deleted Items - leave untouched", {}},
        MoveRow{"JunkHam", kJunk, "Inbox", kJunk, 1, 2, " was swapped to SPAM", true},
        MoveRow{"JunkSpam", kJunk, "Inbox", kJunk, 2, 2, " already parsed as SPAM", {}},
        MoveRow{"JunkUnmarked", kJunk, "Inbox", kJunk, std::nullopt, std::nullopt, " has no MM - leave", {}},
        MoveRow{"JunkOtherValue", kJunk, "Inbox", kJunk, 7, 7, " has no MM - leave", {}},
        // The Spambox counts as junk even while a junk folder exists.
        MoveRow{"SpamboxHam", kJunk, "Inbox", "Spambox", 1, 2, " was swapped to SPAM", true},
        MoveRow{"InboxSpam", kJunk, kJunk, "Inbox", 2, 1, " was swapped to HAM (FP?)", false},
        MoveRow{"ArchiveSpam", kJunk, "Spambox", "Archive", 2, 1, " was swapped to HAM (FP?)", false},
        MoveRow{"InboxHam", kJunk, "Archive", "Inbox", 1, 1, " already parsed as HAM", {}},
        MoveRow{"InboxUnmarked", kJunk, kJunk, "Inbox", std::nullopt, std::nullopt, " has no MM - leave", {}},
        MoveRow{"InboxOtherValue", kJunk, "Archive", "Inbox", 0, 0, " has no MM - leave", {}},
        // Only the first existing name is the junk folder.
        MoveRow{"SecondJunkNameIsElsewhere", "Junk E-Mail;Archive", "Inbox", "Archive", 2, 1,
                " was swapped to HAM (FP?)", false},
        MoveRow{"JunkNameInOtherCase", "JUNK e-mail", "Inbox", kJunk, 1, 2, " was swapped to SPAM", true},
        MoveRow{"JunkFolderNotFound", "Nowhere", "Inbox", kJunk, 1, 1, " already parsed as HAM", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserMoveTest, RescuedSenderIsWhitelistedOnceOnly) {
  SetDword("DebugLevel", 2);
  SetDword("UseWhiteList", 1);
  ExpectErr("InWhiteList() failed: ");  // the first lookup finds no file yet
  Move(Place({}, kJunk, 2), "Inbox");
  MessageSpec again;
  again.subject = "Again";
  Move(Place(again, kJunk, 2), "Inbox");
  EXPECT_EQ("bob@example.org\r\n", ReadDataFile(UserFile(".dat.wlt")));
  const std::vector<std::string> log = TriageMessages();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "Sender Address bob@example.org added to WhiteList."));
  EXPECT_EQ(1u, ErrorLines().size());
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nSender    : bob@example.org\r\n"));
}

TEST_F(UserMoveTest, WhitelistingAtLevelOneWritesNoLine) {
  SetDword("UseWhiteList", 1);
  ExpectErr("InWhiteList() failed: ");
  Move(Place({}, kJunk, 2), "Inbox");
  EXPECT_EQ("bob@example.org\r\n", ReadDataFile(UserFile(".dat.wlt")));
  EXPECT_THAT(TriageMessages(), ElementsAre("Found JunkMail folder '" + FolderUrl(kJunk) + "'",
                                            ::testing::StartsWith("Err: InWhiteList() failed: "),
                                            "Mail moved by User was swapped to HAM (FP?) : 0ms"));
}

TEST_F(UserMoveTest, NoAutoWhitelistWithoutAutoWhiteList) {
  SetDword("UseWhiteList", 1);
  SetDword("AutoWhiteList", 0);
  SetDword("DebugLevel", 2);
  Move(Place({}, kJunk, 2), "Inbox");
  EXPECT_FALSE(DataFileExists(UserFile(".dat.wlt")));
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nSender    : \r\n"));
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nWhiteList : enabled\r\n"));
}

TEST_F(UserMoveTest, RelearnFailureKeepsTheOldMarker) {
  SetDword("UseWhiteList", 1);
  engine_->failures.emplace("Relearn", RuntimeError(kPathNotFound));
  const std::string url = Move(Place({}, kJunk, 2), "Inbox");
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_EQ(2, Marker(url));
  EXPECT_THAT(ErrorLines(), ElementsAre("Err: Varnolt Extension failed: Path not found 0x4C Source: " + url));
  EXPECT_FALSE(DataFileExists(UserFile(".dat.wlt")));
}

}  // namespace
}  // namespace varnolt::testing
