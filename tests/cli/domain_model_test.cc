// A new mailbox from its first message: the domain's shared model taught by
// the administrator and by users' corrections, and a model that holds one
// class only, as a user drags the first spam into the junk folder.
#include <algorithm>
#include <filesystem>
#include <set>

#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr const char* kAlice = "alice@example.com";
constexpr const char* kBob = "bob@example.com";
constexpr const char* kJunk = "Junk E-Mail";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Samples(const std::string& relative) { return std::string(VARNOLT_SOURCE_DIR) + "/samples/" + relative; }

std::vector<std::string> TrainingHam() {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(Samples("train/ham"))) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The same promotion as its sender sends it again and again.
std::string Promotion(int round) {
  const std::string n = std::to_string(round);
  return "Return-Path: <bounce" + n + "@mailer.shop.example.biz>\r\n"
         "Received: from mta" + n + ".shop.example.biz (mta" + n + ".shop.example.biz [198.51.100." + n + "])\r\n"
         "\tby mail.example.com with ESMTP; Mon, 21 Dec 2026 09:0" + n + ":00 +0100\r\n"
         "From: \"Shop Deals\" <deals@shop.example.biz>\r\n"
         "To: Alice <alice@example.com>\r\n"
         "Subject: Weekend sale: up to 70% off (" + n + ")\r\n"
         "Message-ID: <promo" + n + "@shop.example.biz>\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n\r\n"
         "Dear customer, our weekend sale starts now. Up to 70% off sneakers, jackets, watches and\r\n"
         "sunglasses. Free shipping on every order over 20 euros. Shop the sale:\r\n"
         "http://shop.example.biz/sale?c=" + n + "\r\nOffer valid while stocks last. Code WEEKEND" + n + "\r\n";
}

class DomainModelCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kAlice});
  }

  // Where the filter left a delivered message: "Inbox" or the junk folder.
  std::string FolderOf(const std::string& url) {
    return url.find("/" + std::string(kJunk) + "/") != std::string::npos ? kJunk : "Inbox";
  }
};

TEST_F(DomainModelCliTest, OneSpamTaughtFlagsNoGoodMail) {
  Ok({"train", kAlice, "--spam", Samples("train/spam/spam-01.eml")});
  std::vector<std::string> check{"check", kAlice};
  for (const std::string& file : TrainingHam()) check.push_back(file);
  const std::string out = Ok(check);
  EXPECT_EQ(std::string::npos, out.find("SPAM")) << out;
  EXPECT_EQ(10, std::count(out.begin(), out.end(), '\n') + 1) << out;
}

TEST_F(DomainModelCliTest, OneDragIntoTheJunkFolderNeverRunsAway) {
  const std::string first = Deliver(kAlice, Promotion(1));
  ASSERT_EQ("Inbox", FolderOf(first));
  Ok({"move", first, kJunk});
  for (const std::string& file : TrainingHam()) {
    SCOPED_TRACE(file);
    EXPECT_EQ("Inbox", FolderOf(Ok({"deliver", kAlice, file})));
  }
  // The user's lesson still counts for that promotion, resent.
  EXPECT_EQ(kJunk, FolderOf(Deliver(kAlice, Promotion(2))));
  const Json stats = Json::parse(Ok({"stats", kAlice, "--json"}));
  EXPECT_EQ(1, stats["spam"]) << "no SPAM learned from the engine's own verdicts";
  EXPECT_LE(stats["ham"].get<int>(), 10);
}

TEST_F(DomainModelCliTest, ANewMailboxIsProtectedByTheDomainsModel) {
  EXPECT_TRUE(Contains(Ok({"train", "--domain", "example.com", "--spam", Samples("train/spam"), "--ham",
                           Samples("train/ham")}),
                       "for the domain example.com (now 10 HAM, 10 SPAM)"));
  EXPECT_TRUE(fs::exists(DataPath("example.com/@domain.model")));
  EXPECT_FALSE(fs::exists(DataPath("example.com/alice.dat"))) << "the domain's lesson makes no user known";
  EXPECT_EQ("ham 10\nspam 10\nwaiting 0", Ok({"stats", "--domain", "example.com"}));
  EXPECT_EQ("ham 0\nspam 0\nwhitelist 0", Ok({"stats", kAlice}));

  std::set<std::string> junk, inbox;
  for (const auto& entry : fs::directory_iterator(Samples("incoming"))) {
    const std::string name = entry.path().filename().string();
    (FolderOf(Ok({"deliver", kAlice, entry.path().string()})) == kJunk ? junk : inbox).insert(name);
  }
  for (const std::string& name : inbox) EXPECT_EQ(std::string::npos, name.find("spam")) << name;
  for (const std::string& name : junk) EXPECT_EQ(std::string::npos, name.find("ham")) << name;
  EXPECT_EQ(5u, junk.size()) << "four spams and the GTUBE test message";
  EXPECT_TRUE(fs::exists(DataPath("example.com/alice.dat")));
  EXPECT_FALSE(ItemBySubject(kAlice, "Inbox", "Welcome - how your junk mail filter works").is_null());
}

