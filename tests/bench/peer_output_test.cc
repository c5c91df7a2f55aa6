// The evaluation's peers are read from what their programs print; a reading
// that drifts silently would rank a peer on noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "peers/peer_filter.h"
#include "peers/program.h"

namespace varnolt::eval {
namespace {

struct Reading {
  const char* peer;
  PeerVerdict (*read)(const std::string&);
  std::string output;
  double spamminess;
  bool is_spam;
  bool unsure;
};

TEST(PeerOutputTest, ReadsEachPeersVerdictAndScore) {
  const Reading readings[] = {
      {"crm114 spam", ReadCrm114Stats,
       "CLASSIFY succeeds; success probability: 1.0000  pR: 4.7102\nBest match to file #0 (spam.css) prob: 1.0000  pR: "
       "4.7102\n",
       0.5 + std::atan(4.7102) / 3.141592653589793, true, false},
      {"crm114 ham", ReadCrm114Stats, "CLASSIFY fails; success probability: 0.0000  pR: -7.2525\n#0 pR: 7.25\n",
       0.5 + std::atan(-7.2525) / 3.141592653589793, false, false},
      {"crm114 error", ReadCrm114Stats, "", 0.5, false, true},
      {"spamprobe spam", ReadSpamprobeScore, "SPAM 0.9998611 4d2660337e1572c9e4f3e7946e08c963\n", 0.9998611, true,
       false},
      {"spamprobe good", ReadSpamprobeScore, "GOOD 0.0000077 8dd3227e9d5d4471032f7e5fe0945aa1\n", 0.0000077, false,
       false},
      {"spamprobe garbage", ReadSpamprobeScore, "caught runtime exception: No such file or directory\n", 0.5, false,
       true},
      {"rspamd spam", ReadRspamcSymbols, "Score: 0.00 / 0.00\nSymbol: BAYES_SPAM (0.00)[99.00%]\nMessage-ID: x\n",
       0.995, true, false},
      {"rspamd ham", ReadRspamcSymbols, "Score: 0.00 / 0.00\nSymbol: BAYES_HAM (0.00)[26.00%]\nUrls: []\n", 0.37,
       false, false},
      {"rspamd below min_learns", ReadRspamcSymbols, "Action: no action\nSpam: false\nScore: 0.00 / 0.00\n", 0.5,
       false, true},
  };
  for (const Reading& r : readings) {
    SCOPED_TRACE(r.peer);
    const PeerVerdict verdict = r.read(r.output);
    EXPECT_NEAR(r.spamminess, verdict.spamminess, 1e-9);
    EXPECT_EQ(r.is_spam, verdict.is_spam);
    EXPECT_EQ(r.unsure, verdict.unsure);
  }
}

TEST(PeerOutputTest, RunsAProgramWithAFileOnItsInput) {
  const std::string file = testing::TempDir() + "peer_output_test.eml";
  std::ofstream(file) << "Subject: hello\n\nbody\n";
  int status = -1;
  EXPECT_EQ("Subject: hello\n\nbody\n", RunProgram({"cat"}, &status, file));
  EXPECT_EQ(0, status);
  EXPECT_TRUE(OnPath("cat"));
  EXPECT_FALSE(OnPath("no-such-program-anywhere"));
  EXPECT_THROW(RunProgram({"no-such-program-anywhere"}, &status), std::runtime_error);
  std::remove(file.c_str());
}

}  // namespace
}  // namespace varnolt::eval
