#include "platform/names/data_layout.h"

#include <gtest/gtest.h>

#include "platform/com/com_error.h"

namespace varnolt {
namespace {

TEST(DataLayoutTest, TheDataFolderIsTheFirstFieldOfTheConstructorString) {
  struct Row {
    const char* constructor_string;
    const char* folder;
  };
  const Row rows[] = {
      {"/srv/varnolt/data", "/srv/varnolt/data\\"},
      {"  C:\\Varnolt\\  ;debug;x", "C:\\Varnolt\\"},
      {"/data/ ", "/data/\\"},  // a "/" is no separator of the composed paths
      {"\t/data", "\t/data\\"},  // only blanks are trimmed
      {";rest", "\\"},
      {"   ", "\\"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.constructor_string);
    EXPECT_EQ(row.folder, DataFolderFromConstructorString(row.constructor_string));
  }
  try {
    DataFolderFromConstructorString("");
    ADD_FAILURE() << "an empty string named a folder";
  } catch (const ComError& e) {
    EXPECT_EQ(kSubscriptOutOfRange, e.number());
  }
}

TEST(DataLayoutTest, AUsersFilesLieInTheDomainDirectory) {
  const std::string data = "/srv/data\\";
  EXPECT_EQ("/srv/data\\example.com", DomainDirectory(data, "example.com"));
  EXPECT_EQ("/srv/data\\example.com\\alice.dat", UserDatabasePath(data, "example.com", "alice"));
  EXPECT_EQ("/srv/data\\example.com\\alice.dat.wlt", WhiteListPath(UserDatabasePath(data, "example.com", "alice")));
  EXPECT_EQ("/srv/data\\Varnolt.log", LogFilePath(data));
  EXPECT_EQ("/srv/data\\vnusrmnl.sys", UserManualSourcePath(data));
  EXPECT_EQ("Varnolt.log", LogFilePath(""));  // no data folder: the current directory
}

TEST(DataLayoutTest, MailboxUrls) {
  EXPECT_EQ("file://./backofficestorage/example.com/MBX/alice", MailboxUrl("example.com", "alice"));
  EXPECT_EQ("file://./backofficestorage/example.com/MBX/alice/Inbox/Sub",
            FolderUrl("example.com", "alice", "/Inbox/Sub/"));
  EXPECT_EQ(MailboxUrl("example.com", "alice"), FolderUrl("example.com", "alice", "/"));
}

// Reading a model's path back gives what composed it, in either separator.
TEST(DataLayoutTest, AModelPathSplitsIntoWhatComposedIt) {
  const struct {
    std::string path, data_folder, domain, file;
  } cases[] = {
      {UserDatabasePath("/srv/data\\", "example.com", "alice"), "/srv/data\\", "example.com", "alice.dat"},
      {DomainModelPath("/srv/data/", "example.com"), "/srv/data/", "example.com", kDomainModelFileName},
      {"example.com/alice.dat", "", "example.com", "alice.dat"},
      {"alice.dat", "", "", "alice.dat"},
  };
  for (const auto& c : cases) {
    const ModelPathParts parts = SplitModelPath(c.path);
    EXPECT_EQ(c.data_folder, parts.data_folder) << c.path;
    EXPECT_EQ(c.domain, parts.domain) << c.path;
    EXPECT_EQ(c.file, parts.file) << c.path;
    EXPECT_TRUE(IsModelFileName(parts.file)) << c.path;
  }
  EXPECT_FALSE(IsModelFileName(".dat"));
  EXPECT_FALSE(IsModelFileName("alice.dat.wlt"));
}

}  // namespace
}  // namespace varnolt
