// Why the engine scores a message as it does: its spamminess and the
// strongest clues behind it (the tokens whose probability is far enough from
// 0.5 to count), each with its direction and weight. Reads the model only;
// nothing is created or learned.
#pragma once

#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"

namespace varnolt::engine {

struct Clue {
  std::string token;
  double probability = 0.5;  // the token's spam probability f
  uint32_t ham = 0;          // HAM messages that held it
  uint32_t spam = 0;         // SPAM messages that held it
  std::string model;         // where its counts come from: "user"
  bool ToSpam() const { return probability > 0.5; }
  double Weight() const { return probability > 0.5 ? probability - 0.5 : 0.5 - probability; }
};

struct ScoreExplanation {
  double spamminess = 0.5;
  bool is_spam = false;
  double threshold = 0;
  bool gtube = false;     // the test string decided, whatever the model says
  SpamCounts learned;     // messages the model was taught
  size_t tokens = 0;      // distinct tokens of the message
  size_t clue_count = 0;  // tokens that counted as clues
  std::vector<Clue> clues;  // the strongest, strongest first
};

// Explains the score of the message against the user's model at dat_path (a
// missing file is an empty model), with at most max_clues clues. Throws
// ComError like Peek for a foreign or damaged file.
ScoreExplanation ExplainScore(const EngineOptions& options, const std::string& dat_path, const std::string& header,
                              const std::string& body, size_t max_clues);

}  // namespace varnolt::engine
