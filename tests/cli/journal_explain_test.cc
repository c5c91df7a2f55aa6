// The verdict journal as `varnolt deliver` and `varnolt move` write it, and
// `varnolt explain` on messages decided by each rule and by the engine.
#include <chrono>
#include <set>

#include "backends/journal/verdict_journal.h"
#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

using journal::VerdictJournal;
using journal::VerdictRecord;

constexpr const char* kMailbox = "alice@example.com";

// A message from outside with a Message-ID.
std::string WithId(const std::string& id, const std::string& message) { return "Message-ID: <" + id + ">\r\n" + message; }

class JournalTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kMailbox});
  }
  std::string JournalPath() const { return home_ + "/journal.db"; }
  std::vector<VerdictRecord> Records() {
    VerdictJournal::Options options;
    options.read_only = true;
    auto journal = VerdictJournal::Open(JournalPath(), options);
    std::vector<VerdictRecord> records = journal->Latest(1000);
    std::reverse(records.begin(), records.end());
    return records;
  }
  void AddConfig(const std::string& text) {
    std::ofstream out(home_ + "/varnolt.conf", std::ios::app);
    out << "\n" << text << "\n";
  }
};

TEST_F(JournalTest, DeliveriesLeaveOneRecordEachAndMovesJoinTheirCorrections) {
  const std::string ham_url =
      Deliver(kMailbox, WithId("ham1@example.net", MakeMessage("Bob <bob@Partner.Example.NET>", "Agenda", "See you.")));
  const std::string spam_url = Deliver(kMailbox, WithId("spam1@example.net", SpamFrom("Spam <s@spam.example>", "Win")));
  Ok({"deliver", "--internal", kMailbox, MessageFile("inside.eml", WithId("in1@example.com",
                                                                          MakeMessage("Carol <carol@example.com>",
                                                                                      "Lunch", "Noon?")))});

  std::vector<VerdictRecord> records = Records();
  ASSERT_EQ(3u, records.size());
  const VerdictRecord& ham = records[0];
  EXPECT_EQ(kMailbox, ham.mailbox);
  EXPECT_EQ("ham1@example.net", ham.message_id);
  EXPECT_EQ("partner.example.net", ham.sender_domain);
  EXPECT_GT(ham.size, 300);
  EXPECT_EQ("ham", ham.verdict);
  EXPECT_EQ("left", ham.action);
  EXPECT_EQ("engine", ham.decided_by);
  EXPECT_TRUE(ham.score.has_value());
  EXPECT_EQ("varnolt", ham.host);
  EXPECT_EQ("", ham.subject);  // not kept unless asked for
  EXPECT_GT(ham.elapsed_us, 0);
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(now, ham.time, 120);

  EXPECT_EQ("spam", records[1].verdict);
  EXPECT_EQ("filed", records[1].action);
  EXPECT_DOUBLE_EQ(1.0, records[1].score.value());
  EXPECT_EQ("internal", records[2].decided_by);
  EXPECT_FALSE(records[2].score.has_value());
  EXPECT_EQ("ham", records[2].verdict);

  Ok({"move", spam_url, "Inbox"});
  Ok({"move", ham_url, "Junk E-Mail"});
  Ok({"move", "id:in1@example.com", "Sent Items"});  // no correction: the filter relearns nothing
  records = Records();
  EXPECT_EQ("to_junk", records[0].correction);
  EXPECT_EQ("from_junk", records[1].correction);
  EXPECT_EQ("", records[2].correction);
  EXPECT_EQ(3u, records.size());

  // A backup takes the journal along.
  Ok({"backup", "-q", dir_ + "/copy"});
  VerdictJournal::Options read_only;
  read_only.read_only = true;
  EXPECT_EQ(3, VerdictJournal::Open(dir_ + "/copy/journal.db", read_only)->RecordCount());
}

TEST_F(JournalTest, SubjectsAreKeptOnlyWhenTheHomeSaysSo) {
  AddConfig("[journal]\nsubjects = on");
  Deliver(kMailbox, WithId("s1@example.net", MakeMessage("Bob <bob@example.net>", "=?utf-8?Q?Gr=C3=BC=C3=9Fe?=", "Hi")));
  EXPECT_EQ("Grüße", Records().at(0).subject);
}

TEST_F(JournalTest, RecordsPastKeepDaysArePrunedByTheNextWriter) {
  {
    auto journal = VerdictJournal::Open(JournalPath(), {});
    VerdictRecord old;
    old.time = 1000;  // long ago
    old.mailbox = kMailbox;
    old.message_id = "old@example.net";
    old.verdict = "spam";
    journal->Add(old);
    old.time = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch()).count() - 2 * 86400;
    old.message_id = "two-days@example.net";
    journal->Add(old);
  }
  AddConfig("[journal]\nkeep_days = 3");
  Deliver(kMailbox, WithId("new@example.net", MakeMessage("Bob <bob@example.net>", "New", "Hi")));
  std::vector<std::string> ids;
  for (const VerdictRecord& record : Records()) ids.push_back(record.message_id);
  EXPECT_EQ((std::vector<std::string>{"two-days@example.net", "new@example.net"}), ids);
}

