// End-to-end scenarios: the filter loaded by the varnolt host, driven through
// the command line the way an administrator and a mail user would.
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr const char* kAlice = "alice@example.com";
constexpr const char* kJunk = "Junk E-Mail";

class FilterScenarioTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kAlice});
  }
};

TEST_F(FilterScenarioTest, SpamGoesToTheJunkFolderAndIsHidden) {
  Ok({"config", "set", "HideSpam", "1"});
  const std::string url = Deliver(kAlice, SpamFrom("Spammer <sp@spam.example>", "Cheap pills"));

  EXPECT_EQ(std::string(kUrlPrefix) + "example.com/MBX/alice/Junk E-Mail/Cheap pills.EML", url);
  EXPECT_TRUE(Items(kAlice, kJunk, /*all=*/false).empty()) << "hidden items are listed only with --all";
  const Json item = ItemBySubject(kAlice, kJunk, "Cheap pills");
  ASSERT_FALSE(item.is_null());
  EXPECT_EQ(2, item["marker"]);
  EXPECT_EQ(true, item["hidden"]);
  EXPECT_EQ(1, LogCount("New Mail (Create User/Domain) recognized as SPAM"));
}

TEST_F(FilterScenarioTest, RescueSwapsTheMarkerRelearnsAndWhitelistsTheSenderOnce) {
  Ok({"config", "set", "DebugLevel", "2"});
  const std::string junk_url = Deliver(kAlice, SpamFrom("Eve Example <eve@example.net>", "Party invitation"));
  ASSERT_NE(std::string::npos, junk_url.find("/Junk E-Mail/"));
  const std::string before = Ok({"stats", kAlice});

  const std::string rescued = Ok({"move", junk_url, "Inbox"});
  EXPECT_EQ(1, ItemBySubject(kAlice, "Inbox", "Party invitation")["marker"]);
  EXPECT_NE(before, Ok({"stats", kAlice})) << "the rescue is relearned as HAM";
  EXPECT_EQ("eve@example.net\r\n", ReadAll(DataPath("example.com/alice.dat.wlt")));

  // Back into the junk folder and out again: swapped both ways, listed once.
  const std::string again = Ok({"move", rescued, kJunk});
  EXPECT_EQ(2, ItemBySubject(kAlice, kJunk, "Party invitation")["marker"]);
  Ok({"move", again, "Inbox"});
  EXPECT_EQ(1, ItemBySubject(kAlice, "Inbox", "Party invitation")["marker"]);
  EXPECT_EQ("eve@example.net\r\n", ReadAll(DataPath("example.com/alice.dat.wlt")));
  EXPECT_EQ(1, LogCount("Sender Address eve@example.net added to WhiteList."));
  EXPECT_EQ(2, LogCount("Mail moved by User was swapped to HAM (FP?)"));

  // From now on the sender is trusted, test string or not.
  const std::string next = Deliver(kAlice, SpamFrom("Eve Example <eve@example.net>", "Second party"));
  EXPECT_NE(std::string::npos, next.find("/Inbox/"));
  EXPECT_EQ(1, ItemBySubject(kAlice, "Inbox", "Second party")["marker"]);
  EXPECT_EQ(1, LogCount("New Mail (WL) forced to HAM"));
}

TEST_F(FilterScenarioTest, MoveIntoDeletedItemsIsLeftAlone) {
  const std::string junk_url = Deliver(kAlice, SpamFrom("Spammer <sp@spam.example>", "Old junk"));
  const std::string before = Ok({"stats", kAlice});

  Ok({"move", junk_url, "Deleted Items"});

  EXPECT_EQ(2, ItemBySubject(kAlice, "Deleted Items", "Old junk")["marker"]);
  EXPECT_EQ(before, Ok({"stats", kAlice}));
  EXPECT_EQ(1, LogCount("Mail moved by User to Deleted Items - leave untouched"));
}

