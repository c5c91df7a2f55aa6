// Why the engine scores a message as it does: its spamminess and the
// strongest clues behind it (the tokens whose probability is far enough from
// 0.5 to count), each with its direction, weight and the model its counts
// come from: the user's own, the domain's shared one beside it, or both
// (their counts added as the engine adds them, the user's weighted up). Reads
// the models only; nothing is created or learned.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"

namespace varnolt::engine {

struct Clue {
  std::string token;
  double probability = 0.5;  // the token's spam probability f, from both models' counts
  uint32_t ham = 0;          // HAM messages of the user's model that held it
  uint32_t spam = 0;         // SPAM messages of the user's model that held it
  uint32_t domain_ham = 0;   // the same in the domain's shared model
  uint32_t domain_spam = 0;
  std::string model;         // where its counts come from: "user", "domain" or "user+domain"
  bool ToSpam() const { return probability > 0.5; }
  double Weight() const { return probability > 0.5 ? probability - 0.5 : 0.5 - probability; }
};

// A key of the linear fit that this message holds, with what it adds to the
// fit's log-odds of SPAM (its weight over the square root of the message's
// key count).
struct Feature {
  uint32_t key = 0;
  std::string tokens;  // the message's tokens that fall on the key, ", "-separated
  double weight = 0;
  double contribution = 0;
  bool ToSpam() const { return contribution > 0; }
};

struct ScoreExplanation {
  double spamminess = 0.5;
  bool is_spam = false;
  double threshold = 0;
  bool gtube = false;     // the test string decided, whatever the model says
  SpamCounts learned;         // messages the user's model was taught
  bool domain_model = false;  // the domain's shared model was consulted
  SpamCounts domain_learned;  // messages it was taught
  uint32_t user_weight = 1;   // how many times each of the user's counts counted
  bool thin = false;          // too little evidence: the engine answers a middle score
  size_t tokens = 0;      // distinct tokens of the message
  size_t clue_count = 0;  // tokens that counted as clues
  std::vector<Clue> clues;  // the strongest, strongest first

  // How the score is made: the rule that gave it and, for a score, its parts:
  // spamminess = (1 - linear_weight) * counts + linear_weight * linear, with
  // linear = 1 / (1 + exp(-linear_log_odds)), linear_log_odds = linear_bias
  // + the contributions of all linear_keys keys (the fit's log-odds is held
  // within +-35). A correction moves the score past the threshold
  // (CorrectedScore).
  ScoreRule rule = ScoreRule::kNoModel;
  double counts = 0.5;
  std::optional<double> linear;  // none without a fit
  double linear_weight = 0;
  double linear_bias = 0;
  double linear_log_odds = 0;
  size_t linear_keys = 0;
  std::vector<Feature> features;  // the fit's strongest for this message, strongest first
  std::optional<CorrectionMatch> correction;
};

// Explains the score of the message against the user's model at dat_path (a
// missing file is an empty model) and the domain's beside it, with at most
// max_clues clues. Throws ComError like Peek for a foreign or damaged file.
ScoreExplanation ExplainScore(const EngineOptions& options, const std::string& dat_path, const std::string& header,
                              const std::string& body, size_t max_clues);

}  // namespace varnolt::engine
