// Which saves the filter handles, what it reads first, and the driver's last net.
#include <gmock/gmock.h>

#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class EventGateTest : public TriageTest {};

TEST_F(EventGateTest, HandledFlagsMapToTheirKind) {
  MakeDomainDir();
  const struct {
    int32_t flags;
    const char* label;
  } rows[] = {
      {0x01000008, "New Mail parsed as HAM : 0ms"},
      {0x01000048, "New Mail parsed as HAM : 0ms"},
      {0x01000041, "Mail moved by User already parsed as HAM : 0ms"},
      {0x01000100, "Mail moved by User already parsed as HAM : 0ms"},
      {0x01000140, "Mail moved by User already parsed as HAM : 0ms"},
  };
  const std::string url = Place({}, "Inbox", 1);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.flags);
    store_->RaiseSaveEvent(url, row.flags);
    EXPECT_EQ(row.label, Trace());
  }
}

TEST_F(EventGateTest, OtherFlagsCostOneTickReadAndNothingElse) {
  const std::string url = Place({}, "Inbox", std::nullopt);
  const int32_t ignored[] = {0x01000009, 0x00000008, 0x01000108, 0x01000000, 0, -1, 0x02000008};
  platform_.ticks.step = 1;
  for (int32_t flags : ignored) {
    SCOPED_TRACE(flags);
    const uint32_t before = platform_.ticks.now;
    EXPECT_EQ(S_OK, RaiseDirect(url, url, flags));
    EXPECT_EQ(before + 1, platform_.ticks.now);
  }
  EXPECT_THAT(LogMessages(), IsEmpty());
  EXPECT_EQ(std::nullopt, Marker(url));
  EXPECT_EQ(0, engine_->instances);
  EXPECT_FALSE(DataFileExists(kDomain));

  // Nothing was read into the settings cache: a value changed now still counts.
  SetDword("DebugLevel", 0);
  Deliver();
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(EventGateTest, DebugLevelIsStoredBeforeTheOtherSettingsAreRead) {
  MakeDomainDir();
  Deliver();
  // The DebugLevel read itself ran under the object's level 0; the rest under 1.
  const std::vector<std::string> log = LogMessages();
  ASSERT_GE(log.size(), 5u);
  EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 5),
              ElementsAre("Loading HideSpam(0) from registry.", "Loading ProviderMode(0) from registry.",
                          "Loading UseJunkMailFolder(Junk E-Mail) from registry.",
                          "Loading UseWhiteList(0) from registry.", "Loading AutoWhiteList(1) from registry."));
  EXPECT_EQ(1, filter_->DebugLevel());
}

TEST_F(EventGateTest, ItemThatIsNotAMessageIsReportedAndLeftAlone) {
  const std::string folder = FolderUrl("Inbox");
  EXPECT_EQ(S_OK, RaiseDirect(folder, folder, 0x01000008));
  ExpectErr("Item is not a message");
  EXPECT_THAT(TriageMessages(),
              ElementsAre("Err: Item is not a message - check registration! 0x0 Source: " + folder, "New Mail : 0ms"));
  EXPECT_FALSE(DataFileExists(kDomain));
  EXPECT_EQ(0, engine_->instances);
}

TEST_F(EventGateTest, SettingThatIsNoNumberEndsTheEventWithEmptySource) {
  SetText("HideSpam", "often");
  const std::string url = Deliver();
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_THAT(ErrorLines(), ElementsAre("Err: Varnolt Extension failed: Type mismatch 0xD Source: "));
  EXPECT_EQ(std::nullopt, Marker(url));
  EXPECT_EQ("", Trace());
}

TEST_F(EventGateTest, ShortItemUrlEndsTheEvent) {
  const std::string url = Place({}, "Inbox", std::nullopt);
  EXPECT_EQ(S_OK, RaiseDirect(url, "file://./backofficestorage/example.com/MBX", 0x01000008));
  ExpectErr("Varnolt Extension failed: ");
  EXPECT_THAT(ErrorLines(), ElementsAre("Err: Varnolt Extension failed: Subscript out of range 0x9 Source: " + url));
  EXPECT_EQ(std::nullopt, Marker(url));
}

// Names from the item URL become file paths: one that would leave the data
// folder must not reach the file system at all.
TEST_F(EventGateTest, UnsafeDomainOrUserNamesTouchNoFile) {
  const std::string url = Place({}, "Inbox", std::nullopt);
  const std::string tail = "/Inbox/Hello.EML";
  const struct {
    std::string event_url;
    std::string description;
  } rows[] = {
      {"file://./backofficestorage/../MBX/alice" + tail, "Domain name \"..\""},
      {"file://./backofficestorage/./MBX/alice" + tail, "Domain name \".\""},
      {"file://./backofficestorage//MBX/alice" + tail, "Domain name \"\""},
      {"file://./backofficestorage/..\\..\\etc/MBX/alice" + tail, "Domain name \"..\\..\\etc\""},
      {"file://./backofficestorage/example.com/MBX/.." + tail, "User name \"..\""},
      {"file://./backofficestorage/example.com/MBX/" + tail, "User name \"\""},
      {"file://./backofficestorage/example.com/MBX/a\\b" + tail, "User name \"a\\b\""},
      {"file://./backofficestorage/example.com/MBX/al" + std::string(1, '\0') + "ice" + tail, "User name \"al\\0ice\""},
  };
  ExpectErr("Varnolt Extension failed: ");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.event_url);
    EXPECT_EQ(S_OK, RaiseDirect(url, row.event_url, 0x01000008));
    EXPECT_EQ("Err: Varnolt Extension failed: " + row.description +
                  " of the item URL cannot name a file in the data folder 0x5 Source: " + url,
              ErrorLines().back());
  }
  EXPECT_EQ(std::size(rows), ErrorLines().size());
  EXPECT_THAT(DataFolderNames(), ElementsAre("Varnolt.log", "vnusrmnl.sys"));
  EXPECT_EQ(std::nullopt, Marker(url));
  EXPECT_THAT(Items("Inbox"), ElementsAre("Hello.EML"));
  EXPECT_EQ(0, engine_->instances);
  EXPECT_FALSE(platform_.Exists(platform_.dir() + "etc"));
}

TEST_F(EventGateTest, EngineThatCannotBeMadeEndsTheEvent) {
  MakeDomainDir();
  WriteDataFile(UserFile(".dat"), "");
  platform_.engine_factory = nullptr;
  const std::string url = Deliver();
  ExpectErr("Varnolt Extension failed: ");
  ASSERT_EQ(1u, ErrorLines().size());
  EXPECT_THAT(ErrorLines()[0], ::testing::EndsWith(" Source: " + url));
  EXPECT_EQ(std::nullopt, Marker(url));
}

}  // namespace
}  // namespace varnolt::testing
