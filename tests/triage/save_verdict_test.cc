// The verdict the filter hands its host: one record for each way a save event ends.
#include <gmock/gmock.h>

#include <ostream>

#include "platform/save_verdict.h"
#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

constexpr const char* kJunk = "Junk E-Mail";

class SaveVerdictTest;

struct VerdictRow {
  const char* name;
  void (*raise)(SaveVerdictTest&);  // arranges settings and files, then raises one event
  DecidedBy decided_by;
  LeftBecause left;
  std::optional<bool> is_spam;
  std::optional<int32_t> marker;
  const char* moved_to;  // a folder of the mailbox, "" when the item stays
  bool hidden;
  bool scored;           // the engine was asked
  const char* error;     // the first error reported, "" for none
  bool in_engine;        // the failure was the engine's
};

void PrintTo(const VerdictRow& row, std::ostream* os) { *os << row.name; }

class SaveVerdictTest : public TriageTest, public ::testing::WithParamInterface<VerdictRow> {
 public:
  using TriageTest::AddFolder;
  using TriageTest::Deliver;
  using TriageTest::engine_;
  using TriageTest::ExpectErr;
  using TriageTest::FolderUrl;
  using TriageTest::MakeDomainDir;
  using TriageTest::MakeKnownUser;
  using TriageTest::Move;
  using TriageTest::Place;
  using TriageTest::RaiseDirect;
  using TriageTest::SetDword;
  using TriageTest::SetText;
  using TriageTest::UserFile;
  using TriageTest::WriteDataFile;

  void MoveMarked(std::optional<int32_t> marker, const std::string& from, const std::string& to) {
    MakeKnownUser();
    AddFolder("Archive");
    Move(Place({}, from, marker), to);
  }
};

TEST_P(SaveVerdictTest, SaysHowTheEventEnded) {
  const VerdictRow& row = GetParam();
  if (*row.error) ExpectErr(row.error);
  row.raise(*this);
  ASSERT_EQ(1u, platform_.verdicts.size()) << "one verdict per event";
  const SaveVerdict& verdict = platform_.verdicts[0];
  EXPECT_EQ(row.decided_by, verdict.decided_by);
  EXPECT_EQ(row.left, verdict.left);
  EXPECT_EQ(row.is_spam, verdict.is_spam);
  EXPECT_EQ(row.marker, verdict.marker);
  EXPECT_EQ(*row.moved_to ? FolderUrl(row.moved_to) : "", verdict.moved_to);
  EXPECT_EQ(row.hidden, verdict.hidden);
  EXPECT_EQ(row.scored, verdict.score.has_value());
  if (*row.error) {
    ASSERT_FALSE(verdict.errors.empty());
    EXPECT_THAT(verdict.errors[0], ::testing::StartsWith(row.error));
  } else {
    EXPECT_THAT(verdict.errors, ::testing::IsEmpty());
  }
  EXPECT_EQ(row.left == LeftBecause::kFailed, verdict.failure.has_value());
  if (verdict.failure) {
    EXPECT_EQ(row.in_engine, verdict.failure->in_engine);
  }
}

