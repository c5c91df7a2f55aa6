// `train` reads mail the way administrators keep it (files, folders, Maildir,
// mbox, standard input), and `train`, `check` and `stats` work on the mailbox
// as the store holds it.
#include <gmock/gmock.h>
#include <sqlite3.h>

#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr const char* kAlice = "alice@example.com";

class TrainInputTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kAlice});
  }

  // Writes bytes at a path below the test folder, making its folders.
  std::string Put(const std::string& relative, const std::string& bytes) {
    const fs::path path = fs::path(dir_) / relative;
    fs::create_directories(path.parent_path());
    WriteAll(path.string(), bytes);
    return path.string();
  }

  static std::string Mail(int n, const std::string& body) {
    return MakeMessage("Sender " + std::to_string(n) + " <s" + std::to_string(n) + "@example.net>",
                       "Message " + std::to_string(n), body);
  }

  std::string Train(const std::vector<std::string>& args) {
    std::vector<std::string> all{"train", kAlice};
    all.insert(all.end(), args.begin(), args.end());
    return Ok(all);
  }
};

TEST_F(TrainInputTest, AnMboxIsSplitIntoItsMessagesWithFromLinesUnquoted) {
  // The messages as their own files, the body line "From here on..." as written.
  const std::string one = Mail(1, "First.\r\nFrom here on, all is well.");
  const std::string two = Mail(2, "Second.\r\n>From a quoted line that stays quoted once.");
  const std::string three = Mail(3, "Third, the last one.");
  // In the mbox a body line starting "From " is quoted with ">", and one that
  // already started with ">From " gets one more.
  const std::string in_mbox[] = {Mail(1, "First.\r\n>From here on, all is well."),
                                 Mail(2, "Second.\r\n>>From a quoted line that stays quoted once."), three};
  std::string mbox;
  for (const std::string& message : in_mbox) mbox += "From sender@example.net Mon Dec  7 10:00:00 2026\n" + message + "\n";
  const std::string file = Put("mail.mbox", mbox);
  ASSERT_NE(std::string::npos, mbox.find(">From here on")) << "the body line is quoted in the mbox";

  EXPECT_EQ("learned 3 (0 HAM, 3 SPAM), 0 already known, 0 skipped for alice@example.com (now 0 HAM, 3 SPAM)",
            Train({"--spam", file}));
  // The same messages from files: known already, so the split gave them byte for byte.
  const std::vector<std::string> files{Put("one.eml", one), Put("two.eml", two), Put("three.eml", three)};
  std::vector<std::string> args{"--spam"};
  args.insert(args.end(), files.begin(), files.end());
  EXPECT_EQ("learned 0 (0 HAM, 0 SPAM), 3 already known, 0 skipped for alice@example.com (now 0 HAM, 3 SPAM)",
            Train(args));
  // And from standard input.
  EXPECT_EQ("learned 0 (0 HAM, 0 SPAM), 3 already known, 0 skipped for alice@example.com (now 0 HAM, 3 SPAM)",
            Ok({"train", kAlice, "--spam", "-"}, mbox));
}

