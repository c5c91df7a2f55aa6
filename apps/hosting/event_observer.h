// What the filter asked of the spam engine during one event, seen by the host
// through the engine it hands the filter: the score and verdict of a judged
// message, whether the engine learned it from its own verdict, a trusted
// sender's mail taught as HAM, a user's correction. The observing engine
// answers exactly as the engine it wraps; it only takes notes.
#pragma once

#include <memory>
#include <optional>

#include "engine/builtin_spam_engine.h"
#include "platform/spam_engine.h"

namespace varnolt::cli {

struct EventObservation {
  std::optional<SpamScore> score;          // Classify was asked
  bool taught_ham = false;                 // Learn(HAM): the filter trusted the sender
  std::optional<bool> relearned_as_spam;   // Relearn: the user's correction
  bool engine_failed = false;              // a call of the engine threw
  void Clear() { *this = EventObservation(); }
};

class ObservingSpamEngine : public SpamEngine {
 public:
  ObservingSpamEngine(const EngineOptions& options, std::shared_ptr<EventObservation> observation)
      : engine_(options), observation_(std::move(observation)) {}

  bool Classify(const std::string& dat_path, const std::string& header, const std::string& body) override;
  void Learn(const std::string& dat_path, const std::string& header, const std::string& body,
             bool is_spam) override;
  void Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
               bool is_spam) override;
  SpamCounts GetCounts(const std::string& dat_path) override { return engine_.GetCounts(dat_path); }

 private:
  BuiltinSpamEngine engine_;
  std::shared_ptr<EventObservation> observation_;
};

}  // namespace varnolt::cli