// The demo's rescue: the sale really goes to the junk folder, and once rescued the next one does not.
TEST_F(DomainModelCliTest, ARescuedSaleIsRelearnedAndItsSenderWhitelisted) {
  Ok({"train", "--domain", "example.com", "--spam", Samples("train/spam"), "--ham", Samples("train/ham")});
  Ok({"mailbox", "add", kBob});
  const std::string sale = Ok({"deliver", kBob, Samples("later/10-club-sale.eml")});
  ASSERT_EQ(kJunk, FolderOf(sale));
  Ok({"move", sale, "Inbox"});
  EXPECT_EQ("ham 1\nspam 0\nwhitelist 1", Ok({"stats", kBob}));
  EXPECT_EQ("Inbox", FolderOf(Ok({"deliver", kBob, Samples("later/11-club-sale.eml")})));
}

TEST_F(DomainModelCliTest, TheSharedFileIsNeverTakenForAUser) {
  Ok({"train", "--domain", "example.com", "--spam", Samples("train/spam"), "--ham", Samples("train/ham")});
  Ok({"config", "set", "ProviderMode", "1"});
  Deliver(kAlice, MakeMessage("Bob <bob@example.net>", "Unannounced", "Hello Alice"));
  EXPECT_TRUE(ItemBySubject(kAlice, "Inbox", "Unannounced")["marker"].is_null());
  EXPECT_EQ(0, LogCount("New Mail"));
  // Nor is a mailbox named like the file.
  const RunResult named = Run({"stats", "@domain.model@example.com"});
  EXPECT_EQ(1, named.status);
  EXPECT_TRUE(Contains(named.err, "no mailbox")) << named.err;
}

