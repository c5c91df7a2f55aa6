// A hostile sender, a careless administrator and a mail transfer agent: what
// each of them can make the command do, and what it must never lose.
#include <sys/stat.h>

#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr const char* kAlice = "alice@example.com";
constexpr const char* kJunk = "Junk E-Mail";

class HardeningTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kAlice});
  }

  // The stored settings as "name<TAB>type<TAB>value" lines sorted by name,
  // read from `config list --json` (its text is a table for people).
  std::string StoredSettings() {
    std::vector<std::string> lines;
    for (const Json& setting : Json::parse(Ok({"config", "list", "--json"}))) {
      if (setting["value"].is_null()) continue;
      const Json& value = setting["value"];
      lines.push_back(setting["name"].get<std::string>() + "\t" + setting["type"].get<std::string>() + "\t" +
                      (value.is_string() ? value.get<std::string>() : value.dump()));
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
  }
};

TEST_F(HardeningTest, EncodedLineBreakInFromNeverReachesTheWhitelist) {
  const std::string from =
      "=?utf-8?q?Promo_=3Cpromo=40spam1.example=0D=0Aceo=40bank.example=3E?= <promo@spam1.example>";
  const std::string junk_url = Deliver(kAlice, SpamFrom(from, "Promo"));
  ASSERT_NE(std::string::npos, junk_url.find("/Junk E-Mail/"));
  Ok({"move", junk_url, "Inbox"});

  std::istringstream whitelist(ReadAll(DataPath("example.com/alice.dat.wlt")));
  for (std::string line; std::getline(whitelist, line);) {
    EXPECT_NE("ceo@bank.example\r", line) << "a line of its own";
  }
  const std::string next = Deliver(kAlice, SpamFrom("CEO <ceo@bank.example>", "Wire transfer"));
  EXPECT_NE(std::string::npos, next.find("/Junk E-Mail/")) << "the other sender is not trusted";
  EXPECT_EQ(2, ItemBySubject(kAlice, kJunk, "Wire transfer")["marker"]);
}

TEST_F(HardeningTest, ALostRegistryIsRepairedKeepingMailDataAndLog) {
  Ok({"config", "set", "DebugLevel", "2"});
  Ok({"config", "set", "HideSpam", "1"});
  const std::string kept = Deliver(kAlice, MakeMessage("Bob <bob@example.net>", "Kept", "Hello"));
  const std::string log_before = Log();
  ASSERT_FALSE(log_before.empty());
  fs::remove(home_ + "/registry.reg");

  const RunResult lost = Run({"deliver", kAlice, MessageFile("m.eml", MakeMessage("B <b@x.net>", "Later", "x"))});
  EXPECT_EQ(75, lost.status) << "the transfer agent keeps the message and retries";
  EXPECT_NE(std::string::npos, lost.err.find("'varnolt init --repair'")) << lost.err;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"config", "list"}, {"log"}}) {
    const RunResult result = Run(args);
    EXPECT_EQ(1, result.status) << args[0];
    EXPECT_NE(std::string::npos, result.err.find("registry.reg does not exist")) << result.err;
  }

  const std::string repaired = Ok({"init", "--repair"});
  EXPECT_NE(std::string::npos, repaired.find("1 mailbox(es) kept")) << repaired;
  EXPECT_EQ(kept, Items(kAlice, "Inbox")[0]["url"]);
  EXPECT_EQ(0u, Log().find(log_before)) << "the log goes on";
  EXPECT_EQ(home_ + "/data", Ok({"config", "constructor-string"}));
  EXPECT_EQ(
      "AutoWhiteList\tdword\t1\nDebugLevel\tdword\t1\nHideSpam\tdword\t0\nProviderMode\tdword\t0\n"
      "UseJunkMailFolder\tsz\tJunk E-Mail\nUseWhiteList\tdword\t1",
      StoredSettings());
  const std::string url = Deliver(kAlice, SpamFrom("S <s@spam.example>", "Filtered again"));
  EXPECT_NE(std::string::npos, url.find("/Junk E-Mail/"));
}

