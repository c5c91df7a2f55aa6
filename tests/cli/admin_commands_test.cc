// The administrator's side of the command: settings explained, short item
// references, deliver's verdicts, check's exit status, the log's tail.
#include <signal.h>

#include <thread>

#include "cli/cli_fixture.h"
#include "engine/builtin_spam_engine.h"

namespace varnolt {
namespace {

constexpr const char* kAlice = "alice@example.com";

std::string WithMessageId(const std::string& message_id, const std::string& message) {
  return "Message-ID: " + message_id + "\r\n" + message;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class AdminCommandsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kAlice});
  }
};

TEST_F(AdminCommandsTest, ConfigExplainsEachSettingWithItsDefault) {
  Ok({"config", "set", "HideSpam", "1"});
  Ok({"config", "unset", "AutoWhiteList"});
  Ok({"config", "set", "Unrelated", "x", "--force"});
  struct Row {
    std::string name;
    Json value;  // as config list --json reports it
    Json default_value;  // a number or text, as values are
    std::string described;  // a phrase of its full description
  };
  const Row rows[] = {
      {"DebugLevel", 1, 1, "4 and more: also the message's transport headers and body"},
      {"HideSpam", 1, 0, "marked hidden"},
      {"ProviderMode", 0, 0, ".dat.create"},
      {"UseJunkMailFolder", "Junk E-Mail", "Junk E-Mail", "\"Spambox\""},
      {"UseWhiteList", 1, 1, "without asking the spam engine"},
      {"AutoWhiteList", nullptr, 1, "adds its sender to the user's whitelist"},
  };
  const Json listed = Json::parse(Ok({"config", "list", "--json"}));
  ASSERT_EQ(std::size(rows) + 1, listed.size());
  const std::string table = Ok({"config", "list"});
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.name, listed[i]["name"]);
    EXPECT_EQ(row.value, listed[i]["value"]);
    EXPECT_EQ(row.default_value, listed[i]["default"]);
    EXPECT_FALSE(listed[i]["meaning"].get<std::string>().empty());
    EXPECT_TRUE(Contains(table, row.name));
    // Letter case ignored, as the registry does.
    std::string lower = row.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string described = Ok({"config", "describe", lower});
    EXPECT_TRUE(Contains(described, row.described)) << described;
    EXPECT_TRUE(Contains(described, "default  ")) << described;
  }
  EXPECT_EQ("Unrelated", listed[6]["name"]);
  EXPECT_TRUE(Contains(listed[6]["meaning"], "not a setting")) << listed[6];
  EXPECT_TRUE(Contains(Ok({"config", "describe", "AutoWhiteList"}), "(not set)"));

  const RunResult unknown = Run({"config", "describe", "Unrelated"});
  EXPECT_EQ(1, unknown.status);
  EXPECT_TRUE(Contains(unknown.err, "not a setting of the filter")) << unknown.err;
}

TEST_F(AdminCommandsTest, ItemsAreNamedByTheirNumberOrMessageId) {
  const std::string first = Deliver(kAlice, WithMessageId("<one@example.net>", MakeMessage("B <b@x.net>", "One", "1")));
  const std::string second = Deliver(kAlice, WithMessageId("<two@example.net>", MakeMessage("B <b@x.net>", "Two", "2")));
  Deliver(kAlice, WithMessageId("<two@example.net>", MakeMessage("B <b@x.net>", "Again", "3")));

  // The number is the first column of ls, and stays with the item.
  std::string number;
  for (const std::string& line : {Ok({"ls", kAlice})}) {
    std::istringstream rows(line);
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(0u, row.find("#   DATE")) << row;
    std::getline(rows, row);
    number = row.substr(0, row.find(' '));
    EXPECT_TRUE(Contains(row, "2026-12-21")) << row;
    EXPECT_TRUE(Contains(row, "One.EML")) << row;
  }
  ASSERT_FALSE(number.empty());

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string output;  // stdout on success, a part of stderr on failure
  };
  const std::string moved = std::string(kUrlPrefix) + "example.com/MBX/alice/Drafts/One.EML";
  const std::string unsaved = std::string(kUrlPrefix) + "example.com/MBX/alice/Inbox/\\unsaved.EML";
  const Case cases[] = {
      {{"show", number, "--json"}, 0, "\"url\": \"" + first + "\""},
      {{"show", "id:<one@example.net>", "--json"}, 0, "\"url\": \"" + first + "\""},
      {{"show", "id:one@example.net", "--json"}, 0, "\"url\": \"" + first + "\""},
      {{"cat", "id:one@example.net"}, 0, "Subject: One"},
      {{"move", number, "Drafts"}, 0, moved},
      {{"show", number, "--json"}, 0, "\"url\": \"" + moved + "\""},
      {{"event", "0x01000100", number}, 0, moved},
      {{"show", "999999"}, 1, "no item number 999999"},
      {{"cat", "id:<none@example.net>"}, 1, "no item has the Message-ID <none@example.net>"},
      {{"show", "id:two@example.net"}, 1, "2 items have the Message-ID two@example.net"},
      {{"move", "http://elsewhere/item", "Inbox"}, 2, "not a mailbox URL"},
      // The URL of a Dovecot delivery the filter judged before it was saved.
      {{"show", unsaved}, 1, "judged before it was saved"},
      {{"move", unsaved, "Drafts"}, 1, "judged before it was saved"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = Run(c.args);
    EXPECT_EQ(c.status, result.status) << result.err;
    EXPECT_TRUE(Contains(c.status == 0 ? result.out : result.err, c.output)) << result.out << result.err;
  }
  EXPECT_TRUE(Contains(Run({"show", "id:two@example.net"}).err, second));
}

