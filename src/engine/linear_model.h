// The first combining method: online logistic regression over the message's distinct
// tokens, each a binary feature of value n^-length_exponent for a message of n
// tokens (by default 1/sqrt(n): every message's feature vector has length 1).
// The score s is the sum of the weights of the message's tokens times that
// value; the spamminess is the logistic function of s.
//
// Training follows the message's error: a step of learning_rate * (label - p)
// is taken while the message is not on its side of the decision by at least
// margin (train on or near errors), so messages the model already judges
// clearly right leave the weights alone. A step moves the message's own score
// by a known amount (the square length of its feature vector), which lets the
// whole update be computed before any weight is written.
#pragma once

#include <cstddef>

namespace varnolt::engine {

struct ModelParams {
  double learning_rate = 2.0;
  double margin = 1.0;  // in score units on either side of 0 (spamminess 0.5)
  int max_steps = 4;
  // Feature value n^-length_exponent for a message of n features; 0.5 gives
  // every message a feature vector of length 1.
  double length_exponent = 0.5;
};

// The value of each of a message's n features.
double FeatureValue(size_t feature_count, const ModelParams& params);

double Spamminess(double score);

// The total step (to add times the feature value to each of the message's
// weights) that learning the message with the given current score takes; 0
// when it is already right by the margin.
double TrainingStep(double score, bool is_spam, size_t feature_count, const ModelParams& params);

}  // namespace varnolt::engine
