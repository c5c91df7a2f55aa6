#include "backends/journal/alert_figures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "backends/journal/verdict_journal.h"

namespace varnolt::journal {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kNow = 1796637900;

TEST(AlertFiguresTest, ScoresAndHostsAreCountedAndOutlivePruning) {
  std::string pattern = (fs::temp_directory_path() / "varnolt-alerts-XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(pattern.data()));
  {
    auto journal = VerdictJournal::Open(pattern + "/journal.db", {});
    EXPECT_FALSE(journal->ForAlerts().last_verdict_time.has_value());
    struct Case {
      std::optional<double> score;
      const char* host;
      const char* verdict;
      int64_t time;
    } cases[] = {
        {0.0, "varnolt", "ham", kNow - 100 * 86400},
        {0.01, "varnolt", "ham", kNow - 50},  // on a bound: in that bucket
        {0.5, "dovecot", "ham", kNow - 40},
        {0.97, "dovecot", "spam", kNow},
        {1.0, "dovecot", "spam", kNow - 30},
        {std::nullopt, "dovecot", "none", kNow - 20},  // whitelisted: no score
        {0.2, "Host\"x", "spam", kNow - 10},  // never a label value as given
    };
    for (const Case& c : cases) {
      VerdictRecord record;
      record.time = c.time;
      record.mailbox = "a@x";
      record.score = c.score;
      record.verdict = c.verdict;
      record.host = c.host;
      journal->Add(record);
    }
    journal->Prune(kNow - 86400);
    const AlertFigures figures = journal->ForAlerts();
    EXPECT_EQ(kNow, figures.last_verdict_time);
    std::array<int64_t, kScoreBuckets.size() + 1> expected{};
    expected[ScoreBucket(0.0)] = 2;  // 0.0 and 0.01: both <= 0.01
    expected[ScoreBucket(0.2)] = 1;
    expected[ScoreBucket(0.5)] = 1;
    expected.back() = 2;  // 0.97 and 1.0: above the highest bound
    EXPECT_EQ(expected, figures.score_buckets);
    EXPECT_DOUBLE_EQ(0.0 + 0.01 + 0.5 + 0.97 + 1.0 + 0.2, figures.score_sum);
    const std::map<std::pair<std::string, std::string>, int64_t> hosts = {
        {{"varnolt", "ham"}, 2}, {{"dovecot", "ham"}, 1}, {{"dovecot", "spam"}, 2},
        {{"dovecot", "none"}, 1}, {{"other", "spam"}, 1}};
    EXPECT_EQ(hosts, figures.host_verdicts);
  }
  EXPECT_EQ(0u, ScoreBucket(0.01));
  EXPECT_EQ(1u, ScoreBucket(0.010001));
  std::error_code ignored;
  fs::remove_all(pattern, ignored);
}

}  // namespace
}  // namespace varnolt::journal