TEST_F(HardeningTest, RepairKeepsGoodSettingsAndReplacesUnreadableOnes) {
  Ok({"config", "set", "UseJunkMailFolder", "Spam"});
  Ok({"config", "constructor-string", dir_ + "/elsewhere"});
  EXPECT_EQ(2, Run({"config", "set", "DebugLevel", "x", "--force", "--type", "sz"}).status)
      << "--force does not vouch for values";
  WriteAll(home_ + "/registry.reg",
           ReadAll(home_ + "/registry.reg") +
               "[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\n\"HideSpam\"=\"99999999999\"\n\"DebugLevel\"=\"x\"\n");
  const std::string repaired = Ok({"init", "--repair"});
  EXPECT_NE(std::string::npos, repaired.find("default settings restored for DebugLevel, HideSpam")) << repaired;
  EXPECT_EQ("0", Ok({"config", "get", "HideSpam"}));
  EXPECT_EQ("Spam", Ok({"config", "get", "UseJunkMailFolder"}));
  EXPECT_EQ(dir_ + "/elsewhere", Ok({"config", "constructor-string"}));
  EXPECT_TRUE(fs::exists(dir_ + "/elsewhere/vnusrmnl.sys"));

  const std::string damaged = "this is no registry\n";
  WriteAll(home_ + "/registry.reg", damaged);
  const RunResult listed = Run({"config", "list"});
  EXPECT_EQ(1, listed.status);
  EXPECT_NE(std::string::npos, listed.err.find("not a .reg file")) << listed.err;
  EXPECT_NE(std::string::npos, Ok({"init", "--repair"}).find("registry.reg.damaged"));
  EXPECT_EQ(damaged, ReadAll(home_ + "/registry.reg.damaged"));
  EXPECT_EQ("1", Ok({"config", "get", "DebugLevel"}));
  EXPECT_EQ(kAlice, Ok({"mailbox", "list"}));

  // A damaged journal is set aside and a new one started; deliveries journal again.
  WriteAll(home_ + "/journal.db", "this is no journal, and rather long for a database header\n");
  EXPECT_NE(std::string::npos, Ok({"init", "--repair"}).find("journal.db.damaged"));
  EXPECT_NE(std::string::npos, ReadAll(home_ + "/journal.db.damaged").find("this is no journal"));
  const RunResult delivered = Run({"deliver", kAlice, MessageFile("m.eml", MakeMessage("B <b@x.net>", "Hi", "x"))});
  EXPECT_EQ("", delivered.err);
  EXPECT_EQ(std::string::npos, Ok({"init", "--repair"}).find("journal")) << "a sound journal stays";
}

TEST_F(HardeningTest, ARegistryOfRegeditInUtf16IsRead) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\r\n\"DebugLevel\"=dword:00000003\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) utf16 += std::string{c, '\0'};
  WriteAll(home_ + "/registry.reg", utf16);
  EXPECT_EQ("DebugLevel\tdword\t3", StoredSettings());
}

TEST_F(HardeningTest, ConfigSetRefusesWhatTheFilterCouldNotRead) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;  // "" for success
  };
  const Case cases[] = {
      {{"DebugLevel", "99999999999"}, 2, "outside the 32-bit range"},
      {{"DebugLevel", "-2147483649"}, 2, "outside the 32-bit range"},
      {{"DebugLevel", "1O"}, 2, "DebugLevel takes a number; '1O' is not one"},
      {{"HideSpam", "2147483648", "--type", "sz"}, 2, "outside the 32-bit range"},
      {{"debuglevl", "2"}, 2, "did you mean 'DebugLevel'?"},
      {{"UseJunkMail", "Spam"}, 2, "did you mean 'UseJunkMailFolder'?"},
      {{"Colour", "blue"}, 2, "'Colour' is not a setting the filter reads; give --force"},
      {{"DebugLevel", "4294967295"}, 0, ""},
      {{"HideSpam", " 2 ", "--type", "sz"}, 0, ""},
      {{"UseJunkMailFolder", "2024"}, 0, ""},
      {{"Colour", "blue", "--force"}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> args{"config", "set"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult result = Run(args);
    EXPECT_EQ(c.status, result.status);
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
  }
  EXPECT_EQ(
      "AutoWhiteList\tdword\t1\nColour\tsz\tblue\nDebugLevel\tdword\t-1\nHideSpam\tsz\t 2 \n"
      "ProviderMode\tdword\t0\nUseJunkMailFolder\tsz\t2024\nUseWhiteList\tdword\t1",
      StoredSettings());
}

TEST_F(HardeningTest, InitRefusesADataFolderTheConstructorStringWouldChange) {
  home_ = dir_ + "/other-home";
  for (const std::string& folder : {dir_ + "/a;b", dir_ + "/trailing ", dir_ + "/back\\slash"}) {
    SCOPED_TRACE(folder);
    const RunResult result = Run({"init", "--data-folder", folder});
    EXPECT_EQ(2, result.status);
    EXPECT_NE(std::string::npos, result.err.find("choose another folder")) << result.err;
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(home_));
  }
  const std::string plain = dir_ + "/with blank inside";
  EXPECT_NE(std::string::npos, Ok({"init", "--data-folder", plain}).find("(data folder " + plain + ")"));
  Ok({"mailbox", "add", kAlice});
  Deliver(kAlice, MakeMessage("B <b@example.net>", "Hi", "Hello"));
  EXPECT_TRUE(fs::exists(plain + "/Varnolt.log"));
  EXPECT_FALSE(Log().empty());
}

