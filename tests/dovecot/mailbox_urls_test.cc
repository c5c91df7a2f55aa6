#include "dovecot/mailbox_urls.h"

#include <gtest/gtest.h>

namespace varnolt::dovecot {
namespace {

TEST(MailboxUrlsTest, UserNamesSplitAtTheLastAt) {
  struct Case {
    const char* name;
    const char* user;
    const char* domain;
  };
  const Case cases[] = {
      {"alice@example.com", "alice", "example.com"},
      {"first.last@sub.example.org", "first.last", "sub.example.org"},
      {"odd@name@example.com", "odd@name", "example.com"},
      {"alice", "alice", "host.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string user, domain;
    SplitUserName(c.name, "host.example", &user, &domain);
    EXPECT_EQ(c.user, user);
    EXPECT_EQ(c.domain, domain);
  }
}

TEST(MailboxUrlsTest, FoldersAndItemsTakeTheStoresForm) {
  const MailboxUrls urls("example.com", "alice", '.');
  EXPECT_EQ("file://./backofficestorage/example.com/MBX/alice", urls.Root());
  EXPECT_EQ("file://./backofficestorage/example.com/MBX/alice/INBOX/Sub", urls.FolderUrl("INBOX.Sub"));
  EXPECT_EQ("file://./backofficestorage/example.com/MBX/alice/Junk E-Mail/42.EML", urls.ItemUrl("Junk E-Mail", 42));
  EXPECT_EQ("INBOX.Sub", urls.MailboxOf("INBOX/Sub"));
}

TEST(MailboxUrlsTest, PathsBelowTheRootIgnoringItsLetterCase) {
  const MailboxUrls urls("example.com", "alice", '/');
  struct Case {
    const char* url;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      {"file://./backofficestorage/example.com/MBX/alice", ""},
      {"FILE://./BackOfficeStorage/Example.com/mbx/ALICE/INBOX/3.EML", "INBOX/3.EML"},
      {"file://./backofficestorage/example.com/MBX/alice/Spambox/", "Spambox"},
      {"file://./backofficestorage/example.com/MBX/alicex/INBOX", std::nullopt},
      {"file://./backofficestorage/example.com/MBX/bob/INBOX", std::nullopt},
      {"file://./backofficestorage/example.com/MBX", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(c.path, urls.PathOf(c.url));
  }
}

TEST(MailboxUrlsTest, OnlyUidNamesAreItems) {
  struct Case {
    const char* name;
    std::optional<uint32_t> uid;
  };
  const Case cases[] = {
      {"7.EML", 7u},         {"4294967295.eml", 4294967295u}, {"0.EML", std::nullopt},
      {"4294967296.EML", std::nullopt}, {"Hello.EML", std::nullopt}, {"7.EM", std::nullopt},
      {".EML", std::nullopt}, {"+7.EML", std::nullopt},       {"7 .EML", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.uid, UidOfItemName(c.name));
  }
}

}  // namespace
}  // namespace varnolt::dovecot
