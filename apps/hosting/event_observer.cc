#include "hosting/event_observer.h"

namespace varnolt::cli {

bool ObservingSpamEngine::Classify(const std::string& dat_path, const std::string& header,
                                   const std::string& body) {
  try {
    // Classify is Score's verdict: asking Score instead changes nothing the filter sees.
    const SpamScore score = engine_.Score(dat_path, header, body);
    observation_->score = score;
    return score.is_spam;
  } catch (...) {
    observation_->engine_failed = true;
    throw;
  }
}

void ObservingSpamEngine::Learn(const std::string& dat_path, const std::string& header, const std::string& body,
                                bool is_spam) {
  try {
    engine_.Learn(dat_path, header, body, is_spam);
    if (!is_spam) observation_->taught_ham = true;
  } catch (...) {
    observation_->engine_failed = true;
    throw;
  }
}

void ObservingSpamEngine::Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
                                  bool is_spam) {
  try {
    engine_.Relearn(dat_path, header, body, is_spam);
    observation_->relearned_as_spam = is_spam;
  } catch (...) {
    observation_->engine_failed = true;
    throw;
  }
}

}  // namespace varnolt::cli
