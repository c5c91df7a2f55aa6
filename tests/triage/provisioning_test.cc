// The domain directory, the provider-mode gate and its ".create" marker.
#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

#include "backends/system/posix_text_files.h"
#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;

class ProvisioningTest : public TriageTest {};

TEST_F(ProvisioningTest, FirstEventOfADomainCreatesItsDirectoryOnce) {
  Deliver();
  MessageSpec second;
  second.subject = "Second";
  Deliver(second);
  EXPECT_TRUE(std::filesystem::is_directory(DataFile(kDomain)));
  ASSERT_EQ(1u, platform_.events.entries.size());
  const RecordingEventLog::Entry& entry = platform_.events.entries[0];
  EXPECT_EQ(4, entry.type);
  EXPECT_EQ(0u, entry.event_id);
  EXPECT_THAT(entry.strings, ElementsAre("Database for Exchange Domain example.com successfully created."));
  std::vector<std::string> traces;
  for (const std::string& m : TriageMessages()) {
    if (m.rfind("New Mail", 0) == 0) traces.push_back(m);
  }
  EXPECT_THAT(traces, ElementsAre("New Mail (Create User/Domain) parsed as HAM : 0ms", "New Mail parsed as HAM : 0ms"));
}

TEST_F(ProvisioningTest, DomainIsReportedToTheEventLogAtLevelZeroToo) {
  SetDword("DebugLevel", 0);
  Deliver();
  EXPECT_EQ(1u, platform_.events.entries.size());
  EXPECT_FALSE(DataFileExists("Varnolt.log"));
}

TEST_F(ProvisioningTest, DirectoryThatCannotBeMadeIsLoggedAndTheEventGoesOn) {
  // A name too long for the file system: creating it fails with ENAMETOOLONG.
  const std::string domain(300, 'd');
  const std::string url = Place({}, "Inbox", std::nullopt);
  SetDword("ProviderMode", 1);  // ends the event right after the directory step
  EXPECT_EQ(S_OK, RaiseDirect(url, "file://./backofficestorage/" + domain + "/MBX/alice/Inbox/Hello.EML", 0x01000008));
  EXPECT_THAT(TriageMessages(), ElementsAre(StartsWith("ERROR while checking " + data_folder_ + domain +
                                                       " ,LastDllErr Code: ")));
  EXPECT_THAT(TriageMessages()[0], ::testing::EndsWith(" ,LastDllErr Code: 36"));
  EXPECT_THAT(platform_.events.entries, IsEmpty());
}

struct GateRow {
  const char* name;
  int32_t flags;
  bool dat;
  bool create;
  bool processed;
  bool manual;
};

class ProviderGateTest : public TriageTest, public ::testing::WithParamInterface<GateRow> {
 protected:
  ProviderGateTest() {
    SetDword("ProviderMode", 1);
    MakeDomainDir();
  }
};