TEST_F(FilterScenarioTest, ProviderModeIgnoresUnannouncedUsersAndAcceptsAnnouncedOnes) {
  Ok({"config", "set", "ProviderMode", "1"});
  Deliver(kAlice, MakeMessage("Bob <bob@example.net>", "Before announcement", "Hello Alice"));
  EXPECT_TRUE(ItemBySubject(kAlice, "Inbox", "Before announcement")["marker"].is_null());
  EXPECT_TRUE(ItemBySubject(kAlice, "Inbox", "Welcome - how your junk mail filter works").is_null());
  EXPECT_EQ(0, LogCount("New Mail"));

  WriteAll(DataPath("example.com/alice.dat.create"), "");
  Deliver(kAlice, MakeMessage("Bob <bob@example.net>", "After announcement", "Hello Alice"));

  EXPECT_EQ(1, ItemBySubject(kAlice, "Inbox", "After announcement")["marker"]);
  EXPECT_FALSE(fs::exists(DataPath("example.com/alice.dat.create")));
  EXPECT_TRUE(fs::exists(DataPath("example.com/alice.dat")));
  const Json manual = ItemBySubject(kAlice, "Inbox", "Welcome - how your junk mail filter works");
  ASSERT_FALSE(manual.is_null()) << "a new user gets the manual";
  EXPECT_EQ("Varnolt_Manual.eml", manual["name"]);
}

TEST_F(FilterScenarioTest, ItemThatIsNotAMessageIsReportedAndLeftAlone) {
  const std::string inbox = std::string(kUrlPrefix) + "example.com/MBX/alice/Inbox";
  EXPECT_EQ(inbox, Ok({"event", "0x01000008", inbox}));
  EXPECT_EQ(1, LogCount("Err: Item is not a message - check registration! 0x0 Source: " + inbox));

  // Flags outside the five the filter handles are ignored without a trace.
  const std::string url = Deliver(kAlice, MakeMessage("Bob <bob@example.net>", "Plain", "Hello"));
  const std::string log = Log();
  Ok({"event", "0x01000009", url});
  EXPECT_EQ(log, Log());
}

TEST_F(FilterScenarioTest, EngineFailureIsLoggedAndTheMessageLeftUnmarked) {
  fs::create_directories(DataPath("example.com"));
  const std::string foreign = "not a spam database, and not to be overwritten\n";
  WriteAll(DataPath("example.com/alice.dat"), foreign);

  const std::string url = Deliver(kAlice, SpamFrom("Spammer <sp@spam.example>", "Unjudged"));

  EXPECT_NE(std::string::npos, url.find("/Inbox/"));
  EXPECT_TRUE(ItemBySubject(kAlice, "Inbox", "Unjudged")["marker"].is_null());
  // The engine's own description crossed from the host into the filter library intact.
  EXPECT_EQ(1, LogCount("Varnolt Extension failed: Spam database"));
  EXPECT_EQ(foreign, ReadAll(DataPath("example.com/alice.dat")));
}

// Waits until the child has opened the pipe for reading, then writes the message.
bool FeedPipe(const std::string& path, const std::string& bytes, pid_t child) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, 0);
      const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
      close(fd);
      return written;
    }
    if (waitpid(child, nullptr, WNOHANG) == child) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST_F(FilterScenarioTest, SettingsChangeTakesEffectOnlyInANewProcess) {
  // One deliver process takes a file, then a pipe; the setting changes in between.
  const std::string first = MessageFile("first.eml", SpamFrom("S <s@spam.example>", "First"));
  const std::string pipe = dir_ + "/second.pipe";
  ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
  const pid_t child = Start({"deliver", kAlice, first, pipe}, "batch");
  // The child reads the pipe only after the first message went through the filter.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ItemBySubject(kAlice, kJunk, "First").is_null() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Ok({"config", "set", "HideSpam", "1"});
  ASSERT_TRUE(FeedPipe(pipe, SpamFrom("S <s@spam.example>", "Second"), child));
  const RunResult batch = Finish(child, "batch");
  ASSERT_EQ(0, batch.status) << batch.err;

  Deliver(kAlice, SpamFrom("S <s@spam.example>", "Third"));

  EXPECT_EQ(false, ItemBySubject(kAlice, kJunk, "First")["hidden"]);
  EXPECT_EQ(false, ItemBySubject(kAlice, kJunk, "Second")["hidden"]) << "settings are read once per process";
  EXPECT_EQ(true, ItemBySubject(kAlice, kJunk, "Third")["hidden"]);
}

}  // namespace
}  // namespace varnolt
