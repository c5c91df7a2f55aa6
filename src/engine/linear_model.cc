#include "engine/linear_model.h"

#include <cmath>

namespace varnolt::engine {

double FeatureValue(size_t feature_count) {
  return feature_count == 0 ? 0.0 : 1.0 / std::sqrt(static_cast<double>(feature_count));
}

double Spamminess(double score) { return 1.0 / (1.0 + std::exp(-score)); }

double TrainingStep(double score, bool is_spam, const ModelParams& params) {
  const double label = is_spam ? 1.0 : 0.0;
  double total = 0;
  for (int i = 0; i < params.max_steps; ++i) {
    const double signed_score = is_spam ? score : -score;
    if (signed_score >= params.margin) break;
    const double step = params.learning_rate * (label - Spamminess(score));
    total += step;
    score += step;
  }
  return total;
}

}  // namespace varnolt::engine
