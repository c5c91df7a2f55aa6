#include "engine/chi_square.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace varnolt::engine {
namespace {

TEST(ChiSquareTest, SurvivalFunction) {
  struct Case {
    double chi2;
    int freedom;
    double expected;
  };
  const Case cases[] = {
      {0.0, 2, 1.0},
      {2.0, 2, std::exp(-1.0)},                 // two degrees of freedom: e^(-x/2)
      {4.0, 4, std::exp(-2.0) * (1.0 + 2.0)},  // four: e^(-m)(1 + m)
      {400.0, 10, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(c.expected, ChiSquareSurvival(c.chi2, c.freedom), 1e-12) << c.chi2 << " " << c.freedom;
  }
}

TEST(ChiSquareTest, TokenProbabilities) {
  ChiSquareParams params;
  params.strength = 0.45;  // a prior strong enough to see its pull in the ranges below
  struct Case {
    TokenCounts token, messages;
    double low, high;
  };
  const Case cases[] = {
      {{0, 0}, {10, 10}, 0.5, 0.5},      // never seen: the unknown token's prior
      {{0, 8}, {10, 10}, 0.95, 0.98},    // only in SPAM, pulled a little towards 0.5
      {{8, 0}, {10, 10}, 0.02, 0.05},    // only in HAM
      {{5, 5}, {10, 10}, 0.5, 0.5},      // as frequent in both
      {{10, 1}, {100, 10}, 0.5, 0.5},    // frequencies count, not raw numbers
      {{0, 1}, {0, 1}, 0.8, 0.9},        // one SPAM learned, no HAM at all: pulled further
      // Ten times more HAM than SPAM learned: once in the HAM weighs less than
      // once in the SPAM, and a token as frequent in both stays neutral.
      {{1, 0}, {1000, 100}, 0.2, 0.3},
      {{0, 1}, {1000, 100}, 0.96, 0.98},
      {{10, 1}, {1000, 100}, 0.5, 0.5},
  };
  for (const Case& c : cases) {
    const double f = TokenSpamProbability(c.token, c.messages, params);
    EXPECT_GE(f, c.low - 1e-9) << c.token.ham << "/" << c.token.spam;
    EXPECT_LE(f, c.high + 1e-9) << c.token.ham << "/" << c.token.spam;
  }
}

TEST(ChiSquareTest, EvidenceByRatesIsTheCountWhenTheClassesAreEven) {
  ChiSquareParams by_rates, by_counts;
  by_counts.evidence_by_rates = false;
  for (const TokenCounts token : {TokenCounts{0, 1}, TokenCounts{3, 0}, TokenCounts{2, 7}}) {
    EXPECT_NEAR(TokenSpamProbability(token, {40, 40}, by_counts), TokenSpamProbability(token, {40, 40}, by_rates),
                1e-12);
  }
  // Ten times more HAM than SPAM: by counts, once in the HAM is as strong a
  // clue as once in the SPAM; by rates it is the weaker one.
  const auto strength = [](const ChiSquareParams& params, TokenCounts token) {
    return std::abs(TokenSpamProbability(token, {1000, 100}, params) - 0.5);
  };
  EXPECT_NEAR(strength(by_counts, {1, 0}), strength(by_counts, {0, 1}), 1e-12);
  EXPECT_LT(strength(by_rates, {1, 0}) + 0.02, strength(by_rates, {0, 1}));
  // With one class empty there are no rates to weigh by: the counts again.
  EXPECT_NEAR(TokenSpamProbability({0, 1}, {0, 1}, by_counts), TokenSpamProbability({0, 1}, {0, 1}, by_rates), 1e-12);
}

TEST(ChiSquareTest, IndicatorFollowsTheClues) {
  const ChiSquareParams params;
  const TokenCounts messages{100, 100};
  const std::vector<TokenCounts> spammy(20, TokenCounts{1, 60});
  const std::vector<TokenCounts> hammy(20, TokenCounts{60, 1});
  std::vector<TokenCounts> mixed = spammy;
  mixed.insert(mixed.end(), hammy.begin(), hammy.end());
  const std::vector<TokenCounts> weak(20, TokenCounts{50, 55});  // no clue is strong enough to count

  EXPECT_GT(ChiSquareIndicator(spammy, messages, params), 0.99);
  EXPECT_LT(ChiSquareIndicator(hammy, messages, params), 0.01);
  EXPECT_NEAR(0.5, ChiSquareIndicator(mixed, messages, params), 1e-9);
  EXPECT_EQ(0.5, ChiSquareIndicator(weak, messages, params));
  EXPECT_EQ(0.5, ChiSquareIndicator({}, messages, params));
}

TEST(ChiSquareTest, OnlyTheStrongestCluesCount) {
  ChiSquareParams params;
  params.max_clues = 10;
  const TokenCounts messages{100, 100};
  // Ten strong SPAM clues outweigh any number of weaker HAM ones once only ten count.
  std::vector<TokenCounts> tokens(10, TokenCounts{0, 90});
  tokens.insert(tokens.end(), 60, TokenCounts{30, 2});
  EXPECT_GT(ChiSquareIndicator(tokens, messages, params), 0.99);
  params.max_clues = 150;
  EXPECT_LT(ChiSquareIndicator(tokens, messages, params), 0.5);
}

}  // namespace
}  // namespace varnolt::engine
