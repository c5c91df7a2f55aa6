// A user's move into or out of the junk folder sticks: the same message,
// checked or delivered again, and its next issue are judged as the user
// said; `explain` names the rule, and its JSON adds up to the score.
#include <gmock/gmock.h>

#include <cmath>
#include <string>

#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr const char* kAlice = "alice@example.com";
constexpr const char* kJunk = "Junk E-Mail";

std::string Samples(const std::string& relative) { return std::string(VARNOLT_SOURCE_DIR) + "/samples/" + relative; }

// A good shop's offer, and its next issue: a new Message-ID and date, one line more.
std::string Offer(int issue) {
  std::string bytes = ReadAll(Samples("incoming/07-ham-offer.eml"));
  if (issue > 1) {
    const std::string n = std::to_string(issue);
    bytes.replace(bytes.find("<offer7@"), 8, "<offer7-" + n + "@");
    bytes.replace(bytes.find("Mon, 28 Dec"), 11, "Tue, 29 Dec");
    bytes.replace(bytes.find("</body>"), 7, "<p>Issue " + n + ": new colours in stock.</p></body>");
  }
  return bytes;
}

class CorrectionCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Ok({"mailbox", "add", kAlice});
    Ok({"train", "-q", "--domain", "example.com", "--spam", Samples("train/spam"), "--ham", Samples("train/ham")});
  }
  std::string Check(const std::string& bytes) { return Ok({"check", kAlice, MessageFile("check.eml", bytes)}); }
  static bool InJunk(const std::string& url) { return url.find(std::string("/") + kJunk + "/") != std::string::npos; }
};

TEST_F(CorrectionCliTest, AMessageMovedIntoTheJunkFolderIsSpamFromThenOn) {
  const std::string url = Deliver(kAlice, Offer(1));
  ASSERT_FALSE(InJunk(url)) << "the domain's model takes the offer for good mail";
  ASSERT_EQ(0u, Check(Offer(2)).rfind("HAM ", 0));
  Ok({"move", url, kJunk});
  EXPECT_EQ(1, Json::parse(Ok({"stats", kAlice, "--json"}))["spam"]);
  EXPECT_EQ(0u, Check(Offer(1)).rfind("SPAM ", 0));
  EXPECT_EQ(0u, Check(Offer(2)).rfind("SPAM ", 0));
  EXPECT_TRUE(InJunk(Deliver(kAlice, Offer(1))));
  EXPECT_TRUE(InJunk(Deliver(kAlice, Offer(3))));

  const Json moved = Json::parse(Ok({"explain", ItemBySubject(kAlice, kJunk, "Members only: 50% discount, order now!")["url"],
                                     "--json"}));
  EXPECT_EQ("user's correction", moved["engine"]["rule"]);
  EXPECT_EQ("SPAM", moved["verdict"]);
  EXPECT_THAT(Ok({"explain", moved["url"].get<std::string>()}),
              ::testing::HasSubstr("engine rule: the user's correction"));
}

// The parts of explain --json give its score: the counts and the fit mixed by
// their weights, the fit's log-odds through the logistic function.
TEST_F(CorrectionCliTest, ExplainJsonAddsUpToTheScore) {
  int mixed = 0;
  for (const std::string name : {"01-ham.eml", "02-spam.eml", "05-ham.eml", "08-spam-quiet.eml"}) {
    SCOPED_TRACE(name);
    const std::string url = Ok({"deliver", kAlice, Samples("incoming/" + name)});
    const Json explained = Json::parse(Ok({"explain", url, "--json"}));
    const Json& engine = explained["engine"];
    ASSERT_EQ("score", engine["rule"]);
    const double score = explained["score"];
    EXPECT_NEAR(score, engine["mix"].get<double>(), 1e-9);
    if (engine["linear"].is_null()) {
      EXPECT_NEAR(score, engine["counts"].get<double>(), 1e-9);
      continue;
    }
    ++mixed;
    const double linear = engine["linear"];
    EXPECT_NEAR(score, engine["counts_weight"].get<double>() * engine["counts"].get<double>() +
                           engine["linear_weight"].get<double>() * linear, 1e-9);
    EXPECT_NEAR(linear, 1 / (1 + std::exp(-engine["linear_log_odds"].get<double>())), 1e-9);
    EXPECT_FALSE(engine["features"].empty());
  }
  EXPECT_GT(mixed, 0) << "the domain's lesson comes with a fit";
}

}  // namespace
}  // namespace varnolt