TEST_F(AdminCommandsTest, DeliverShowsVerdictsWhenAskedAndUrlsToScripts) {
  const std::string ham = MessageFile("ham.eml", MakeMessage("B <b@x.net>", "Fine", "Hello"));
  const std::string spam = MessageFile("spam.eml", SpamFrom("S <s@spam.example>", "Offer"));
  const std::string inbox = std::string(kUrlPrefix) + "example.com/MBX/alice/Inbox/";
  const std::string junk = std::string(kUrlPrefix) + "example.com/MBX/alice/Junk E-Mail/";
  // Line starts: the filter names a moved item freely when its name is taken.
  struct Case {
    std::string option;
    std::vector<std::string> line_starts;
  };
  const Case cases[] = {
      {"", {inbox + "Fine.EML", junk + "Offer.EML"}},
      {"--verbose", {"HAM 0.5000 " + inbox + "Fine-2.EML", "SPAM 1.0000 " + junk + "Offer"}},
      {"-v", {"HAM 0.5000 " + inbox + "Fine-3.EML", "SPAM 1.0000 " + junk + "Offer"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    std::vector<std::string> args{"deliver", kAlice, ham, spam};
    if (!c.option.empty()) args.push_back(c.option);
    std::istringstream out(Ok(args));
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    ASSERT_EQ(c.line_starts.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(0u, lines[i].find(c.line_starts[i])) << lines[i];
  }
  const Json delivered = Json::parse(Ok({"deliver", kAlice, ham, spam, "--json"}));
  ASSERT_EQ(2u, delivered.size());
  EXPECT_EQ((Json{{"file", ham}, {"url", inbox + "Fine-4.EML"}, {"marker", 1}, {"score", 0.5}}), delivered[0]);
  EXPECT_EQ(2, delivered[1]["marker"]);
  EXPECT_EQ(1.0, delivered[1]["score"]);

  // No junk folder: the event that makes the Spambox leaves SPAM where it was delivered. Said so.
  Ok({"config", "set", "UseJunkMailFolder", "Missing"});
  EXPECT_EQ("SPAM 1.0000 " + inbox + "Offer.EML  (left here: no junk folder could be used)",
            Ok({"deliver", kAlice, spam, "-v"}));
}

TEST_F(AdminCommandsTest, DeliverReportsAMessageTheFilterCouldNotJudge) {
  const std::string ham = MessageFile("ham.eml", MakeMessage("B <b@x.net>", "Fine", "Hello"));
  struct Case {
    std::string name;
    std::function<void()> arrange;
    std::string reason;
  };
  const Case cases[] = {
      {"a model that is no database",
       [&] {
         fs::create_directories(DataPath("example.com"));
         WriteAll(DataPath("example.com/alice.dat"), "this is not a spam database\n");
       },
       "its log says:"},
      {"provider mode without an announced user",
       [&] {
         fs::remove(DataPath("example.com/alice.dat"));
         Ok({"config", "set", "ProviderMode", "1"});
       },
       "ProviderMode is on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    const RunResult result = Run({"deliver", kAlice, ham});
    EXPECT_EQ(0, result.status) << "the message is delivered all the same";
    EXPECT_EQ(0u, result.out.find(kUrlPrefix)) << result.out;
    EXPECT_TRUE(Contains(result.err, ham + ": the filter left the message without a verdict")) << result.err;
    EXPECT_TRUE(Contains(result.err, c.reason)) << result.err;
  }
}

TEST_F(AdminCommandsTest, CheckTellsScriptsThroughItsExitStatus) {
  const std::string ham = MessageFile("ham.eml", MakeMessage("B <b@x.net>", "Fine", "Hello"));
  const std::string spam = MessageFile("spam.eml", SpamFrom("S <s@spam.example>", "Offer"));
  struct Case {
    std::vector<std::string> files;
    int status;
  };
  const Case cases[] = {
      {{ham}, 0}, {{spam}, 10}, {{ham, spam}, 10}, {{ham, dir_ + "/missing.eml"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.files));
    std::vector<std::string> args{"check", "--exit-status", kAlice};
    args.insert(args.end(), c.files.begin(), c.files.end());
    EXPECT_EQ(c.status, Run(args).status);
  }
  EXPECT_EQ(0, Run({"check", kAlice, spam}).status) << "without --exit-status a verdict is no failure";
  // The threshold the JSON reports is the one the engine applies, as the help states it.
  const Json checked = Json::parse(Ok({"check", kAlice, spam, ham, "--json"}));
  const double threshold = checked[0]["threshold"];
  EXPECT_EQ(AutoLearnOptions{}.threshold, threshold) << "a new home learns from its own verdicts";
  for (const Json& result : checked) {
    EXPECT_EQ(result["score"].get<double>() > threshold ? "SPAM" : "HAM", result["verdict"]) << result.dump();
  }
  char shown[32];
  std::snprintf(shown, sizeof shown, "above %g", threshold);
  EXPECT_TRUE(Contains(Ok({"check", "--help"}), shown));
  EXPECT_TRUE(Contains(Ok({"check", "--help"}), "Exit with 10"));
  EXPECT_EQ("varnolt 1.0", Ok({"--version"}));
  EXPECT_EQ((Json{{"ham", 0}, {"spam", 0}, {"whitelist", 0}}), Json::parse(Ok({"stats", kAlice, "--json"})));
  EXPECT_EQ(kAlice, Json::parse(Ok({"mailbox", "list", "--json"}))[0]["address"]);
}

TEST_F(AdminCommandsTest, LogShowsItsLastLinesAndFollowsUntilStopped) {
  WriteAll(DataPath("Varnolt.log"), "one\r\ntwo\r\nthree\r\n");
  struct Case {
    std::string lines;
    std::string expected;
  };
  for (const Case& c : {Case{"0", ""}, Case{"1", "three\r"}, Case{"2", "two\r\nthree\r"}, Case{"9", "one\r\ntwo\r\nthree\r"}}) {
    SCOPED_TRACE(c.lines);
    EXPECT_EQ(c.expected, Ok({"log", "-n", c.lines}));
  }

  const pid_t follower = Start({"log", "-f", "-n", "1"}, "follow");
  // A line written while it follows shows up; the wait is bounded.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  { std::ofstream(DataPath("Varnolt.log"), std::ios::app) << "four\r\n"; }
  std::string seen;
  for (int i = 0; i < 50 && !Contains(seen, "four"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    seen = ReadAll(dir_ + "/follow.out");
  }
  kill(follower, SIGTERM);
  const RunResult followed = Finish(follower, "follow");
  EXPECT_EQ(0, followed.status) << followed.err;
  EXPECT_EQ("three\r\nfour\r\n", followed.out);
}

TEST_F(AdminCommandsTest, BackupIsAHomeOfItsOwnAndAHandCopyIsCaught) {
  const std::string kept = Deliver(kAlice, MakeMessage("B <b@x.net>", "Kept", "Hello"));
  const std::string spam_dir = std::string(VARNOLT_SOURCE_DIR) + "/samples/train/spam";
  Ok({"train", kAlice, "--spam", spam_dir});
  Ok({"train", "--domain", "example.com", "--ham", spam_dir + "/spam-01.eml"});
  Ok({"whitelist", "add", kAlice, "friend@example.net"});
  const std::string stats = Ok({"stats", kAlice});

  // Taken while another process delivers: the copy holds a committed state.
  Ok({"mailbox", "add", "bob@example.com"});
  std::vector<std::string> delivering{"deliver", "bob@example.com"};
  for (int i = 0; i < 30; ++i) {
    delivering.push_back(MessageFile("live-" + std::to_string(i) + ".eml",
                                     MakeMessage("B <b@x.net>", "Live " + std::to_string(i), "Hello")));
  }
  const pid_t deliverer = Start(delivering, "live");
  const std::string backup = dir_ + "/backup";
  EXPECT_TRUE(Contains(Ok({"backup", backup}), "backed up " + home_ + " to " + backup));
  EXPECT_EQ(0, Finish(deliverer, "live").status);
  const std::string original_home = home_;
  home_ = backup;
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {{"config", "constructor-string"}, backup + "/data"},
      {{"stats", kAlice}, stats},
      {{"stats", "--domain", "example.com"}, "ham 1\nspam 0"},
      {{"whitelist", "list", kAlice}, "friend@example.net"},
      {{"cat", kept}, "Subject: Kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = Run(c.args);
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_TRUE(Contains(result.out, c.expected)) << result.out;
    EXPECT_EQ("", result.err) << "a backup names nothing of the original";
  }
  for (const Json& item : Items("bob@example.com", "Inbox")) {
    EXPECT_EQ(0, Run({"cat", item["url"]}).status) << item;
  }
  Deliver(kAlice, MakeMessage("B <b@x.net>", "Only in the copy", "Hello"));
  EXPECT_TRUE(fs::exists(backup + "/data/Varnolt.log"));
  home_ = original_home;
  EXPECT_TRUE(ItemBySubject(kAlice, "Inbox", "Only in the copy").is_null()) << "the original is untouched";

  const RunResult again = Run({"backup", backup});
  EXPECT_EQ(1, again.status);
  EXPECT_TRUE(Contains(again.err, "exists and is not empty")) << again.err;

  // A copy made by hand still names the original's data folder: every command says how to fix it.
  const std::string by_hand = dir_ + "/by-hand";
  fs::copy(home_, by_hand, fs::copy_options::recursive);
  home_ = by_hand;
  const RunResult warned = Run({"stats", kAlice});
  EXPECT_EQ(0, warned.status);
  EXPECT_TRUE(Contains(warned.err, "the data folder of another home (" + original_home + ")")) << warned.err;
  EXPECT_TRUE(Contains(warned.err, "config constructor-string '" + by_hand + "/data'")) << warned.err;
  Ok({"config", "constructor-string", by_hand + "/data"});
  EXPECT_EQ("", Run({"stats", kAlice}).err);

  // A home moved by hand names a data folder that is gone.
  const std::string moved = dir_ + "/moved";
  fs::rename(by_hand, moved);
  home_ = moved;
  const RunResult gone = Run({"log"});
  EXPECT_TRUE(Contains(gone.err, "names " + by_hand + "/data, which is no folder")) << gone.err;
  EXPECT_TRUE(Contains(gone.err, "config constructor-string '" + moved + "/data'")) << gone.err;
}

TEST_F(AdminCommandsTest, WhitelistModelAndMailboxRemovalChangeOnlyWhatTheySay) {
  const std::string wlt = DataPath("example.com/alice.dat.wlt");
  const std::string spam_dir = std::string(VARNOLT_SOURCE_DIR) + "/samples/train/spam";
  Ok({"mailbox", "add", "alice-x@example.com"});
  Deliver("alice-x@example.com", MakeMessage("B <b@x.net>", "Neighbour", "Hello"));
  struct Step {
    std::vector<std::string> args;
    int status;
    std::string output;  // a part of stdout (status 0) or stderr
  };
  const Step steps[] = {
      {{"whitelist", "list", kAlice}, 0, ""},
      {{"whitelist", "add", kAlice, "bob@example.net"}, 0, ""},
      {{"whitelist", "add", kAlice, "Carol@example.net"}, 0, ""},
      {{"whitelist", "add", kAlice, "bob@example.net"}, 1, "bob@example.net is already listed"},
      {{"whitelist", "add", kAlice, "no address"}, 2, "not a mail address"},
      {{"whitelist", "list", kAlice}, 0, "bob@example.net\nCarol@example.net"},
      {{"whitelist", "remove", kAlice, "carol@example.net"}, 1, "is not on the whitelist"},
      {{"whitelist", "remove", kAlice, "bob@example.net"}, 0, ""},
      {{"stats", kAlice}, 0, "whitelist 1"},
      {{"train", "-q", kAlice, "--spam", spam_dir}, 0, "now 0 HAM, 10 SPAM"},
      {{"model", "reset", kAlice}, 0, "it had learned 0 HAM and 10 SPAM messages"},
      {{"stats", kAlice}, 0, "ham 0\nspam 0\nwhitelist 1"},
      {{"model", "reset", "nobody@example.com"}, 1, "no mailbox nobody@example.com"},
      {{"whitelist", "add", "nobody@example.com", "bob@example.net"}, 1, "no mailbox nobody@example.com"},
      {{"deliver", kAlice, MessageFile("m.eml", MakeMessage("B <b@x.net>", "Mail", "Hello"))}, 0, kUrlPrefix},
      // One item: a reset model still makes the user known, so no second user manual comes.
      {{"mailbox", "remove", kAlice}, 1, "holds 1 item(s); give --delete-mail"},
      {{"mailbox", "remove", kAlice, "--delete-mail"}, 0, "removed mailbox alice@example.com and 1 item(s)"},
      {{"mailbox", "list"}, 0, "alice-x@example.com"},
      {{"ls", "alice-x@example.com"}, 0, "Neighbour"},
      {{"mailbox", "remove", kAlice}, 1, "no mailbox alice@example.com"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::PrintToString(step.args));
    const RunResult result = Run(step.args);
    EXPECT_EQ(step.status, result.status) << result.err;
    EXPECT_TRUE(Contains(step.status == 0 ? result.out : result.err, step.output)) << result.out << result.err;
  }
  EXPECT_EQ("Carol@example.net\r\n", ReadAll(wlt)) << "the filter's file format";
  EXPECT_EQ("alice-x@example.com", Ok({"mailbox", "list"}));
}

TEST_F(AdminCommandsTest, HelpHasExamplesAndParserComplaintsArePlainSentences) {
  for (const std::string command :
       {"init", "config", "config list", "config describe", "config get", "config set", "config unset",
        "config constructor-string", "mailbox", "mailbox add", "mailbox list", "mailbox remove", "folder",
        "folder add", "deliver", "move", "event", "system", "ls", "show", "cat", "log", "train", "check", "stats",
        "backup", "whitelist", "whitelist list", "whitelist add", "whitelist remove", "model", "model reset"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args;
    std::istringstream words(command);
    for (std::string word; words >> word;) args.push_back(word);
    args.push_back("--help");
    const RunResult help = Run(args);
    EXPECT_EQ(0, help.status);
    EXPECT_TRUE(Contains(help.out, "Example")) << help.out;
    EXPECT_TRUE(Contains(help.out, "varnolt " + args[0])) << help.out;
  }
  EXPECT_TRUE(Contains(Ok({"train", "--help"}), "At least one of --spam and --ham is required"));

  // deliver answers a transfer agent: its usage errors are EX_USAGE (64).
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"deliver", kAlice, "--folder", "Inbox", "--folder", "Drafts"},
       "--folder can be given only once (see 'varnolt deliver --help')"},
      {{"train", kAlice, "--spam"}, "--spam needs a value"},
      {{"config", "set", "A", "1", "--type", "word"}, "--type must be one of sz, dword (not 'word') (see 'varnolt config set --help')"},
      {{"log", "-n", "many"}, "'many' is not a valid value for --lines"},
      {{"whitelist"}, "say what to do: list, add, remove"},
      {{"ls", kAlice, "Inbox", "extra"}, "unexpected argument(s): extra"},
      {{"deliver", kAlice, "--folder"}, "--folder needs a value"},
      {{"show"}, "missing ITEM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = Run(c.args);
    EXPECT_EQ(c.args[0] == "deliver" ? 64 : 2, result.status);
    EXPECT_TRUE(Contains(result.err, c.message)) << result.err;
    EXPECT_FALSE(Contains(result.err, "required but received")) << result.err;
  }
}

}  // namespace
}  // namespace varnolt
