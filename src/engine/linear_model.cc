#include "engine/linear_model.h"

#include <cmath>

namespace varnolt::engine {

double FeatureValue(size_t feature_count, const ModelParams& params) {
  return feature_count == 0 ? 0.0 : std::pow(static_cast<double>(feature_count), -params.length_exponent);
}

double Spamminess(double score) { return 1.0 / (1.0 + std::exp(-score)); }

double TrainingStep(double score, bool is_spam, size_t feature_count, const ModelParams& params) {
  const double label = is_spam ? 1.0 : 0.0;
  const double value = FeatureValue(feature_count, params);
  // How far the message's own score moves per unit of step.
  const double square_norm = static_cast<double>(feature_count) * value * value;
  double total = 0;
  for (int i = 0; i < params.max_steps; ++i) {
    if ((is_spam ? score : -score) >= params.margin) break;
    const double step = params.learning_rate * (label - Spamminess(score));
    total += step;
    score += step * square_norm;
  }
  return total;
}

}  // namespace varnolt::engine
