#include "engine/score_explanation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "engine/feature_hash.h"
#include "engine/tokenizer.h"
#include "platform/names/data_layout.h"
#include "test_messages.h"

namespace varnolt::engine {
namespace {

namespace fs = std::filesystem;
using varnolt::testing::MailMaker;

class ScoreExplanationTest : public ::testing::Test {
 protected:
  std::string DatPath() const { return folder_.path().string() + "\\user.dat"; }

  varnolt::testing::TempFolder folder_;
  MailMaker mail_;
  BuiltinSpamEngine engine_;
};

// The clues are looked up by the ids of the token texts: they must be the ids the model keys.
TEST_F(ScoreExplanationTest, TokenTextsHashToTheModelsIds) {
  const std::string header = mail_.Header(true, 3), body = mail_.Body(true, 3);
  std::vector<uint64_t> ids;
  for (const std::string& token : Tokenize(header, body, {})) ids.push_back(TokenId(token));
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(FeatureIds(header, body, {}), ids);
}

TEST_F(ScoreExplanationTest, ExplainsThePeekedScoreWithItsStrongestCluesFirst) {
  for (int seed = 0; seed < 12; ++seed) {
    engine_.Learn(DatPath(), mail_.Header(true, seed), mail_.Body(true, seed), true);
    engine_.Learn(DatPath(), mail_.Header(false, seed), mail_.Body(false, seed), false);
  }
  for (bool spam : {true, false}) {
    SCOPED_TRACE(spam ? "spam" : "ham");
    const std::string header = mail_.Header(spam, 99), body = mail_.Body(spam, 99);
    const ScoreExplanation explanation = ExplainScore({}, DatPath(), header, body, 10);
    const SpamScore peeked = engine_.Peek(DatPath(), header, body);
    EXPECT_DOUBLE_EQ(peeked.spamminess, explanation.spamminess);
    EXPECT_EQ(peeked.is_spam, explanation.is_spam);
    EXPECT_EQ(12, explanation.learned.ham);
    EXPECT_EQ(12, explanation.learned.spam);
    ASSERT_EQ(10u, explanation.clues.size());
    EXPECT_GE(explanation.clue_count, explanation.clues.size());
    for (size_t i = 0; i < explanation.clues.size(); ++i) {
      const Clue& clue = explanation.clues[i];
      EXPECT_EQ(spam, clue.ToSpam()) << clue.token;
      EXPECT_GT(spam ? clue.spam : clue.ham, 0u) << clue.token;
      EXPECT_EQ("user", clue.model);
      if (i > 0) {
        EXPECT_GE(explanation.clues[i - 1].Weight(), clue.Weight());
      }
    }
  }
}

// The verdict carries its own strongest clues of each part: the ones an
// explanation against the same models names first.
TEST_F(ScoreExplanationTest, AVerdictCarriesTheStrongestCluesOfEachPart) {
  for (int seed = 0; seed < 12; ++seed) {
    engine_.Learn(DatPath(), mail_.Header(true, seed), mail_.Body(true, seed), true);
    engine_.Learn(DatPath(), mail_.Header(false, seed), mail_.Body(false, seed), false);
  }
  for (bool fitted : {false, true}) {
    SCOPED_TRACE(fitted ? "refitted" : "as learned");
    if (fitted) engine_.Refit(DatPath());
    const std::string header = mail_.Header(true, 99), body = mail_.Body(true, 99);
    const ScoreExplanation explanation = ExplainScore({}, DatPath(), header, body, 1000);
    const SpamScore score = engine_.Classify(DatPath(), header, body);
    std::vector<double> linear, strongest_features;
    size_t counts = 0;
    for (const ScoreClue& clue : score.clues) {
      if (clue.source == ClueSource::kLinear) {
        linear.push_back(std::abs(clue.value));
        EXPECT_FALSE(clue.token.empty());
        continue;
      }
      ++counts;
      const auto same = std::find_if(explanation.clues.begin(), explanation.clues.end(),
                                     [&](const Clue& c) { return c.token == clue.token; });
      ASSERT_NE(explanation.clues.end(), same) << clue.token;
      EXPECT_DOUBLE_EQ(same->probability, clue.value);
      EXPECT_GE(same->Weight(), explanation.clues[kCluesPerPart - 1].Weight());
    }
    EXPECT_EQ(kCluesPerPart, counts);
    for (size_t i = 0; i < explanation.features.size() && i < kCluesPerPart; ++i) {
      strongest_features.push_back(std::abs(explanation.features[i].contribution));
    }
    if (fitted) {
      ASSERT_TRUE(explanation.linear.has_value());
    }
    EXPECT_EQ(explanation.linear.has_value(), !linear.empty());
    for (size_t i = 0; i < linear.size() && i < strongest_features.size(); ++i) {
      EXPECT_NEAR(strongest_features[i], linear[i], 1e-6);
    }
  }
}

TEST_F(ScoreExplanationTest, EachClueNamesTheModelsItsCountsComeFrom) {
  const std::string domain = DomainModelPathBeside(DatPath());
  for (int seed = 0; seed < 12; ++seed) {
    engine_.Learn(domain, mail_.Header(true, seed), mail_.Body(true, seed), true);
    engine_.Learn(domain, mail_.Header(false, seed), mail_.Body(false, seed), false);
  }
  engine_.Learn(DatPath(), mail_.Header(true, 50), mail_.Body(true, 50), true);
  const std::string header = mail_.Header(true, 50), body = mail_.Body(true, 50);
  const ScoreExplanation explanation = ExplainScore({}, DatPath(), header, body, 1000);
  EXPECT_DOUBLE_EQ(engine_.Peek(DatPath(), header, body).spamminess, explanation.spamminess);
  EXPECT_TRUE(explanation.domain_model);
  EXPECT_EQ(12, explanation.domain_learned.spam);
  EXPECT_EQ(1, explanation.learned.spam);
  EXPECT_EQ(EngineOptions{}.user_weight, explanation.user_weight);
  std::set<std::string> models;
  for (const Clue& clue : explanation.clues) {
    models.insert(clue.model);
    const bool in_user = clue.ham + clue.spam > 0, in_domain = clue.domain_ham + clue.domain_spam > 0;
    EXPECT_EQ(in_user && in_domain ? "user+domain" : in_domain ? "domain" : "user", clue.model) << clue.token;
  }
  EXPECT_EQ((std::set<std::string>{"user", "user+domain"}), models);  // this message taught the user alone

  // A message the domain learned: clues of its own.
  std::set<std::string> others;
  for (const Clue& clue : ExplainScore({}, DatPath(), mail_.Header(true, 7), mail_.Body(true, 7), 1000).clues) {
    others.insert(clue.model);
  }
  EXPECT_EQ(1u, others.count("domain"));

  EngineOptions alone;
  alone.consult_domain = false;
  EXPECT_FALSE(ExplainScore(alone, DatPath(), header, body, 10).domain_model);
}

TEST_F(ScoreExplanationTest, AMissingModelExplainsNothingAndCreatesNothing) {
  const ScoreExplanation explanation = ExplainScore({}, DatPath(), mail_.Header(true, 1), mail_.Body(true, 1), 10);
  EXPECT_DOUBLE_EQ(0.5, explanation.spamminess);
  EXPECT_TRUE(explanation.clues.empty());
  EXPECT_GT(explanation.tokens, 0u);
  EXPECT_FALSE(fs::exists(folder_.path() / "user.dat"));
}

}  // namespace
}  // namespace varnolt::engine
