// A user's correction sticks in that user's mailbox: the corrected message
// and its near-duplicates (the next issue: a new Message-ID, one more line)
// are judged as the user said, whatever the domain's model says, and only
// for that user.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/builtin_spam_engine.h"
#include "engine/corrections.h"
#include "platform/names/data_layout.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;

TEST(KeySimilarityTest, SharesOfKeysBelowTheReachOfBothRecords) {
  struct Case {
    std::vector<uint32_t> a, b;
    double similarity;
  };
  std::vector<uint32_t> full, shifted;  // records cut at 400 keys
  for (uint32_t k = 0; k < 500; ++k) {
    if (k < 400) full.push_back(k * 2);
    shifted.push_back(k * 2 + (k % 2));  // every other key moved by one
  }
  shifted.resize(400);
  const Case cases[] = {
      {{1, 2, 3}, {1, 2, 3}, 1.0},
      {{1, 2, 3}, {4, 5}, 0.0},
      {{1, 2, 3, 4}, {1, 2, 3, 5}, 0.6},
      {{}, {1}, 0.0},
      // Both full: only the keys up to the smaller last key count.
      {full, shifted, 200.0 / 600.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a.size());
    EXPECT_NEAR(c.similarity, engine::KeySimilarity(c.a, c.b), 0.01);
    EXPECT_NEAR(c.similarity, engine::KeySimilarity(c.b, c.a), 0.01);
  }
}

class CorrectionTest : public ::testing::TestWithParam<bool> {
 protected:
  CorrectionTest() {
    fs::create_directories(folder_.path() / "example.org");
    // The domain knows both kinds of mail well; alice's and bob's own models are empty.
    for (int i = 0; i < 30; ++i) {
      engine_.LearnMessage(Domain(), mail_.Header(true, i), mail_.Body(true, i), true);
      engine_.LearnMessage(Domain(), mail_.Header(false, i), mail_.Body(false, i), false);
    }
  }

  std::string Path(const std::string& user) const {
    return UserDatabasePath(folder_.path().string() + "\\", "example.org", user);
  }
  std::string Domain() const { return DomainModelPath(folder_.path().string() + "\\", "example.org"); }

  // The next issue of a message: a new Message-ID, one more line.
  static std::string NextHeader(std::string header) {
    const size_t at = header.find("Message-ID: <");
    header.insert(at + 13, "issue2.");
    return header;
  }

  testing::TempFolder folder_;
  testing::MailMaker mail_;
  BuiltinSpamEngine engine_{[] {
    EngineOptions options;
    options.domain_learning = false;  // the domain stays as taught: each user's rule is the user's own
    return options;
  }()};
};

TEST_P(CorrectionTest, TheCorrectedMessageAndItsNextIssueAreJudgedAsTheUserSaid) {
  const bool to_spam = GetParam();
  // Mail the domain's model judges the other way from what alice will say,
  // with words of its own (the synthetic mail of one kind is much alike).
  std::string own_words;
  for (int i = 0; i < 40; ++i) own_words += " issue" + std::to_string(i) + "word";
  const std::string header = mail_.Header(!to_spam, 500), body = mail_.Body(!to_spam, 500) + own_words;
  const std::string next_header = NextHeader(header), next_body = body + "\r\nand one more line\r\n";
  ASSERT_EQ(!to_spam, engine_.Peek(Path("alice"), header, body).is_spam);
  ASSERT_EQ(!to_spam, engine_.Peek(Path("alice"), next_header, next_body).is_spam);

  engine_.Relearn(Path("alice"), header, body, to_spam);

  const EngineScore same = engine_.PeekScore(Path("alice"), header, body);
  EXPECT_EQ(to_spam, same.is_spam);
  EXPECT_EQ(to_spam, same.spamminess > engine_.Threshold());
  EXPECT_EQ(ScoreRule::kCorrection, same.rule);
  ASSERT_TRUE(same.correction);
  EXPECT_TRUE(same.correction->exact);

  const EngineScore next = engine_.PeekScore(Path("alice"), next_header, next_body);
  EXPECT_EQ(to_spam, next.is_spam);
  ASSERT_TRUE(next.correction);
  EXPECT_FALSE(next.correction->exact);
  EXPECT_GE(next.correction->similarity, engine::kNearDuplicateSimilarity);
  // Score (the filter's call) says the same, and does not learn from what the rule decided.
  EXPECT_EQ(to_spam, engine_.Classify(Path("alice"), next_header, next_body).is_spam);

  // Other mail of the same kind is the model's to judge; bob's mailbox is bob's.
  const EngineScore other = engine_.PeekScore(Path("alice"), mail_.Header(!to_spam, 501), mail_.Body(!to_spam, 501));
  EXPECT_EQ(!to_spam, other.is_spam);
  EXPECT_EQ(ScoreRule::kScore, other.rule);
  EXPECT_EQ(!to_spam, engine_.Peek(Path("bob"), header, body).is_spam);

  // Corrected back: the latest word stands.
  engine_.Relearn(Path("alice"), next_header, next_body, !to_spam);
  engine_.Relearn(Path("alice"), header, body, !to_spam);
  EXPECT_EQ(!to_spam, engine_.Peek(Path("alice"), header, body).is_spam);
  EXPECT_EQ(!to_spam, engine_.Peek(Path("alice"), next_header, next_body).is_spam);
}

INSTANTIATE_TEST_SUITE_P(Directions, CorrectionTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "IntoJunk" : "OutOfJunk"; });

}  // namespace
}  // namespace varnolt
