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

}  // namespace
}  // namespace varnolt