// The domain learns what two users agree on (the same message, or one of its
// campaign), once per message; what one user alone says waits, however often
// that user says it. With domain_consensus = 1 the first user teaches it.
TEST_F(DomainModelCliTest, CorrectionsTeachTheDomainOnceEnoughUsersAgree) {
  struct Case {
    const char* consensus;
    const char* after_alice;  // alice: one message to junk, back, to junk again; another of its campaign
    const char* after_bob;    // bob's copy of the first in his junk folder too
    const char* after_rescue; // and takes it back out of the junk folder
  };
  const Case cases[] = {
      {"2", "ham 0\nspam 0\nwaiting 2", "ham 0\nspam 2\nwaiting 0", "ham 0\nspam 2\nwaiting 1"},
      {"1", "ham 0\nspam 2\nwaiting 0", "ham 0\nspam 2\nwaiting 0", "ham 1\nspam 1\nwaiting 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.consensus);
    const std::string alice = std::string("alice") + c.consensus + "@example.com";
    const std::string bob = std::string("bob") + c.consensus + "@example.com";
    Ok({"mailbox", "add", alice});
    Ok({"mailbox", "add", bob});
    Ok({"model", "reset", "--domain", "example.com"});
    const std::string config_path = home_ + "/varnolt.conf";
    std::string config = ReadAll(config_path);
    const size_t setting = config.find("domain_consensus = ");
    ASSERT_NE(std::string::npos, setting) << "a new home spells out the default";
    config.replace(setting, config.find('\n', setting) - setting, std::string("domain_consensus = ") + c.consensus);
    WriteAll(config_path, config);
    const std::string subject = "Weekend sale: up to 70% off (5)";
    Ok({"move", Deliver(alice, Promotion(5)), kJunk});
    Ok({"move", ItemBySubject(alice, kJunk, subject)["url"], "Inbox"});
    Ok({"move", ItemBySubject(alice, "Inbox", subject)["url"], kJunk});
    Ok({"move", Deliver(alice, Promotion(1) + "Unsubscribe: http://shop.example.biz/u\r\n"), kJunk});
    EXPECT_EQ(c.after_alice, Ok({"stats", "--domain", "example.com"}));
    // Where the domain learned it already, its verdict files it into the junk folder.
    const std::string delivered = Deliver(bob, Promotion(5));
    if (FolderOf(delivered) != kJunk) Ok({"move", delivered, kJunk});
    EXPECT_EQ(c.after_bob, Ok({"stats", "--domain", "example.com"}));
    Ok({"move", ItemBySubject(bob, kJunk, subject)["url"], "Inbox"});
    EXPECT_EQ(c.after_rescue, Ok({"stats", "--domain", "example.com"}));
    EXPECT_EQ(1, Json::parse(Ok({"stats", bob, "--json"}))["ham"]) << "Bob's own lesson counts at once";
  }
}

// A correction is committed before the refit: a refit that fails (here on a
// damaged domain model) keeps the move and goes to the filter's log.
TEST_F(DomainModelCliTest, AFailedRefitKeepsTheCorrectionAndIsLogged) {
  const std::string config_path = home_ + "/varnolt.conf";
  std::string config = ReadAll(config_path);
  ASSERT_TRUE(Contains(config, "domain_learning = on"));
  config.replace(config.find("domain_learning = on"), 20, "domain_learning = off");
  WriteAll(config_path, config);
  const std::string url = Deliver(kAlice, Promotion(7));
  WriteAll(DataPath("example.com/@domain.model"), "not a model");
  const RunResult moved = Run({"move", url, kJunk});
  EXPECT_EQ(0, moved.status) << moved.err;
  EXPECT_EQ(1, Json::parse(Ok({"stats", kAlice, "--json"}))["spam"]);
  EXPECT_EQ(1, LogCount("Err: Refitting the linear model failed")) << Log();
}

// train's lessons are committed one by one; a final refit that fails is an
// error, reported after the summary of what stays learned.
TEST_F(DomainModelCliTest, TrainWhoseRefitFailsReportsItAfterKeepingItsLessons) {
  std::filesystem::create_directories(DataPath("example.com"));
  WriteAll(DataPath("example.com/@domain.model"), "not a model");
  const RunResult trained = Run(
      {"train", kAlice, "--spam", Samples("train/spam/spam-01.eml"), "--ham", Samples("train/ham/ham-01.eml")});
  EXPECT_EQ(1, trained.status);
  EXPECT_TRUE(Contains(trained.out, "learned 2 (1 HAM, 1 SPAM)")) << trained.out;
  EXPECT_TRUE(Contains(trained.err, "the lessons above are learned, but refitting the linear model failed")) << trained.err;
  EXPECT_EQ(1, Json::parse(Ok({"stats", kAlice, "--json"}))["spam"]);
}

TEST_F(DomainModelCliTest, DomainLearningOffLeavesTheDomainToTheAdministrator) {
  const std::string config_path = home_ + "/varnolt.conf";
  std::string config = ReadAll(config_path);
  ASSERT_TRUE(Contains(config, "domain_learning = on")) << "a new home spells out the default";
  config.replace(config.find("domain_learning = on"), 20, "domain_learning = off");
  WriteAll(config_path, config);
  Ok({"move", Deliver(kAlice, Promotion(6)), kJunk});
  EXPECT_FALSE(fs::exists(DataPath("example.com/@domain.model")));
  EXPECT_EQ("ham 0\nspam 0\nwaiting 0", Ok({"stats", "--domain", "example.com"}));
}

TEST_F(DomainModelCliTest, ResetEmptiesTheSharedModelOnly) {
  Ok({"train", "--domain", "example.com", "--spam", Samples("train/spam")});
  Ok({"train", kAlice, "--spam", Samples("train/spam/spam-01.eml")});
  EXPECT_TRUE(Contains(Ok({"model", "reset", "--domain", "example.com"}), "it had learned 0 HAM and 10 SPAM"));
  EXPECT_EQ("ham 0\nspam 0\nwaiting 0", Ok({"stats", "--domain", "example.com"}));
  EXPECT_EQ(1, Json::parse(Ok({"stats", kAlice, "--json"}))["spam"]);
  EXPECT_TRUE(Contains(Ok({"model", "reset", "--domain", "other.org"}), "has no shared model yet"));
}

TEST_F(DomainModelCliTest, UserOrDomainButNotBoth) {
  const std::string spam = Samples("train/spam/spam-01.eml");
  const std::vector<std::vector<std::string>> usage_errors = {
      {"train", "--spam", spam},
      {"train", kAlice, "--domain", "example.com", "--spam", spam},
      {"train", "--domain", "..", "--spam", spam},
      {"stats"},
      {"stats", kAlice, "--domain", "example.com"},
      {"model", "reset"},
  };
  for (const auto& args : usage_errors) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(2, Run(args).status);
  }
  EXPECT_FALSE(fs::exists(DataPath("example.com/@domain.model")));
}

}  // namespace
}  // namespace varnolt
