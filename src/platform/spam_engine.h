// The spam engine: gives the HAM/SPAM verdict and learns, with one database per
// user at the given path. Paths are the filter's composed texts ("\" separators).
// Every operation reports a failure by throwing ComError. The platform makes
// instances (Platform::CreateSpamEngine); the filter only uses them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/names/score_clue.h"

#include "platform/names/model_values.h"

namespace varnolt {

// A verdict with its evidence: spamminess from 0 (HAM) to 1 (SPAM); is_spam
// is spamminess above the engine's threshold (or the message is a test SPAM).
struct SpamScore {
  double spamminess = 0.5;
  bool is_spam = false;
  bool learned = false;  // the engine learned the message from its own verdict
  // The parts of the mix, once the models hold enough of both classes: the
  // token counts' own score, the linear model's (when fitted) and its share.
  std::optional<double> counts_part = std::nullopt;
  std::optional<double> linear_part = std::nullopt;
  double linear_weight = 0;
  // The strongest clues of each part (at most kCluesPerPart each), when the
  // engine gives them; none for a score the models did not make.
  std::vector<ScoreClue> clues = {};
};

class SpamEngine {
 public:
  virtual ~SpamEngine() = default;
  // The verdict with its score. Creates the database file on first use; may
  // learn the message from a confident verdict (SpamScore::learned).
  virtual SpamScore Classify(const std::string& dat_path, const std::string& header, const std::string& body) = 0;
  // Classify's answer without creating or changing anything: a dry run.
  virtual SpamScore Peek(const std::string& dat_path, const std::string& header, const std::string& body) = 0;
  // Learns the message as the given class. Creates the database file on first use.
  virtual void Learn(const std::string& dat_path, const std::string& header, const std::string& body,
                     bool is_spam) = 0;
  // The user's correction: undoes what was learned for this message, if
  // anything, and learns it as the given class; idempotent.
  virtual void Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
                       bool is_spam) = 0;
  // HAM and SPAM messages learned; 0/0 for a missing file or an empty path, creating nothing.
  virtual SpamCounts GetCounts(const std::string& dat_path) = 0;
};

}  // namespace varnolt
