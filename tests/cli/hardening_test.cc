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

}  // namespace
}  // namespace varnolt
