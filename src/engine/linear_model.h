// The combining method: online logistic regression over the message's distinct
// tokens, each a binary feature scaled so that a message's feature vector has
// length 1. The score s is the sum of the weights of the message's tokens times
// that scale; the spamminess is the logistic function of s.
//
// Training follows the message's error: a step of learning_rate * (label - p)
// is taken while the message is not on its side of the decision by at least
// margin (train on or near errors), so messages the model already judges
// clearly right leave the weights alone. Because the features have length 1, a
// step d moves the message's own score by exactly d, which lets the whole
// update be computed before any weight is written.
#pragma once

#include <cstddef>

namespace varnolt::engine {

struct ModelParams {
  double learning_rate = 2.0;
  double margin = 1.0;  // in score units; spamminess 0.73 for SPAM, 0.27 for HAM
  int max_steps = 4;
};

// A message is SPAM when its spamminess is above this; an empty model (score
// 0, spamminess exactly 0.5) therefore says HAM.
constexpr double kSpamThreshold = 0.5;

// The value of each of a message's n features (1/sqrt(n)).
double FeatureValue(size_t feature_count);

double Spamminess(double score);

// The total step (to add times the feature value to each of the message's
// weights) that learning the message with the given current score takes; 0
// when it is already right by the margin.
double TrainingStep(double score, bool is_spam, const ModelParams& params);

}  // namespace varnolt::engine
