// Delivery of the user manual into a mailbox folder.
#include "manual/user_manual.h"

#include <gmock/gmock.h>

#include <filesystem>

#include "store/property_names.h"
#include "support/triage_fixture.h"

namespace varnolt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UserManualTest : public TriageTest {
 protected:
  void CreateIn(const std::string& folder) {
    CreateUserManual(*filter_, *connection_, data_folder_, FolderUrl(folder));
  }
  std::string ManualUrl() { return FolderUrl("Inbox/Varnolt_Manual.eml"); }
};

TEST_F(UserManualTest, ItemHoldsTheFileByteForByteWithFixedClassAndFlags) {
  const std::string source = "From: Admin <admin@example.com>\r\nSubject: Manual\r\nX-Flags: read\r\n\r\n"
                             "Bytes \xE9 as they are.\r\n";
  WriteDataFile("vnusrmnl.sys", source);
  CreateIn("Inbox");
  EXPECT_EQ(source, Content(ManualUrl()));
  EXPECT_EQ(Variant::Text("IPM.Note"), Property(ManualUrl(), MapiField("x001A001E")));
  EXPECT_EQ(2, Property(ManualUrl(), MapiField("x0E070003")).ToInt32());
  EXPECT_EQ(Variant::Text("Manual"), Property(ManualUrl(), "urn:schemas:httpmail:subject"));
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(UserManualTest, SecondDeliveryReplacesTheFirst) {
  CreateIn("Inbox");
  WriteDataFile("vnusrmnl.sys", "Subject: Newer\r\n\r\nNewer text.\r\n");
  CreateIn("Inbox");
  EXPECT_THAT(Items("Inbox"), ElementsAre("Varnolt_Manual.eml"));
  EXPECT_EQ("Subject: Newer\r\n\r\nNewer text.\r\n", Content(ManualUrl()));
}

TEST_F(UserManualTest, MissingSourceFileIsReportedWithTheFolder) {
  std::filesystem::remove(DataFile("vnusrmnl.sys"));
  ExpectErr("Creation of user manual failed: ");
  CreateIn("Inbox");
  ASSERT_EQ(1u, ErrorLines().size());
  EXPECT_THAT(ErrorLines()[0], ::testing::StartsWith("Err: Creation of user manual failed: "));
  EXPECT_THAT(ErrorLines()[0], ::testing::EndsWith(" Source: " + FolderUrl("Inbox")));
}

}  // namespace
}  // namespace varnolt::testing