TEST_P(ProviderGateTest, ProcessesKnownAndAnnouncedUsersOnly) {
  const GateRow& row = GetParam();
  if (row.dat) WriteDataFile(UserFile(".dat"), "");
  if (row.create) WriteDataFile(UserFile(".dat.create"), "announced");
  const std::string url = Place({}, "Junk E-Mail", 1);
  EXPECT_EQ(S_OK, RaiseDirect(url, url, row.flags));

  EXPECT_FALSE(DataFileExists(UserFile(".dat.create")));
  // The junk folder is resolved before the gate.
  std::vector<std::string> expected{"Found JunkMail folder '" + FolderUrl("Junk E-Mail") + "'"};
  if (row.processed) {
    if (row.create) expected.push_back("New user found, initialize database " + DatPath());
    if (row.manual) expected.push_back("dat file does not exist, create the manual for the user.");
    expected.push_back(row.flags == 0x01000008 ? "New Mail parsed as HAM : 0ms"
                                               : "Mail moved by User was swapped to SPAM : 0ms");
  }
  EXPECT_EQ(expected, TriageMessages());
  EXPECT_EQ(row.processed ? std::optional<int32_t>(row.flags == 0x01000008 ? 1 : 2) : std::optional<int32_t>(1),
            Marker(url));
  // The welcome is read in the Inbox, not in the junk folder the mail arrived in.
  const std::vector<std::string> items = Items("Inbox");
  EXPECT_EQ(row.manual, std::find(items.begin(), items.end(), "Varnolt_Manual.eml") != items.end());
  EXPECT_EQ(row.processed ? 1 : 0, engine_->instances);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProviderGateTest,
                         ::testing::Values(GateRow{"UnknownMail", 0x01000008, false, false, false, false},
                                           GateRow{"UnknownMove", 0x01000100, false, false, false, false},
                                           GateRow{"AnnouncedMail", 0x01000008, false, true, true, true},
                                           GateRow{"AnnouncedMove", 0x01000100, false, true, true, false},
                                           GateRow{"KnownMail", 0x01000008, true, false, true, false},
                                           GateRow{"KnownMove", 0x01000100, true, false, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

bool HasManual(const std::vector<std::string>& items) {
  return std::find(items.begin(), items.end(), "Varnolt_Manual.eml") != items.end();
}

TEST_F(ProvisioningTest, ANewUserIsWelcomedOnceAndTheClaimRecordsIt) {
  Deliver();
  EXPECT_TRUE(HasManual(Items("Inbox")));
  EXPECT_TRUE(DataFileExists(UserFile(".dat")));
  EXPECT_TRUE(DataFileExists(UserFile(".dat.welcome")));
  MessageSpec second;
  second.subject = "Second";
  Deliver(second);
  EXPECT_THAT(Items("Inbox"), UnorderedElementsAre("Hello.EML", "Second.EML", "Varnolt_Manual.eml"));
}

// Another delivery, in another process, is welcoming the user at this moment.
TEST_F(ProvisioningTest, AUserBeingWelcomedElsewhereGetsNoSecondManual) {
  MakeDomainDir();
  PosixTextFiles elsewhere;
  const FileClaimResult held = elsewhere.ClaimFile(DataFile(UserFile(".dat.welcome")));
  ASSERT_TRUE(held.claim);
  Deliver();
  EXPECT_THAT(Items("Inbox"), ElementsAre("Hello.EML"));
  EXPECT_TRUE(DataFileExists(UserFile(".dat.welcome")));  // the other event's, left to it
}

// The event that claimed the welcome was killed before the user had a
// database: nobody holds its claim, and the next delivery welcomes the user.
TEST_F(ProvisioningTest, AClaimLeftByAKilledEventIsTakenOver) {
  MakeDomainDir();
  WriteDataFile(UserFile(".dat.welcome"), "");
  Deliver();
  EXPECT_THAT(Items("Inbox"), UnorderedElementsAre("Hello.EML", "Varnolt_Manual.eml"));
  const std::vector<std::string> messages = TriageMessages();
  EXPECT_EQ(1, std::count_if(messages.begin(), messages.end(),
                             [](const std::string& m) { return m.rfind("Taking over ", 0) == 0; }));
  EXPECT_TRUE(DataFileExists(UserFile(".dat")));
  EXPECT_TRUE(DataFileExists(UserFile(".dat.welcome")));  // now the record of this welcome
  MessageSpec second;
  second.subject = "Second";
  Deliver(second);
  EXPECT_THAT(Items("Inbox"), UnorderedElementsAre("Hello.EML", "Second.EML", "Varnolt_Manual.eml"));
}

TEST_F(ProvisioningTest, WithoutADatabaseMadeTheNextMailWelcomesAgain) {
  engine_->files = nullptr;  // an engine that stores nothing
  Deliver();
  MessageSpec second;
  second.subject = "Second";
  Deliver(second);
  EXPECT_THAT(Items("Inbox"), UnorderedElementsAre("Hello.EML", "Second.EML", "Varnolt_Manual.eml"));
  const std::vector<std::string> messages = TriageMessages();
  EXPECT_EQ(2, std::count(messages.begin(), messages.end(), "dat file does not exist, create the manual for the user."));
  EXPECT_FALSE(DataFileExists(UserFile(".dat.welcome")));
}

TEST_F(ProvisioningTest, DirectoryNamedLikeTheDatabaseCountsAsKnown) {
  SetDword("ProviderMode", 1);
  std::filesystem::create_directories(DataFile(UserFile(".dat")));
  engine_->files = nullptr;  // an engine would fail on it; this test is about the gate
  const std::string url = Deliver();
  EXPECT_EQ(1, Marker(url));
  EXPECT_THAT(Items("Inbox"), ElementsAre("Hello.EML"));  // known: no manual
}

TEST_F(ProvisioningTest, MarkerThatCannotBeDeletedIsLoggedAndTheEventGoesOn) {
  SetDword("ProviderMode", 1);
  // A directory with content cannot be deleted as a file.
  std::filesystem::create_directories(DataFile(UserFile(".dat.create/keep")));
  const std::string url = Deliver();
  EXPECT_EQ(1, Marker(url));
  const std::vector<std::string> messages = TriageMessages();
  EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
    return m.rfind("Cannot delete " + DatPath() + ".create ,LastDllErr Code: ", 0) == 0;
  }));
  EXPECT_TRUE(DataFileExists(UserFile(".dat.create")));
}

}  // namespace
}  // namespace varnolt::testing
