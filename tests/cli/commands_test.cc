// The command-line contract: exit statuses, clear errors, outputs that
// scripts rely on, and what each command leaves behind.
#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr const char* kAlice = "alice@example.com";

class CommandsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kAlice});
  }
};

TEST_F(CommandsTest, UsageAndFailuresHaveTheirExitStatusAndAMessage) {
  const std::string good = MessageFile("good.eml", MakeMessage("B <b@example.net>", "Good", "Hello"));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"ls", kAlice, "--bogus"}, 2, "--bogus"},
      {{"ls"}, 2, "USER@DOMAIN"},
      {{"deliver", "alice", good}, 67, "'alice' is not of the form USER@DOMAIN"},
      {{"deliver", "../x@example.com", good}, 67, "not a valid mailbox name"},
      {{"event", "0x1zz", std::string(kUrlPrefix) + "example.com/MBX/alice/Inbox"}, 2, "not a 32-bit flags value"},
      {{"config", "set", "DebugLevel", "high", "--type", "dword"}, 2, "not a 32-bit integer"},
      {{"deliver", "nobody@example.com", good}, 67, "no mailbox nobody@example.com"},
      {{"deliver", kAlice, "--folder", "Archive", good}, 75, "no folder 'Archive' in mailbox alice@example.com"},
      {{"deliver", kAlice, dir_ + "/missing.eml"}, 66, "cannot read " + dir_ + "/missing.eml"},
      {{"ls", "nobody@example.com"}, 1, "no mailbox nobody@example.com"},
      {{"mailbox", "add", kAlice}, 1, "mailbox alice@example.com already exists"},
      {{"folder", "add", kAlice, "Missing/Sub"}, 1, "parent of folder Missing/Sub does not exist"},
      {{"show", std::string(kUrlPrefix) + "example.com/MBX/alice/Inbox/None.EML"}, 1, "nothing at"},
      {{"cat", std::string(kUrlPrefix) + "example.com/MBX/alice/Inbox"}, 1, "is a folder"},
      {{"move", "http://elsewhere/item", "Inbox"}, 2, "not a mailbox URL"},
      {{"config", "get", "NoSuchSetting"}, 1, "no setting 'NoSuchSetting'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = Run(c.args);
    EXPECT_EQ(c.status, result.status);
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
    EXPECT_EQ(0u, result.err.find("varnolt: ")) << result.err;
  }
  EXPECT_TRUE(Items(kAlice, "Inbox").empty()) << "no failed command stored anything";
}

TEST_F(CommandsTest, EveryCommandHasHelp) {
  // A run sets up only its own command; the program's help sets up all of them.
  const std::string all = Ok({"--help"});
  for (const char* command : {"init", "config", "mailbox", "folder", "deliver", "move", "event", "system", "ls",
                              "show", "cat", "log", "train", "check", "stats", "backup", "whitelist", "model"}) {
    SCOPED_TRACE(command);
    const RunResult result = Run({command, "--help"});
    EXPECT_EQ(0, result.status);
    EXPECT_NE(std::string::npos, result.out.find("Usage:")) << result.out;
    EXPECT_NE(std::string::npos, all.find(std::string("\n  ") + command + " ")) << all;
  }
}

TEST_F(CommandsTest, EmptyMessageIsRefusedAndNothingIsStored) {
  const std::string good = MessageFile("good.eml", MakeMessage("B <b@example.net>", "Good", "Hello"));
  const std::string empty = MessageFile("empty.eml", "");

  const RunResult batch = Run({"deliver", kAlice, good, empty});
  EXPECT_EQ(65, batch.status);
  EXPECT_NE(std::string::npos, batch.err.find(empty + " is an empty message; nothing was delivered"));

  // Empty standard input: the fixture passes /dev/null.
  const RunResult from_stdin = Run({"deliver", kAlice, "-"});
  EXPECT_EQ(65, from_stdin.status);
  EXPECT_NE(std::string::npos, from_stdin.err.find("standard input is an empty message"));
  EXPECT_TRUE(Items(kAlice, "Inbox").empty());
}