TEST_F(HardeningTest, AMailboxIsOneSpellingOneDataFolder) {
  EXPECT_EQ(std::string(kUrlPrefix) + "example.com/MBX/bob", Ok({"mailbox", "add", "bob@EXAMPLE.COM"}));
  EXPECT_EQ(1, Run({"mailbox", "add", "ALICE@example.com"}).status);
  const std::string url = Deliver("BOB@Example.Com", SpamFrom("S <s@spam.example>", "Upper"));
  EXPECT_EQ(std::string(kUrlPrefix) + "example.com/MBX/bob/Junk E-Mail/Upper.EML", url);
  Ok({"folder", "add", "Bob@EXAMPLE.com", "Inbox/Sub"});
  EXPECT_EQ(std::string(kUrlPrefix) + "example.com/MBX/bob/Inbox/Sub/Upper.EML", Ok({"move", url, "Inbox/Sub"}));
  EXPECT_EQ("alice@example.com\nbob@example.com", Ok({"mailbox", "list"}));
  std::vector<std::string> domains;
  for (const auto& entry : fs::directory_iterator(DataPath(""))) {
    if (entry.is_directory()) domains.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(std::vector<std::string>{"example.com"}, domains);
}

TEST_F(HardeningTest, MailboxNamesTheDataFolderCannotHoldAreRefused) {
  const std::string user64(64, 'u');
  const std::string label(63, 'd');
  const std::string domain255 = label + "." + label + "." + label + "." + std::string(63, 'e');  // 255
  Ok({"mailbox", "add", user64 + "@" + domain255});
  for (const std::string& name : {std::string(65, 'u') + "@example.com", "bob@" + domain255 + "x",
                                  std::string(300, 'u') + "@example.com"}) {
    const RunResult result = Run({"mailbox", "add", name});
    EXPECT_EQ(2, result.status);
    EXPECT_NE(std::string::npos, result.err.find("too long for a mailbox name")) << result.err;
  }
  Deliver(user64 + "@" + domain255, SpamFrom("S <s@spam.example>", "Long"));
  EXPECT_TRUE(fs::exists(DataPath(domain255 + "/" + user64 + ".dat")));
}

TEST_F(HardeningTest, TheMailboxRootTakesNoItems) {
  const std::string good = MessageFile("good.eml", MakeMessage("B <b@example.net>", "Good", "Hello"));
  for (const char* folder : {"", "/", "//"}) {
    SCOPED_TRACE(folder);
    const RunResult result = Run({"deliver", kAlice, "--folder", folder, good});
    EXPECT_EQ(64, result.status);
    EXPECT_NE(std::string::npos, result.err.find("the mailbox root holds folders only")) << result.err;
  }
  const std::string url = Deliver(kAlice, MakeMessage("B <b@example.net>", "Stay", "Hello"));
  const RunResult moved = Run({"move", url, "/"});
  EXPECT_EQ(2, moved.status);
  EXPECT_FALSE(ItemBySubject(kAlice, "Inbox", "Stay").is_null());
}

TEST_F(HardeningTest, DeliverSpeaksToATransferAgent) {
  Ok({"config", "set", "DebugLevel", "4"});
  const std::string piped = "From bob@example.net  Mon Dec  7 10:00:00 2026\n"
                            "X-Varnolt: 1\nFrom: Bob <bob@example.net>\nSubject: Piped\n\n" +
                            std::string(kGtube) + "\n";
  const std::string url = Ok({"deliver", kAlice}, piped);
  EXPECT_NE(std::string::npos, url.find("/Junk E-Mail/Piped.EML")) << "the sender's own marker counted for nothing";
  EXPECT_EQ(0u, Ok({"cat", url}).find("From: Bob <bob@example.net>\nSubject: Piped\n"));
  EXPECT_EQ(2, ItemBySubject(kAlice, kJunk, "Piped")["marker"]);

  EXPECT_EQ(65, Run({"deliver", kAlice}, "X-Varnolt: 1\rX-Varnolt: 2\r").status);
  const RunResult nothing = Run({"deliver", kAlice}, "From bob@example.net Mon Dec  7 10:00:00 2026\n");
  EXPECT_EQ(65, nothing.status);
  EXPECT_NE(std::string::npos, nothing.err.find("nothing to store")) << nothing.err;
  EXPECT_EQ(64, Run({"deliver", kAlice, "--bogus"}).status);
  EXPECT_EQ(64, Run({"deliver", kAlice, "--name", "a/b.EML"}, piped).status);

  const std::string help = Ok({"deliver", "--help"});
  for (const char* text : {"EX_TEMPFAIL", "75", "EX_NOUSER", "67", "EX_DATAERR", "EX_NOINPUT", "EX_USAGE"}) {
    EXPECT_NE(std::string::npos, help.find(text)) << text;
  }
}

TEST_F(HardeningTest, StoreAndLogAreForOwnerAndGroupOnly) {
  const mode_t old_mask = ::umask(022);
  home_ = dir_ + "/private-home";
  Ok({"init"});
  Ok({"mailbox", "add", kAlice});
  Deliver(kAlice, SpamFrom("S <s@spam.example>", "Private"));
  ::umask(old_mask);
  for (const std::string& file : {home_ + "/store.db", home_ + "/data/Varnolt.log"}) {
    SCOPED_TRACE(file);
    struct stat info {};
    ASSERT_EQ(0, ::stat(file.c_str(), &info));
    EXPECT_EQ(0u, info.st_mode & 07) << "nothing for other users";
    EXPECT_EQ(0640u, info.st_mode & 0777);
  }
}

}  // namespace
}  // namespace varnolt
