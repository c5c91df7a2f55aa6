#include "store/item_addressing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/com/com_error.h"
#include "support/recording_filter.h"

namespace varnolt {
namespace {

using testing::RecordingFilter;

TEST(SplitItemUrlTest, TakesSegmentsAsTheyStand) {
  struct Case {
    const char* url;
    const char* domain;
    const char* user;
    const char* mail_file;
  };
  const Case cases[] = {
      {"file://./backofficestorage/domain1/MBX/user1/Inbox/Hello.EML", "domain1", "user1", "Hello.EML"},
      {"file://./backofficestorage/domain1/MBX/user1/Inbox/Sub/Hello.EML", "domain1", "user1", "Hello.EML"},
      {"file://./backofficestorage/domain1/MBX/user1/Inbox/", "domain1", "user1", ""},
      {"file://./backofficestorage/domain1/MBX/user1", "domain1", "user1", "user1"},
      {"file://./backofficestorage/Dom%20A/MBX/ User /Inbox/x", "Dom%20A", " User ", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::string domain, user, mail_file;
    SplitItemUrl(c.url, &domain, &user, &mail_file);
    EXPECT_EQ(c.domain, domain);
    EXPECT_EQ(c.user, user);
    EXPECT_EQ(c.mail_file, mail_file);
  }
}

TEST(SplitItemUrlTest, ShortUrlsFailAfterSettingWhatTheyHave) {
  struct Case {
    const char* url;
    const char* domain;  // what domain holds after the failure
  };
  const Case cases[] = {
      {"file://./backofficestorage/domain1/MBX", "domain1"},  // six segments
      {"file://./backofficestorage/domain1", "domain1"},      // five
      {"file://./backofficestorage", "unchanged"},            // four
      {"", "unchanged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::string domain = "unchanged", user = "unchanged", mail_file = "unchanged";
    try {
      SplitItemUrl(c.url, &domain, &user, &mail_file);
      ADD_FAILURE() << "no failure";
    } catch (const ComError& error) {
      EXPECT_EQ(kSubscriptOutOfRange, error.number());
    }
    EXPECT_EQ(c.domain, domain);
    EXPECT_EQ("unchanged", user);
    EXPECT_EQ("unchanged", mail_file);
  }
}

TEST(GetInboxTest, CutsTheLastSegment) {
  struct Case {
    const char* url;
    const char* inbox;
    bool logged;
  };
  const Case cases[] = {
      {"file://./backofficestorage/domain1/MBX/user1/Inbox/Hello.EML",
       "file://./backofficestorage/domain1/MBX/user1/Inbox", false},
      {"file://./backofficestorage/domain1/MBX/user1/Inbox/Sub/Hello.EML",
       "file://./backofficestorage/domain1/MBX/user1/Inbox/Sub", false},
      {"file://./backofficestorage/domain1/MBX/user1/Inbox/", "file://./backofficestorage/domain1/MBX/user1/Inbox",
       false},
      {"", "", true},
      {"no slash", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    RecordingFilter filter;
    EXPECT_EQ(c.inbox, GetInbox(filter, c.url));
    if (c.logged) {
      EXPECT_THAT(filter.ErrorLines(),
                  ::testing::ElementsAre(std::string("Err: GetInbox failed: Invalid procedure call or argument 0x5 Source: ") + c.url));
    } else {
      EXPECT_TRUE(filter.errors.empty());
    }
  }
}

TEST(AsVariantTest, KeepsTheTextUnchanged) {
  EXPECT_EQ(Variant::Text(" urn:content-classes:message "), AsVariant(" urn:content-classes:message "));
}

}  // namespace
}  // namespace varnolt