using D = DecidedBy;
using L = LeftBecause;
constexpr auto kNone = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Ends, SaveVerdictTest,
    ::testing::Values(
        VerdictRow{"IgnoredFlags",
                   [](SaveVerdictTest& t) {
                     const std::string url = t.Place({}, "Inbox", kNone);
                     t.RaiseDirect(url, url, 0x01000001);
                   },
                   D::kNobody, L::kIgnoredEvent, kNone, kNone, "", false, false, "", false},
        VerdictRow{"NotAMessage",
                   [](SaveVerdictTest& t) { t.RaiseDirect(t.FolderUrl("Inbox"), t.FolderUrl("Inbox"), 0x01000008); },
                   D::kNobody, L::kNotAMessage, kNone, kNone, "", false, false, "Item is not a message", false},
        VerdictRow{"ProviderModeUnknownUser",
                   [](SaveVerdictTest& t) {
                     t.SetDword("ProviderMode", 1);
                     t.MakeDomainDir();
                     t.Deliver();
                   },
                   D::kNobody, L::kProviderMode, kNone, kNone, "", false, false, "", false},
        VerdictRow{"Internal",
                   [](SaveVerdictTest& t) {
                     t.MakeKnownUser();
                     MessageSpec internal;
                     internal.internal = true;
                     t.Deliver(internal);
                   },
                   D::kInternal, L::kJudged, false, 1, "", false, false, "", false},
        VerdictRow{"Whitelisted",
                   [](SaveVerdictTest& t) {
                     t.MakeKnownUser();
                     t.SetDword("UseWhiteList", 1);
                     t.WriteDataFile(t.UserFile(".dat.wlt"), "bob@example.org\r\n");
                     t.Deliver();
                   },
                   D::kWhitelist, L::kJudged, false, 1, "", false, false, "", false},
        VerdictRow{"EngineHam",
                   [](SaveVerdictTest& t) {
                     t.MakeKnownUser();
                     t.Deliver();
                   },
                   D::kEngine, L::kJudged, false, 1, "", false, true, "", false},
        VerdictRow{"EngineSpamFiled",
                   [](SaveVerdictTest& t) {
                     t.MakeKnownUser();
                     t.engine_->verdict = true;
                     t.Deliver();
                   },
                   D::kEngine, L::kJudged, true, 2, kJunk, false, true, "", false},
        VerdictRow{"EngineSpamHidden",
                   [](SaveVerdictTest& t) {
                     t.MakeKnownUser();
                     t.SetDword("HideSpam", 1);
                     t.engine_->verdict = true;
                     t.Deliver();
                   },
                   D::kEngine, L::kJudged, true, 2, kJunk, true, true, "", false},
        VerdictRow{"EngineSpamInPlaceWithoutJunkFolder",
                   [](SaveVerdictTest& t) {
                     t.MakeKnownUser();
                     t.SetText("UseJunkMailFolder", "Nowhere");
                     t.engine_->verdict = true;
                     t.Deliver();
                   },
                   D::kEngine, L::kJudged, true, 2, "", false, true, "", false},
        VerdictRow{"EngineFails",
                   [](SaveVerdictTest& t) {
                     t.MakeKnownUser();
                     t.engine_->failures.emplace("Classify", RuntimeError(kPathNotFound));
                     t.Deliver();
                   },
                   D::kNobody, L::kFailed, kNone, kNone, "", false, false, "Varnolt Extension failed: Path not found",
                   true},
        VerdictRow{"SettingNoNumber",
                   [](SaveVerdictTest& t) {
                     t.SetText("HideSpam", "often");
                     t.Deliver();
                   },
                   D::kNobody, L::kFailed, kNone, kNone, "", false, false, "Varnolt Extension failed: ", false},
        VerdictRow{"MovedIntoJunk", [](SaveVerdictTest& t) { t.MoveMarked(1, "Inbox", kJunk); }, D::kUser, L::kJudged,
                   true, 2, "", false, false, "", false},
        VerdictRow{"RescuedFromJunk", [](SaveVerdictTest& t) { t.MoveMarked(2, kJunk, "Inbox"); }, D::kUser,
                   L::kJudged, false, 1, "", false, false, "", false},
        VerdictRow{"SpamMovedIntoJunk", [](SaveVerdictTest& t) { t.MoveMarked(2, "Archive", kJunk); }, D::kNobody,
                   L::kAgreesWithMarker, kNone, kNone, "", false, false, "", false},
        VerdictRow{"UnmarkedMoved", [](SaveVerdictTest& t) { t.MoveMarked(kNone, "Inbox", "Archive"); }, D::kNobody,
                   L::kNoMarker, kNone, kNone, "", false, false, "", false},
        VerdictRow{"MovedToDeletedItems", [](SaveVerdictTest& t) { t.MoveMarked(2, kJunk, "Deleted Items"); },
                   D::kNobody, L::kDeletedItems, kNone, kNone, "", false, false, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnolt::testing