TEST_F(TrainInputTest, AMaildirGivesCurAndNewAndItsSubfoldersOnlyWhenRecursive) {
  Put("Maildir/cur/1.host:2,S", Mail(1, "Read message."));
  Put("Maildir/new/2.host", Mail(2, "New message."));
  Put("Maildir/tmp/3.host", Mail(3, "Still being delivered."));
  Put("Maildir/dovecot-uidlist", "3 V1 N4\n");
  const std::string picture = Put("Maildir/cur/picture.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  Put("Maildir/.Junk/cur/4.host:2,", Mail(4, "A message in a subfolder."));

  const RunResult flat = Run({"train", kAlice, "--ham", dir_ + "/Maildir"});
  EXPECT_EQ(0, flat.status) << flat.err;
  EXPECT_EQ("learned 2 (2 HAM, 0 SPAM), 0 already known, 1 skipped for alice@example.com (now 2 HAM, 0 SPAM)\n",
            flat.out);
  EXPECT_NE(std::string::npos, flat.err.find("skipped " + picture + ": not a mail message")) << flat.err;

  EXPECT_EQ("learned 1 (1 HAM, 0 SPAM), 2 already known, 1 skipped for alice@example.com (now 3 HAM, 0 SPAM)",
            Train({"--ham", dir_ + "/Maildir", "--recursive"}));
}

TEST_F(TrainInputTest, BothClassesInOneCall) {
  Put("spam/a.eml", Mail(1, "Cheap offers now."));
  Put("spam/b.eml", Mail(2, "More cheap offers."));
  Put("spam/c.eml", Mail(3, "Even more offers."));
  Put("ham/a.eml", Mail(4, "The meeting is at ten."));
  Put("ham/empty.eml", "");
  EXPECT_EQ("learned 4 (1 HAM, 3 SPAM), 0 already known, 1 skipped for alice@example.com (now 1 HAM, 3 SPAM)",
            Train({"--spam", dir_ + "/spam", "--ham", dir_ + "/ham"}));
  // A correction in the same form moves the message.
  EXPECT_EQ("learned 1 (1 HAM, 0 SPAM), 0 already known, 0 skipped for alice@example.com (now 2 HAM, 2 SPAM)",
            Train({"--ham", dir_ + "/spam/c.eml"}));
  EXPECT_EQ(1, Run({"train", kAlice, "--spam", dir_ + "/missing"}).status);
}

TEST_F(TrainInputTest, MailboxNamesAreFoldedAndUnknownMailboxesRefused) {
  const std::string message = Put("m.eml", Mail(1, "Hello there."));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of the output, or of the error
  };
  const Case cases[] = {
      {{"train", "ALICE@Example.COM", "--ham", message}, 0, "learned 1 (1 HAM, 0 SPAM), 0 already known, 0 skipped for alice@example.com"},
      {{"stats", "Alice@EXAMPLE.com"}, 0, "ham 1\nspam 0"},
      {{"check", "alice@EXAMPLE.COM", message}, 0, "HAM "},
      {{"train", "nobody@nowhere.example", "--ham", message}, 1, "varnolt: no mailbox nobody@nowhere.example (create it with 'varnolt mailbox add')"},
      {{"check", "nobody@nowhere.example", message}, 1, "varnolt: no mailbox nobody@nowhere.example"},
      {{"stats", "nobody@example.com"}, 1, "varnolt: no mailbox nobody@example.com"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = Run(c.args);
    EXPECT_EQ(c.status, result.status) << result.err;
    EXPECT_EQ(0u, (c.status == 0 ? result.out : result.err).find(c.out)) << result.out << result.err;
  }
  EXPECT_TRUE(fs::exists(DataPath("example.com/alice.dat")));
  // A mailbox of another mail system the filter serves is known by its model.
  fs::create_directories(DataPath("example.org"));
  fs::copy_file(DataPath("example.com/alice.dat"), DataPath("example.org/bob.dat"));
  EXPECT_EQ("ham 1\nspam 0\nwhitelist 0", Ok({"stats", "bob@example.org"}));
  EXPECT_FALSE(fs::exists(DataPath("Example.COM")));
  EXPECT_FALSE(fs::exists(DataPath("example.com/ALICE.dat")));
  EXPECT_FALSE(fs::exists(DataPath("nowhere.example"))) << "nothing for an unknown mailbox";
  EXPECT_FALSE(fs::exists(DataPath("example.com/nobody.dat")));
}

TEST_F(TrainInputTest, TheEnginesAutolearnSettingIsOnOrOff) {
  const std::string config = ReadAll(home_ + "/varnolt.conf");
  ASSERT_NE(std::string::npos, config.find("autolearn = on")) << "a new home spells out the default";
  for (const char* value : {"on", "off", "maybe"}) {
    SCOPED_TRACE(value);
    std::string changed = config;
    changed.replace(changed.find("autolearn = on"), 14, std::string("autolearn = ") + value);
    WriteAll(home_ + "/varnolt.conf", changed);
    const RunResult result = Run({"stats", kAlice});
    EXPECT_EQ(value == std::string("maybe") ? 1 : 0, result.status);
    if (result.status != 0) {
      EXPECT_NE(std::string::npos, result.err.find("autolearn must be 'on' or 'off'")) << result.err;
    }
  }
}

TEST_F(TrainInputTest, ADeliveryTeachesTheEngineItsClearVerdictOnlyWithAutolearnOn) {
  const std::string samples = std::string(VARNOLT_SOURCE_DIR) + "/samples";
  const std::string ham = ReadAll(samples + "/incoming/01-ham.eml");
  const std::string config = ReadAll(home_ + "/varnolt.conf");
  struct Case {
    const char* setting;
    const char* mailbox;
    const char* stats_after;
  };
  const Case cases[] = {
      {"autolearn = on", "on@example.com", "ham 11\nspam 10\nwhitelist 0"},
      {"autolearn = off", "off@example.com", "ham 10\nspam 10\nwhitelist 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    std::string changed = config;
    changed.replace(changed.find("autolearn = on"), 14, c.setting);
    WriteAll(home_ + "/varnolt.conf", changed);
    Ok({"mailbox", "add", c.mailbox});
    Ok({"train", c.mailbox, "--spam", samples + "/train/spam", "--ham", samples + "/train/ham"});
    Deliver(c.mailbox, ham);
    EXPECT_EQ(c.stats_after, Ok({"stats", c.mailbox}));
    Deliver(c.mailbox, ham);
    EXPECT_EQ(c.stats_after, Ok({"stats", c.mailbox})) << "the same message again is already known";
  }
}

}  // namespace
}  // namespace varnolt

namespace varnolt {
namespace {

using ::testing::HasSubstr;

// A model damaged inside (a count of -5) is refused by every command, named
// with the way to rebuild it, and never written: `train` says how much it
// learned before it stopped, `deliver` stores the mail without a verdict.
TEST_F(TrainInputTest, ADamagedModelIsRefusedAndLeftAsItWas) {
  Train({"--spam", Put("one.eml", Mail(1, "cheap pills"))});
  const std::string model = DataPath("example.com/alice.dat");
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(model.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "UPDATE meta SET value = -5 WHERE key = 'ham'", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  const std::string before = ReadAll(model);

  const RunResult train = Run({"train", kAlice, "--ham", Put("two.eml", Mail(2, "meeting notes"))});
  EXPECT_EQ(1, train.status);
  EXPECT_THAT(train.err, HasSubstr("is corrupt ('ham' is -5)"));
  EXPECT_THAT(train.err, HasSubstr("'varnolt model reset USER@DOMAIN'"));
  EXPECT_THAT(train.err, HasSubstr("0 messages were learned before the failure"));

  const RunResult deliver = Run({"deliver", kAlice, "-v", Put("three.eml", Mail(3, "hello"))});
  EXPECT_EQ(0, deliver.status) << deliver.err;
  EXPECT_THAT(deliver.err, HasSubstr("without a verdict"));
  EXPECT_THAT(deliver.err, HasSubstr("'ham' is -5"));
  EXPECT_THAT(Ok({"ls", kAlice}), HasSubstr("Message 3"));
  EXPECT_EQ(before, ReadAll(model));
}

}  // namespace
}  // namespace varnolt
