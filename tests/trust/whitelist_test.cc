// The whitelist file: exact lines, CR LF, append only.
#include "trust/whitelist.h"

#include <gmock/gmock.h>

#include <filesystem>

#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class WhiteListTest : public TriageTest {
 protected:
  WhiteListTest() {
    MakeDomainDir();
    url_ = Place({}, "Inbox", std::nullopt);
    record_ = OpenRecord(url_);
  }

  bool Listed(const std::string& sender) {
    return InWhiteList(*filter_, platform_.Files(), *record_, DatPath(), sender);
  }
  bool Add(const std::string& sender) {
    return AddToWhiteList(*filter_, platform_.Files(), *record_, DatPath(), sender);
  }

  std::string url_;
  std::unique_ptr<Record> record_;
};

TEST_F(WhiteListTest, LookupIsWholeLineAndCaseSensitive) {
  WriteDataFile(UserFile(".dat.wlt"), "first@example.org\r\nBob@example.org\r\nbob@example.org \r\n\r\nlast@example.org");
  const struct {
    const char* sender;
    bool listed;
  } rows[] = {{"first@example.org", true}, {"bob@example.org", false}, {"Bob@example.org", true},
              {"bob@example.org ", true},  {"", true},                 {"last@example.org", true},
              {"example.org", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.sender);
    EXPECT_EQ(row.listed, Listed(row.sender));
  }
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(WhiteListTest, EmptyFileListsNobodySilently) {
  WriteDataFile(UserFile(".dat.wlt"), "");
  EXPECT_FALSE(Listed("bob@example.org"));
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(WhiteListTest, AddCreatesTheFileAndOnlyAppends) {
  EXPECT_TRUE(Add("bob@example.org"));
  EXPECT_EQ("bob@example.org\r\n", ReadDataFile(UserFile(".dat.wlt")));
  EXPECT_TRUE(Add("bob@example.org"));
  EXPECT_TRUE(Add("carol@example.org"));
  EXPECT_EQ("bob@example.org\r\nbob@example.org\r\ncarol@example.org\r\n", ReadDataFile(UserFile(".dat.wlt")));
  EXPECT_TRUE(Listed("carol@example.org"));
  // Only <user>.dat.wlt in the domain directory.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(DataFile(kDomain))) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_THAT(names, ElementsAre("alice.dat.wlt"));
}

TEST_F(WhiteListTest, SenderWithAControlCharacterIsNeitherAddedNorListed) {
  WriteDataFile(UserFile(".dat.wlt"), "a@example.org\r\nceo@bank.example\r\n");
  ExpectErr("AddToWhiteList() failed: ");
  for (const char* sender : {"a@example.org\r\nceo@bank.example", "ceo@bank.example\r", "x\ny", "x\x01"}) {
    SCOPED_TRACE(sender);
    EXPECT_FALSE(Add(sender));
    EXPECT_FALSE(Listed(sender));
  }
  EXPECT_EQ("a@example.org\r\nceo@bank.example\r\n", ReadDataFile(UserFile(".dat.wlt")));
  EXPECT_EQ(4u, ErrorLines().size());
}

TEST_F(WhiteListTest, AddWithoutTheDomainDirectoryIsReported) {
  std::filesystem::remove_all(DataFile(kDomain));
  ExpectErr("AddToWhiteList() failed: ");
  EXPECT_FALSE(Add("bob@example.org"));
  EXPECT_FALSE(DataFileExists(kDomain));
  ASSERT_EQ(1u, ErrorLines().size());
  EXPECT_THAT(ErrorLines()[0], ::testing::EndsWith(" Source: " + url_));
}

// What the command line reads: every line an entry, in order, as the lookup
// takes them; a missing file or domain directory is an empty list.
TEST_F(WhiteListTest, ReadGivesEveryLineAsTheLookupSeesIt) {
  EXPECT_THAT(ReadWhiteList(platform_.Files(), DatPath()), IsEmpty());
  WriteDataFile(UserFile(".dat.wlt"), "b@example.org\r\n\r\nA@example.org \r\nlast@example.org");
  EXPECT_THAT(ReadWhiteList(platform_.Files(), DatPath()),
              ElementsAre("b@example.org", "", "A@example.org ", "last@example.org"));
  for (const std::string& entry : ReadWhiteList(platform_.Files(), DatPath())) EXPECT_TRUE(Listed(entry)) << entry;
  std::filesystem::remove_all(DataFile(kDomain));
  EXPECT_THAT(ReadWhiteList(platform_.Files(), DatPath()), IsEmpty());
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(WhiteListTest, ScanReportsNothingAndTellsAMissingFileApart) {
  WriteDataFile(UserFile(".dat.wlt"), "bob@example.org\r\n");
  std::optional<ComError> unreadable;
  EXPECT_EQ(std::optional<bool>(true), ScanWhiteList(platform_.Files(), DatPath(), "bob@example.org", &unreadable));
  EXPECT_EQ(std::optional<bool>(false), ScanWhiteList(platform_.Files(), DatPath(), "bob@example.org\r", &unreadable));
  std::filesystem::remove(DataFile(UserFile(".dat.wlt")));
  EXPECT_EQ(std::nullopt, ScanWhiteList(platform_.Files(), DatPath(), "bob@example.org", &unreadable));
  ASSERT_TRUE(unreadable.has_value());
  EXPECT_THAT(LogMessages(), IsEmpty());
}

}  // namespace
}  // namespace varnolt::testing
