// Every file a home can hold, made by root (an administrator) in a home that
// a mail server's user runs, and by that user: each is the mail user's and
// none is for other users of the machine.
#include <grp.h>
#include <sys/stat.h>

#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr uid_t kMailUser = 65534;  // nobody
constexpr gid_t kMailGroup = 65534;

class FileModesTest : public CliTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as an administrator and a mail user";
    CliTest::SetUp();
    ::chmod(dir_.c_str(), 0755);  // the mail user reaches the home and the messages
    old_mask_ = ::umask(022);
  }
  void TearDown() override {
    if (::geteuid() == 0) ::umask(old_mask_);
    CliTest::TearDown();
  }

  // Runs varnolt as the mail user; its exit status.
  int RunAsMailUser(const std::vector<std::string>& args) {
    std::vector<std::string> argv_text{Binary(), "--home", home_};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (auto& arg : argv_text) argv.push_back(arg.data());
      argv.push_back(nullptr);
      const int out = ::open((dir_ + "/as-user.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(out, 2);
      if (::setgroups(0, nullptr) != 0 || ::setgid(kMailGroup) != 0 || ::setuid(kMailUser) != 0) ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void GiveHomeToMailUser() {
    for (const auto& entry : fs::recursive_directory_iterator(home_)) {
      ASSERT_EQ(0, ::lchown(entry.path().c_str(), kMailUser, kMailGroup));
    }
    ASSERT_EQ(0, ::chown(home_.c_str(), kMailUser, kMailGroup));
  }

  // Every file below the home: the mail user's, and nothing for others.
  void ExpectEveryFileServesTheMailUser(const std::vector<std::string>& expected) {
    for (const std::string& relative : expected) EXPECT_TRUE(fs::exists(home_ + "/" + relative)) << relative;
    for (const auto& entry : fs::recursive_directory_iterator(home_)) {
      SCOPED_TRACE(entry.path().string());
      struct stat info {};
      ASSERT_EQ(0, ::lstat(entry.path().c_str(), &info));
      EXPECT_EQ(kMailUser, info.st_uid);
      EXPECT_EQ(kMailGroup, info.st_gid);
      if (S_ISREG(info.st_mode)) {
        EXPECT_EQ(0u, info.st_mode & 07) << std::oct << (info.st_mode & 0777);
      }
    }
  }

  mode_t ModeOf(const std::string& relative) {
    struct stat info {};
    EXPECT_EQ(0, ::stat((home_ + "/" + relative).c_str(), &info)) << relative;
    return info.st_mode & 0777;
  }

  mode_t old_mask_ = 0;
};

TEST_F(FileModesTest, EveryFileOfAServedHomeIsTheMailUsersAndPrivate) {
  Ok({"mailbox", "add", "alice@example.com"});
  Ok({"mailbox", "add", "bob@example.com"});
  GiveHomeToMailUser();
  const std::string ham = MessageFile("ham.eml", MakeMessage("Carol <carol@example.net>", "Hi", "Lunch?"));

  // The administrator, as root.
  Ok({"deliver", "alice@example.com", ham});
  Ok({"whitelist", "add", "bob@example.com", "friend@example.net"});
  Ok({"train", "--domain", "example.com", "--ham", ham});
  fs::rename(DataPath("Varnolt.log"), DataPath("Varnolt.log.1"));  // rotated by a plain mv
  fs::remove(home_ + "/journal.db");
  Ok({"deliver", "bob@example.com", MessageFile("spam.eml", SpamFrom("S <s@spam.example>", "Offer"))});
  const std::vector<std::string> files = {
      "varnolt.conf",          "registry.reg",          "store.db",
      "journal.db",            "data/Varnolt.log",      "data/vnusrmnl.sys",
      "data/example.com",      "data/example.com/alice.dat", "data/example.com/alice.dat.wlt",
      "data/example.com/alice.dat.welcome", "data/example.com/bob.dat.wlt", "data/example.com/@domain.model"};
  ExpectEveryFileServesTheMailUser(files);
  EXPECT_EQ(0640u, ModeOf("varnolt.conf"));
  EXPECT_EQ(0640u, ModeOf("journal.db"));
  EXPECT_EQ(0640u, ModeOf("data/example.com/bob.dat.wlt"));
  EXPECT_NE(std::string::npos, ReadAll(DataPath("Varnolt.log")).find("/MBX/bob/")) << "the new log is written";

  // The mail server, as its user: a new domain and user, and the command's own changes.
  ASSERT_EQ(0, RunAsMailUser({"mailbox", "add", "dave@example.org"})) << ReadAll(dir_ + "/as-user.out");
  ASSERT_EQ(0, RunAsMailUser({"mailbox", "add", "erin@example.com"})) << ReadAll(dir_ + "/as-user.out");
  ASSERT_EQ(0, RunAsMailUser({"deliver", "dave@example.org", ham})) << ReadAll(dir_ + "/as-user.out");
  ASSERT_EQ(0, RunAsMailUser({"whitelist", "remove", "bob@example.com", "friend@example.net"}));
  ASSERT_EQ(0, RunAsMailUser({"config", "set", "DebugLevel", "2"})) << ReadAll(dir_ + "/as-user.out");
  ExpectEveryFileServesTheMailUser(
      {"data/example.org/dave.dat", "data/example.org/dave.dat.wlt", "data/example.com/erin.dat.wlt"});

  // A backup keeps the copies as closed as what they copy.
  Ok({"backup", "-q", dir_ + "/copy"});
  for (const char* relative : {"varnolt.conf", "store.db", "journal.db", "registry.reg", "data/example.com/alice.dat",
                               "data/example.com/alice.dat.wlt"}) {
    struct stat info {};
    ASSERT_EQ(0, ::stat((dir_ + "/copy/" + relative).c_str(), &info)) << relative;
    EXPECT_EQ(0u, info.st_mode & 07) << relative;
  }
}

TEST_F(FileModesTest, AConfigurationHoldingAPasswordIsTheOwnersAlone) {
  home_ = dir_ + "/postgres-home";
  // The schema cannot be made (no server listens), but the settings are written first.
  Run({"init", "--postgresql", "host=127.0.0.1 port=1 dbname=varnolt password=Secret-42"});
  EXPECT_EQ(0600u, ModeOf("varnolt.conf"));
}

}  // namespace
}  // namespace varnolt
