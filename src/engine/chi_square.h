// The second combining method: Robinson's token probabilities joined by
// Fisher's chi-square method (as in SpamBayes and bogofilter).
//
// A token seen in n_s of N_s SPAM and n_h of N_h HAM messages gets
// p = (n_s/N_s) / (n_s/N_s + n_h/N_h), pulled towards an unknown token's
// prior by f = (s*x + n*p) / (s + n). n, the token's weight of evidence, is
// its frequencies times the mean class size, (N_s + N_h)/2 * (n_s/N_s +
// n_h/N_h): the message count n_s + n_h when both classes are the same size,
// but in a model holding far more HAM than SPAM a token seen once in
// thousands of HAM does not weigh as much as one seen once in hundreds of
// SPAM. (With raw counts it did, and every new spam carrying a few rare words
// of the HAM looked less spammy the more HAM the model knew.) Only tokens whose f
// is at least min_deviation away from 0.5 count, at most max_clues of the
// strongest. The indicator (1 + S - H) / 2 is near 1 when the clues are
// jointly unlikely as HAM, near 0 when unlikely as SPAM, and near 0.5 when
// they are few or disagree, which is what keeps it from calling HAM spam on
// thin evidence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/names/model_values.h"

namespace varnolt::engine {

struct ChiSquareParams {
  double strength = 0.1;         // s: how many messages' worth the prior counts
  double unknown_prob = 0.5;     // x: the probability of a token never seen
  double min_deviation = 0.4;    // clues nearer to 0.5 than this are ignored
  size_t max_clues = 150;
  // n in f: the token's frequencies times the mean class size (true), or its
  // raw message count n_s + n_h (false, Robinson's and bogofilter's).
  bool evidence_by_rates = true;
};

using ::varnolt::TokenCounts;

// f for one token, given how many HAM and SPAM messages were counted in all.
double TokenSpamProbability(const TokenCounts& token, const TokenCounts& messages, const ChiSquareParams& params);

// The indicator from 0 (HAM) to 1 (SPAM) for a message's known tokens; 0.5
// when no token is a clue.
double ChiSquareIndicator(const std::vector<TokenCounts>& tokens, const TokenCounts& messages,
                          const ChiSquareParams& params);

// The chance that a chi-square variable with degrees_of_freedom (even) is at
// least chi2.
double ChiSquareSurvival(double chi2, int degrees_of_freedom);

}  // namespace varnolt::engine
