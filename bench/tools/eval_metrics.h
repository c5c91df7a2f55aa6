// What the evaluation reports for one classifier in one training mode.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varnolt::eval {

struct RunResult {
  std::string classifier;
  std::string mode;
  int ham = 0, spam = 0, false_positives = 0, false_negatives = 0, trained = 0;
  int auto_learned = 0;
  int rechecked = 0, recheck_wrong = 0;  // --recheck: corrections judged again, and judged the old way
  int site_taught = 0;    // site mode: messages of the domain's lesson
  double site_seconds = 0;  // messages the classifier registered from its own verdict
  std::vector<std::pair<double, bool>> scores;  // (spamminess, is spam)
  double classify_seconds = 0, learn_seconds = 0;
  uint64_t database_bytes = 0;
};

// Area above the ROC curve in percent: the chance that a random HAM message
// scores at least as spammy as a random SPAM message (ties count half).
inline double OneMinusRocaPercent(std::vector<std::pair<double, bool>> scores) {
  std::sort(scores.begin(), scores.end());
  double ham_below = 0, wins = 0, spam = 0;
  for (size_t i = 0; i < scores.size();) {
    size_t j = i;
    double ham_here = 0, spam_here = 0;
    for (; j < scores.size() && scores[j].first == scores[i].first; ++j) (scores[j].second ? spam_here : ham_here) += 1;
    wins += spam_here * (ham_below + ham_here / 2);
    ham_below += ham_here;
    spam += spam_here;
    i = j;
  }
  if (ham_below == 0 || spam == 0) return 0;
  return 100.0 * (1.0 - wins / (ham_below * spam));
}

}  // namespace varnolt::eval
