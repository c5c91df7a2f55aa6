// The trace report at each debug level, as exact texts.
#include <gmock/gmock.h>

#include "store/property_names.h"
#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TraceReportTest : public TriageTest {
 protected:
  TraceReportTest() {
    MakeKnownUser();
    engine_->counts = {3, 5};
  }

  std::string Mapi(const std::string& url, const char* tag) { return Property(url, MapiField(tag)).ToText(); }

  // The details block of a HAM delivery of the default message into the Inbox.
  std::string Details(const std::string& url, const std::string& level, const std::string& white_list,
                      const std::string& hide_row) {
    return "\r\n___Details___"
           "\r\nDomain    : example.com"
           "\r\nUser      : alice"
           "\r\nMailfile  : Hello.EML"
           "\r\nFlags     : 0x1000008"
           "\r\nURL       : " + url +
           "\r\nSender    : "
           "\r\nWhileList : " + DatPath() + ".wlt" +
           "\r\nBody Len  : " + std::to_string(Mapi(url, "x1000001E").size()) +
           "\r\nDebugLevel: " + level +
           "\r\nUseJunkFld: yes"
           "\r\nJunkFolder: " + FolderUrl("Junk E-Mail") +
           "\r\nWhiteList : " + white_list +
           "\r\nProvMode  : 0" + hide_row +
           "\r\nHAM/SPAM  : 3/5";
  }

  // The tick the log printed for the trace report's line.
  int64_t TraceLogTick() const {
    const std::string log = ReadDataFile("Varnolt.log");
    const size_t trace = log.rfind(" New Mail");
    const size_t tick = log.rfind(' ', trace - 1) + 1;
    return std::stoll(log.substr(tick, trace - tick));
  }
};

TEST_F(TraceReportTest, LevelZeroWritesNothing) {
  SetDword("DebugLevel", 0);
  Deliver();
  EXPECT_FALSE(DataFileExists("Varnolt.log"));
  EXPECT_EQ(std::vector<std::string>{"Classify"}, engine_->Operations());
}

TEST_F(TraceReportTest, NegativeLevelWritesTheFirstLineOnly) {
  SetDword("DebugLevel", static_cast<uint32_t>(-1));
  Deliver();
  EXPECT_EQ("New Mail parsed as HAM : 0ms", Trace());
  EXPECT_EQ(std::vector<std::string>{"Classify"}, engine_->Operations());
}

TEST_F(TraceReportTest, LevelOneInternalSender) {
  MessageSpec message;
  message.internal = true;
  Deliver(message);
  EXPECT_EQ("New Mail (EA) forced to HAM : 0ms", Trace());
}

TEST_F(TraceReportTest, LevelTwoAddsTheDetails) {
  SetDword("DebugLevel", 2);
  SetDword("AutoWhiteList", 1);
  const std::string url = Deliver();
  EXPECT_EQ("New Mail parsed as HAM : 0ms" + Details(url, "2", "disabled", ""), Trace());
  EXPECT_EQ(DatPath(), engine_->calls.back().dat_path);
  EXPECT_EQ(1, engine_->instances);
}

TEST_F(TraceReportTest, LevelTwoWithHideSpamAndAutoWhitelist) {
  SetDword("DebugLevel", 3);
  SetDword("HideSpam", 1);
  SetDword("UseWhiteList", 1);
  WriteDataFile(UserFile(".dat.wlt"), "");
  const std::string url = Deliver();
  std::string expected = "New Mail parsed as HAM : 0ms" + Details(url, "3", "enabled (auto)", "\r\nHide Spam : yes");
  expected.replace(expected.find("\r\nSender    : "), 14, "\r\nSender    : bob@example.org");
  EXPECT_EQ(expected, Trace());
}