TEST_F(CommandsTest, MalformedMailIsStoredByteForByteAndJudged) {
  const std::vector<std::pair<std::string, std::string>> messages = {
      {"no separator", "Subject: no separator\r\nFrom: x@example.net\r\njust text, no blank line"},
      {"not even headers", "\x01\x02 binary start\n\nand more\n"},
      {"broken mime",
       "Subject: broken mime\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
       "--b1\r\nContent-Type: text/plain\r\n\r\nfirst part, never closed\r\n--b2\r\n"},
      {"latin-1 header", "Subject: caf\xe9 cr\xe8me\r\nFrom: \xc4rger <a@example.net>\r\n\r\nbody \xff\xfe\r\n"},
  };
  std::vector<std::string> files;
  for (size_t i = 0; i < messages.size(); ++i) {
    files.push_back(MessageFile("bad" + std::to_string(i) + ".eml", messages[i].second));
  }
  std::vector<std::string> args{"deliver", kAlice};
  args.insert(args.end(), files.begin(), files.end());
  std::istringstream urls(Ok(args));

  for (const auto& [label, bytes] : messages) {
    SCOPED_TRACE(label);
    std::string url;
    ASSERT_TRUE(std::getline(urls, url));
    const RunResult content = Run({"cat", url});
    EXPECT_EQ(0, content.status);
    EXPECT_EQ(bytes, content.out);
    const Json shown = Json::parse(Ok({"show", url, "--json"}));  // valid JSON even for 8-bit headers
    const Json marker = shown["properties"]["urn:schemas:mailheader:X-Varnolt"];
    EXPECT_TRUE(marker == "1" || marker == "2" || marker == 1 || marker == 2) << shown.dump();
  }
}

// A mail server must store what it is handed, but bytes without a header
// block teach the engine nothing about mail, and get no verdict from check.
TEST_F(CommandsTest, NonMailIsStoredButNeverLearnedAndCheckRefusesIt) {
  // Some SPAM known: the engine then learns HAM verdicts on its own.
  Ok({"train", kAlice, "--spam", MessageFile("spam.eml", SpamFrom("S <s@spam.example>", "Offer"))});
  const std::string binary = MessageFile("binary.bin", std::string("\x7f" "ELF\x02\x01\x00\x00\xff\xfe", 10));
  const std::string tiny = MessageFile("tiny.txt", "abc");
  Ok({"deliver", kAlice, binary, tiny});
  EXPECT_EQ(2u, Items(kAlice, "Inbox").size() + Items(kAlice, "Junk E-Mail").size());
  EXPECT_EQ(0, Json::parse(Ok({"stats", kAlice, "--json"}))["ham"]);
  Deliver(kAlice, "From: Bob <bob@example.net>\r\nSubject: Lunch\r\n\r\nSee you at noon by the old harbour cafe\r\n");
  EXPECT_EQ(1, Json::parse(Ok({"stats", kAlice, "--json"}))["ham"]) << "mail is learned";

  const RunResult checked = Run({"check", kAlice, binary, tiny});
  EXPECT_EQ(1, checked.status);
  EXPECT_EQ("", checked.out);
  EXPECT_NE(std::string::npos, checked.err.find("skipped " + tiny + ": not a mail message")) << checked.err;
}

TEST_F(CommandsTest, InitRefusesAnExistingHomeAndDeletesMailOnlyWhenToldSo) {
  Deliver(kAlice, MakeMessage("B <b@example.net>", "Kept", "Hello"));
  const RunResult again = Run({"init"});
  EXPECT_EQ(1, again.status);
  EXPECT_NE(std::string::npos, again.err.find("already exists")) << again.err;
  EXPECT_NE(std::string::npos, again.err.find("'varnolt init --repair'")) << again.err;
  const RunResult forced = Run({"init", "--force"});
  EXPECT_EQ(2, forced.status);
  EXPECT_NE(std::string::npos, forced.err.find("--force-delete-mail")) << forced.err;
  EXPECT_EQ(kAlice, Ok({"mailbox", "list"}));

  Ok({"config", "set", "DebugLevel", "3"});
  Ok({"init", "--force-delete-mail"});
  EXPECT_EQ("", Ok({"mailbox", "list"}));
  EXPECT_EQ("1", Ok({"config", "get", "DebugLevel"}));
  EXPECT_EQ(home_ + "/data", Ok({"config", "constructor-string"}));
}

