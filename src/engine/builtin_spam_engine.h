// The built-in spam engine: a learning statistical classifier with one SQLite
// file per user at the path the filter gives (model_store.h describes the
// file).
//
// Two well-known methods judge each message from the same tokens, and the
// spamminess is their weighted mean: online logistic regression
// (linear_model.h), which ranks messages well once it has learned, and
// Robinson-Fisher chi-square (chi_square.h), which stays near 0.5 on thin or
// mixed evidence. A message is SPAM when the spamminess is above
// kSpamThreshold: high enough that both must lean to SPAM, so that HAM is
// rarely lost; an empty model says HAM.
//
// Every operation opens the user's file, works in one transaction and closes
// it again, so one instance may serve many users and several processes may
// share a user. Failures throw ComError (engine_errors.h). A message holding
// the GTUBE test string is SPAM whatever the model says.
#pragma once

#include <string>

#include "engine/chi_square.h"
#include "engine/linear_model.h"
#include "engine/tokenizer.h"
#include "triage/spam_engine.h"

namespace varnolt {
namespace engine {
class ModelStore;
}  // namespace engine

constexpr double kSpamThreshold = 0.75;

// Spamminess in [kUnsureLow, kUnsureHigh) is an uncertain answer, whichever
// side of the threshold it falls: the model has not seen enough mail like it.
// A mail system that asks its users about such mail and trains the answers
// teaches the model where it is weakest (an empty model's 0.5 is uncertain).
constexpr double kUnsureLow = 0.3;
constexpr double kUnsureHigh = 0.85;
inline bool IsUnsure(double spamminess) { return spamminess >= kUnsureLow && spamminess < kUnsureHigh; }

struct EngineOptions {
  engine::TokenizerOptions tokenizer;
  engine::ModelParams model;
  engine::ChiSquareParams chi_square;
  double chi_square_share = 0.3;  // of the spamminess; the rest is the regression's
  double threshold = kSpamThreshold;
};

// A verdict with its evidence: spamminess from 0 (HAM) to 1 (SPAM); is_spam
// is spamminess > the threshold (kSpamThreshold unless the options say
// otherwise), or the GTUBE string was found.
struct SpamScore {
  double spamminess = 0.5;
  bool is_spam = false;
};

class BuiltinSpamEngine : public SpamEngine {
 public:
  explicit BuiltinSpamEngine(EngineOptions options = {});

  // Classify creates the user's file when missing (the rest of the system
  // takes its existence as "user known"); a missing directory is an error.
  bool Classify(const std::string& dat_path, const std::string& header, const std::string& body) override;

  // Learn and Relearn both remember what each message was learned as: a
  // message learned again as the same class changes nothing, and one learned
  // before as the other class first has that learning undone (its count and
  // its weights) and is then learned as the given class.
  void Learn(const std::string& dat_path, const std::string& header, const std::string& body,
             bool is_spam) override;
  void Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
               bool is_spam) override;

  SpamCounts GetCounts(const std::string& dat_path) override;

  // Classify with its spamminess; creates the file like Classify.
  SpamScore Score(const std::string& dat_path, const std::string& header, const std::string& body);

  // Scores without creating or changing anything: a missing or empty file
  // answers from an empty model. A foreign or corrupt file still throws.
  SpamScore Peek(const std::string& dat_path, const std::string& header, const std::string& body);

 private:
  SpamScore ScoreWith(engine::ModelStore* store, const std::string& header, const std::string& body);

  EngineOptions options_;
};

// True when the text holds the GTUBE test string.
bool ContainsGtube(const std::string& text);

}  // namespace varnolt