TEST_F(TraceReportTest, LevelFourEndsWithHeadersAndBody) {
  SetDword("DebugLevel", 4);
  SetDword("UseWhiteList", 1);
  SetDword("AutoWhiteList", 0);
  ExpectErr("InWhiteList() failed: ");
  const std::string url = Deliver();
  const std::string details = Details(url, "4", "enabled", "");
  const std::string with_sender = "\r\nSender    : bob@example.org";
  std::string expected = "New Mail parsed as HAM : 0ms" + details;
  expected.replace(expected.find("\r\nSender    : "), 14, with_sender);
  expected += "\r\nHeader    : " + Mapi(url, "x007D001E") + "\r\nBody      : " + Mapi(url, "x1000001E");
  EXPECT_EQ(expected, Trace());
  EXPECT_FALSE(Mapi(url, "x007D001E").empty());
}

TEST_F(TraceReportTest, ItemThatIsNotAMessage) {
  SetDword("DebugLevel", 2);
  SetDword("UseWhiteList", 1);
  const std::string folder = FolderUrl("Inbox");
  RaiseDirect(folder, folder, 0x01000008);
  ExpectErr("Item is not a message");
  EXPECT_EQ("New Mail : 0ms"
            "\r\n___Details___"
            "\r\nDomain    : "
            "\r\nUser      : "
            "\r\nMailfile  : "
            "\r\nFlags     : 0x1000008"
            "\r\nURL       : " + folder +
            "\r\nSender    : "
            "\r\nWhileList : .wlt"
            "\r\nBody Len  : 0"
            "\r\nDebugLevel: 2"
            "\r\nUseJunkFld: no"
            "\r\nJunkFolder: Junk E-Mail"
            "\r\nWhiteList : enabled (auto)"
            "\r\nProvMode  : 0"
            "\r\nHAM/SPAM  : 3/5",
            Trace());
  EXPECT_EQ((std::vector<EngineCall>{{"GetCounts", "", "", "", false}}), engine_->calls);
}

TEST_F(TraceReportTest, JunkSettingOfSeparatorsOnly) {
  SetDword("DebugLevel", 2);
  SetText("UseJunkMailFolder", ";;");
  Deliver();
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nUseJunkFld: no\r\nJunkFolder: " + MailStore::MailboxUrl(kDomain, kUser) + "/\r\n"));
}

TEST_F(TraceReportTest, MissingJunkSettingReadsAsZeroOnlyOnce) {
  SetDword("DebugLevel", 2);
  platform_.RemoveSetting("UseJunkMailFolder");
  Deliver();
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nJunkFolder: " + FolderUrl("0") + "\r\n"));
  MessageSpec second;
  second.subject = "Second";
  Deliver(second);
  EXPECT_THAT(Trace(), ::testing::HasSubstr("\r\nUseJunkFld: no\r\nJunkFolder: \r\n"));
}

TEST_F(TraceReportTest, FailingCountsLoseOnlyTheReport) {
  SetDword("DebugLevel", 2);
  engine_->failures.emplace("GetCounts", RuntimeError(kInputPastEndOfFile));
  const std::string url = Deliver();
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_EQ("", Trace());
  EXPECT_EQ(1, Marker(url));
  EXPECT_THAT(ErrorLines(), ElementsAre("Err: Varnolt Extension failed: Input past end of file 0x3E Source: " + url));
}

TEST_F(TraceReportTest, ElapsedTimeSurvivesTheTickCountWrap) {
  const struct {
    uint32_t start;
  } rows[] = {{0xFFFFFFFEu}, {0x7FFFFFFEu}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.start);
    platform_.ticks.now = row.start;
    platform_.ticks.step = 7;
    Deliver();
    // The log reads the tick right after the report did: step later.
    const uint32_t report_tick = static_cast<uint32_t>(TraceLogTick()) - 7;
    const uint32_t elapsed = report_tick - row.start;
    EXPECT_NE(report_tick >> 31, row.start >> 31);  // the count crossed 2^31 or 2^32
    EXPECT_LT(elapsed, 1000u);
    EXPECT_EQ("New Mail parsed as HAM : " + std::to_string(elapsed) + "ms", Trace());
  }
}

}  // namespace
}  // namespace varnolt::testing
