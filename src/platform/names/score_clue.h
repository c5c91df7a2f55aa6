// One of the strongest clues behind a score, as the engine saw it when it
// judged: the engine hands them out with its score, and the journal keeps
// them, so that "why?" can show the decision as it was made after lessons
// have changed the models.
#pragma once

#include <string>

namespace varnolt {

enum class ClueSource {
  kCounts,  // a token of the counting part: value is its spam probability (0..1)
  kLinear,  // a key of the linear part: value is what it adds to the log-odds of SPAM
};

struct ScoreClue {
  ClueSource source = ClueSource::kCounts;
  std::string token;  // for a linear key, the message's tokens on it, ", "-separated
  double value = 0;
  bool ToSpam() const { return source == ClueSource::kCounts ? value > 0.5 : value > 0; }
  bool operator==(const ScoreClue&) const = default;
};

// At most this many clues of each part are kept: enough to say why, little
// enough to keep with every verdict.
inline constexpr size_t kCluesPerPart = 5;

}  // namespace varnolt