TEST_F(JournalTest, AJournalThatCannotBeWrittenNeverFailsTheDelivery) {
  struct Case {
    const char* config;
    bool broken;  // the journal's path is a folder
    bool warned;
  };
  const Case cases[] = {{"", true, true}, {"[journal]\nkeep_days = 0", true, false}};
  int logged = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    AddConfig(c.config);
    if (c.broken) fs::create_directories(JournalPath());
    // Two messages, one line: a failed journal is left alone for a while.
    const RunResult result =
        Run({"deliver", kMailbox, MessageFile("m1.eml", MakeMessage("Bob <bob@example.net>", "Hi", "Hello")),
             MessageFile("m2.eml", MakeMessage("Bob <bob@example.net>", "Hi again", "Hello"))});
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_EQ(c.warned ? 1 : 0, std::count(result.err.begin(), result.err.end(), '\n')) << result.err;
    if (c.warned) {
      EXPECT_NE(std::string::npos, result.err.find("verdict journal")) << result.err;
      // One process, one delivery run: nothing of it is tried again later.
      EXPECT_EQ(std::string::npos, result.err.find("in a minute")) << result.err;
    }
    // Where the administrator looks for what went wrong with mail, too.
    logged += c.warned ? 1 : 0;
    EXPECT_EQ(logged, LogCount("Err: varnolt: verdict journal")) << Log();
  }
}

TEST_F(JournalTest, ExplainNamesTheRuleOrTheEngineThatDecided) {
  Ok({"whitelist", "add", kMailbox, "friend@example.org"});
  // The domain's shared model knows the sample mail; the user's own, one message.
  const std::string samples = std::string(VARNOLT_SOURCE_DIR) + "/samples/train";
  Ok({"train", "--domain", "example.com", "--spam", samples + "/spam", "--ham", samples + "/ham", "-q"});
  Ok({"train", kMailbox, "--ham",
      MessageFile("t2.eml", MakeMessage("Bob <bob@example.net>", "meeting agenda", "project meeting agenda")), "-q"});
  struct Case {
    const char* name;
    std::vector<std::string> deliver_flags;
    std::string message;
    const char* decided_by;
    const char* text;
  };
  const Case cases[] = {
      {"internal", {"--internal"}, MakeMessage("Carol <carol@example.com>", "Lunch", "Noon?"), "internal",
       "internal-sender rule"},
      {"whitelisted", {}, SpamFrom("Friend <friend@example.org>", "Joke"), "whitelist", "the whitelist"},
      {"engine", {}, MakeMessage("Bob <bob@example.net>", "Agenda", "project meeting agenda"), "engine",
       "decided by: the engine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"deliver", kMailbox, "--name", std::string(c.name) + ".EML"};
    args.insert(args.end(), c.deliver_flags.begin(), c.deliver_flags.end());
    args.push_back(MessageFile(std::string(c.name) + ".eml", c.message));
    const std::string url = Ok(args);
    const Json explained = Json::parse(Ok({"explain", url, "--json"}));
    EXPECT_EQ(c.decided_by, explained["decided_by"]);
    EXPECT_EQ(kMailbox, explained["mailbox"]);
    EXPECT_NE(std::string::npos, Ok({"explain", url}).find(c.text));
    if (std::string(c.decided_by) == "engine") {
      ASSERT_FALSE(explained["clues"].empty());
      const Json& clue = explained["clues"][0];
      EXPECT_EQ("ham", clue["direction"]);  // taught as HAM just before
      EXPECT_GE(clue["weight"].get<double>(), explained["clues"].back()["weight"].get<double>());
      EXPECT_LT(explained["score"].get<double>(), 0.5);
      EXPECT_EQ("user+domain", explained["models"]);
      EXPECT_GE(explained["learned"]["ham"].get<int>(), 1);  // with the trusted mail before
      EXPECT_GE(explained["domain_learned"]["spam"].get<int>(), 10);
      std::set<std::string> models;
      for (const Json& each : explained["clues"]) models.insert(each["model"].get<std::string>());
      EXPECT_TRUE(models.count("user") + models.count("user+domain") > 0) << explained.dump();
      EXPECT_NE(std::string::npos, Ok({"explain", url}).find("example.com's shared model"));
      // The journal kept the engine's counting part as it was at delivery.
      const VerdictRecord delivered = Records().back();
      ASSERT_TRUE(delivered.counts_part.has_value());
      EXPECT_LT(*delivered.counts_part, 0.5);
    }
  }
  EXPECT_EQ(1, Run({"explain", "file://./backofficestorage/example.com/MBX/alice/Inbox"}).status);
}

// explain asks the filter's own trust rule: after each change of the settings
// it names what the delivery's journal record says decided (a missing
// UseWhiteList is off for both).
TEST_F(JournalTest, ExplainAgreesWithTheFilterAfterSettingsChange) {
  Ok({"whitelist", "add", kMailbox, "friend@example.org"});
  struct Case {
    std::vector<std::string> change;
    const char* decided_by;
  };
  const Case cases[] = {
      {{"config", "set", "UseWhiteList", "1"}, "whitelist"},
      {{"config", "set", "UseWhiteList", "0"}, "engine"},
      {{"config", "unset", "UseWhiteList"}, "engine"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.change));
    Ok(c.change);
    const std::string name = "friend" + std::to_string(++n);
    const std::string url = Ok({"deliver", kMailbox, "--name", name + ".EML",
                                MessageFile(name + ".eml", MakeMessage("Friend <friend@example.org>", "Hi", "Hello"))});
    EXPECT_EQ(c.decided_by, Records().back().decided_by);
    EXPECT_EQ(c.decided_by, Json::parse(Ok({"explain", url, "--json"}))["decided_by"]);
  }
}

}  // namespace
}  // namespace varnolt