TEST_F(CommandsTest, ConfigKeepsValuesAndTheConstructorStringExactly) {
  Ok({"config", "set", "UseJunkMailFolder", " Junk ; Spam "});
  Ok({"config", "set", "HideSpam", "12", "--type", "sz"});
  Ok({"config", "set", "DebugLevel", "-1"});
  Ok({"config", "unset", "AutoWhiteList"});
  std::vector<std::tuple<Json, Json, Json>> listed;
  for (const Json& setting : Json::parse(Ok({"config", "list", "--json"}))) {
    listed.emplace_back(setting["name"], setting["type"], setting["value"]);
  }
  EXPECT_EQ((std::vector<std::tuple<Json, Json, Json>>{{"DebugLevel", "dword", -1},
                                                       {"HideSpam", "sz", "12"},
                                                       {"ProviderMode", "dword", 0},
                                                       {"UseJunkMailFolder", "sz", " Junk ; Spam "},
                                                       {"UseWhiteList", "dword", 1},
                                                       {"AutoWhiteList", nullptr, nullptr}}),
            listed);

  for (const std::string& value : {std::string("  /srv/data ; second field"), std::string("")}) {
    Ok({"config", "constructor-string", value});
    EXPECT_EQ(value, Ok({"config", "constructor-string"}));
  }
}

TEST_F(CommandsTest, ListingAndShowHaveTheDocumentedJsonShape) {
  const std::string url = Deliver(kAlice, MakeMessage("Bob <bob@example.net>", "Shape", "Hello"));
  const Json items = Items(kAlice, "Inbox");
  ASSERT_EQ(2u, items.size()) << "the message and the new user's manual";
  for (const Json& item : items) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : item.items()) keys.push_back(key);
    EXPECT_EQ((std::vector<std::string>{"from", "hidden", "marker", "name", "subject", "url"}), keys);
  }
  EXPECT_EQ(url, items[0]["url"]);
  EXPECT_EQ("Bob <bob@example.net>", items[0]["from"]);
  EXPECT_TRUE(items[0]["marker"].is_number());
  EXPECT_EQ("Varnolt_Manual.eml", items[1]["name"]);
  EXPECT_TRUE(items[1]["marker"].is_null()) << "the manual carries no marker";

  const Json shown = Json::parse(Ok({"show", url, "--json"}));
  EXPECT_EQ(url, shown["url"]);
  EXPECT_EQ(std::string(kUrlPrefix) + "example.com/MBX/alice/Inbox", shown["parent"]);
  EXPECT_EQ(false, shown["is_folder"]);
  EXPECT_EQ(false, shown["properties"]["DAV:iscollection"]);
  EXPECT_EQ("SMTP", shown["properties"]["urn:schemas:mapi:proptag:x0C1E001E"]);
  EXPECT_TRUE(shown["properties"]["urn:schemas:mapi:proptag:x0E070003"].is_number());
}

TEST_F(CommandsTest, TrainCheckAndStatsWorkOnTheUsersDatabase) {
  const std::string spam = MessageFile("gtube.eml", SpamFrom("S <s@spam.example>", "Test"));
  const std::string dat = DataPath("example.com/alice.dat");

  const std::string plain = MessageFile("plain.eml", MakeMessage("B <b@x.net>", "Hi", "Hi"));
  EXPECT_EQ("HAM 0.5000 " + plain, Ok({"check", kAlice, plain}));
  EXPECT_EQ("SPAM 1.0000 " + spam, Ok({"check", kAlice, spam}));
  EXPECT_FALSE(fs::exists(DataPath("example.com"))) << "check creates nothing";
  EXPECT_EQ("ham 0\nspam 0\nwhitelist 0", Ok({"stats", kAlice}));

  const std::string samples = std::string(VARNOLT_SOURCE_DIR) + "/samples/train";
  EXPECT_EQ("learned 10 (0 HAM, 10 SPAM), 0 already known, 0 skipped for alice@example.com (now 0 HAM, 10 SPAM)",
            Ok({"train", kAlice, "--spam", samples + "/spam"}));
  Ok({"train", kAlice, "--ham", samples + "/ham/ham-01.eml", samples + "/ham/ham-02.eml"});
  EXPECT_EQ("ham 2\nspam 10\nwhitelist 0", Ok({"stats", kAlice}));

  const std::string before = ReadAll(dat);
  const Json checked = Json::parse(Ok({"check", kAlice, spam, "--json"}));
  EXPECT_EQ("SPAM", checked[0]["verdict"]);
  EXPECT_EQ(spam, checked[0]["file"]);
  EXPECT_EQ(1.0, checked[0]["score"]);
  EXPECT_EQ(before, ReadAll(dat)) << "check changes nothing";
  EXPECT_EQ("ham 2\nspam 10\nwhitelist 0", Ok({"stats", kAlice}));

  EXPECT_EQ(2, Run({"train", kAlice, samples + "/spam"}).status) << "--spam or --ham is required";
  EXPECT_EQ(2, Run({"train", kAlice}).status);
}

}  // namespace
}  // namespace varnolt
