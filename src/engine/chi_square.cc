#include "engine/chi_square.h"

#include <algorithm>
#include <cmath>

namespace varnolt::engine {

double TokenSpamProbability(const TokenCounts& token, const TokenCounts& messages, const ChiSquareParams& params) {
  const double ham_ratio = messages.ham == 0 ? 0.0 : static_cast<double>(token.ham) / messages.ham;
  const double spam_ratio = messages.spam == 0 ? 0.0 : static_cast<double>(token.spam) / messages.spam;
  const double p = ham_ratio + spam_ratio == 0 ? params.unknown_prob : spam_ratio / (ham_ratio + spam_ratio);
  double n = static_cast<double>(token.ham) + token.spam;
  if (params.evidence_by_rates && messages.ham > 0 && messages.spam > 0) {
    n = (static_cast<double>(messages.ham) + messages.spam) / 2.0 * (ham_ratio + spam_ratio);
  }
  return (params.strength * params.unknown_prob + n * p) / (params.strength + n);
}

double ChiSquareSurvival(double chi2, int degrees_of_freedom) {
  // For even degrees of freedom the survival function is a finite series.
  const double m = chi2 / 2.0;
  double term = std::exp(-m);
  double sum = term;
  for (int i = 1; i < degrees_of_freedom / 2; ++i) {
    term *= m / i;
    sum += term;
  }
  return std::min(sum, 1.0);
}

double ChiSquareIndicator(const std::vector<TokenCounts>& tokens, const TokenCounts& messages,
                          const ChiSquareParams& params) {
  std::vector<double> clues;
  clues.reserve(tokens.size());
  for (const TokenCounts& token : tokens) {
    const double f = TokenSpamProbability(token, messages, params);
    if (std::abs(f - 0.5) >= params.min_deviation) clues.push_back(f);
  }
  if (clues.empty()) return 0.5;
  if (clues.size() > params.max_clues) {
    const auto strongest = clues.begin() + static_cast<std::ptrdiff_t>(params.max_clues);
    std::nth_element(clues.begin(), strongest, clues.end(),
                     [](double a, double b) { return std::abs(a - 0.5) > std::abs(b - 0.5); });
    clues.erase(strongest, clues.end());
  }
  double log_ham = 0, log_spam = 0;  // sums of ln f and ln(1 - f)
  for (double f : clues) {
    log_ham += std::log(f);
    log_spam += std::log1p(-f);
  }
  const int freedom = 2 * static_cast<int>(clues.size());
  // S: how unlikely the clues are if the message were HAM; H: if it were SPAM.
  const double spam = 1.0 - ChiSquareSurvival(-2.0 * log_spam, freedom);
  const double ham = 1.0 - ChiSquareSurvival(-2.0 * log_ham, freedom);
  return (1.0 + spam - ham) / 2.0;
}

}  // namespace varnolt::engine
