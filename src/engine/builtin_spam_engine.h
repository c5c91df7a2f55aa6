// The built-in spam engine: a learning statistical classifier with one SQLite
// file per user at the path the filter gives (model_store.h describes the
// file).
//
// The model is counts: for each token, how many HAM and how many SPAM
// messages held it. Robinson's token probabilities joined by Fisher's
// chi-square method (chi_square.h) judge a message from them. Beside the
// counts each learned message's key record is kept, and a linear model
// refitted from those records (linear_fit.h) ranks new mail where the counts
// alone rank it badly; the score is a mix of both. So what the model holds,
// and every score, depends only on which messages it learned as what (the
// linear weights on the set at their last refit): an administrator may teach
// all SPAM first and then all HAM, and corrections may come in any order. A
// message is SPAM when its spamminess is above the threshold; an empty model
// says HAM (0.5).
//
// Beside the user's model it consults the shared model of the user's domain
// (DomainModelPathBeside), when there is one: their counts are added, the
// user's weighted up (model_mix.h). A model that knows too little of one
// class answers with a middle score (thin_model.h).
//
// It may also learn from its own confident verdicts (AutoLearnOptions), as a
// correction then moves the message exactly. Every clear HAM verdict is
// learned, so that a new mailbox soon knows its everyday mail; only very sure
// SPAM verdicts are.
//
// The linear fit is redone after a correction (Relearn) or an
// administrator's lesson (LearnMessage, Refit) once kRefitAfterChanges
// messages were learned or moved since the last fit, or when the model has
// none; never during a delivery (judging a message, or Learn of a trusted
// sender's mail), whose lessons wait for the next refit. A refit that fails
// leaves the lesson learned and is retried at a later one (EngineOptions::
// notice hears of it). A user's fit is residual over the domain's fit and
// spans the user's own messages only; a user without a fit of its own is
// judged by the domain's. A user's call never refits the domain's model:
// Refit of the domain's path (train --domain, model refit) does.
//
// Every call works in one transaction on the user's file, kept open between
// calls by a process-wide cache (model_cache.h), so one instance may serve
// many users and several processes may share a user. Failures throw ComError
// (engine_errors.h). A message holding the GTUBE test string is SPAM whatever
// the model says.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/chi_square.h"
#include "engine/corrections.h"
#include "engine/delivery_clues.h"
#include "engine/linear_fit.h"
#include "engine/model_cache.h"
#include "engine/model_lesson.h"
#include "engine/spam_model.h"
#include "engine/thin_model.h"
#include "engine/tokenizer.h"
#include "platform/com/com_error.h"
#include "platform/spam_engine.h"

namespace varnolt {

constexpr double kSpamThreshold = 0.8;

// Spamminess in [kUnsureLow, kUnsureHigh) is an uncertain answer, whichever
// side of the threshold it falls: the model has not seen enough mail like it.
// A mail system that asks its users about such mail and trains the answers
// teaches the model where it is weakest (an empty model's 0.5 is uncertain).
constexpr double kUnsureLow = 0.3;
constexpr double kUnsureHigh = 0.95;
inline bool IsUnsure(double spamminess) { return spamminess >= kUnsureLow && spamminess < kUnsureHigh; }

struct AutoLearnOptions {
  bool enabled = false;
  // The regime of a filter that registers its own verdicts: every clear verdict
  // is learned, so that the model soon knows the user's everyday HAM (an
  // unknown newsletter is what a model taught only its mistakes calls SPAM).
  double ham_below = 0.6;      // a verdict this sure of HAM is learned as HAM...
  // ...when the header and the body alone each score below this (1: not asked).
  double part_ham_below = 1;
  double spam_above = 0.99;    // a verdict this sure of SPAM is learned as SPAM
  int min_learned = 10;         // of each class (both models together), before the model trusts itself
  // HAM is learned only while the user's own model holds fewer than this many
  // HAM per SPAM message known to both models (0: no limit). With the linear
  // model a bound starves HAM and brings false positives back: none by default.
  double max_ham_per_spam = 0;
  // The SPAM verdict's threshold while it learns from itself.
  double threshold = kSpamThreshold;
};

struct EngineOptions {
  engine::TokenizerOptions tokenizer;
  engine::ChiSquareParams chi_square;
  double threshold = kSpamThreshold;
  AutoLearnOptions auto_learn;
  engine::ThinModelOptions thin_model;
  // The linear model's share of the score (the counts' is the rest), once a fit is there.
  double linear_weight = 0.7;
  // The domain's shared model is consulted beside the user's...
  bool consult_domain = true;
  // ...with each message of the user's own counted this many times.
  uint32_t user_weight = 4;
  // The user's corrections (Relearn) and trusted mail (Learn) teach the
  // domain's shared model too, each message once whoever learns it...
  bool domain_learning = false;
  // A user's correction decides that message and its near-duplicates in the
  // user's mailbox (corrections.h); off only to measure what it changes.
  bool corrections_stick = true;
  // ...once this many distinct users of the domain taught it, or a near
  // duplicate, as the same class (domain_consensus.h); 1: at once.
  uint32_t domain_consensus = 2;
  // Hears of a failure the engine survived without failing the call (a refit
  // that failed after its lesson was committed), with the model's path; unset: nobody.
  std::function<void(const std::string& dat_path, const ComError& error)> notice;
  // Where open model files are kept between calls; the process's own cache when null.
  std::shared_ptr<engine::ModelCache> cache;
  // Where the models live (spam_model.h); files kept in cache when null.
  std::shared_ptr<engine::ModelBackend> models;
};

// The rule that gave a verdict.
enum class ScoreRule {
  kNoModel,            // nothing learned yet: the middle score
  kGtube,              // the test string
  kTooLittleEvidence,  // too little of one class learned: the middle score
  kNearSpamDuplicate,  // ...but nearly the same as SPAM taught
  kScore,              // the counts, mixed with the linear fit when there is one
  kCorrection,         // the user corrected this message or a near-duplicate of it
};
const char* ScoreRuleName(ScoreRule rule);

// The engine's verdict with what made it (the platform's SpamScore carries the
// parts of the mix): the rule that gave it, the counts' own score (the middle
// score's while the models are thin), the fit that gave the linear part, and
// the user's correction when one decided.
struct EngineScore : SpamScore {
  ScoreRule rule = ScoreRule::kNoModel;
  double counts = 0.5;
  std::shared_ptr<const engine::LinearFit> fit{};         // the user's
  std::shared_ptr<const engine::LinearFit> domain_fit{};  // the domain's, when it took part
  std::optional<engine::CorrectionMatch> correction{};
};

// A corrected message's score: SPAM at least halfway from the threshold to 1,
// HAM at most half the threshold, the model's own where it already agrees.
double CorrectedScore(double spamminess, bool is_spam, double threshold);

class BuiltinSpamEngine : public SpamEngine {
 public:
  explicit BuiltinSpamEngine(EngineOptions options = {});

  // Classify creates the user's file when missing (the rest of the system
  // takes its existence as "user known"); a missing directory is an error.
  // It is Score's answer.
  SpamScore Classify(const std::string& dat_path, const std::string& header, const std::string& body) override;

  // Learn and Relearn both remember what each message was learned as: a
  // message learned again as the same class changes nothing, and one learned
  // before as the other class is moved: its counts leave that class and join
  // the given one. With domain_learning the domain's shared model learns the
  // message the same way (created when missing), after the user's, once
  // domain_consensus users agree on it; until then the lesson waits there.
  void Learn(const std::string& dat_path, const std::string& header, const std::string& body,
             bool is_spam) override;
  void Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
               bool is_spam) override;

  SpamCounts GetCounts(const std::string& dat_path) override;

  // Classify with its spamminess; creates the file like Classify, and learns
  // from a confident verdict when the options say so.
  EngineScore Score(const std::string& dat_path, const std::string& header, const std::string& body);

  // Scores without creating or changing anything: a missing or empty file
  // answers from an empty model. A foreign or corrupt file still throws.
  SpamScore Peek(const std::string& dat_path, const std::string& header, const std::string& body) override;
  // Peek with what made the verdict.
  EngineScore PeekScore(const std::string& dat_path, const std::string& header, const std::string& body);

  // What Learn returns about the message: whether it changed the model.
  using LearnResult = engine::LessonResult;

  // How many users' lessons wait in the domain's model at domain_path for
  // others to agree (0 for a missing model).
  int64_t WaitingLessons(const std::string& domain_path);

  // Refits the linear model at path now (a user's over the domain's lesson
  // too), when it holds both classes: after a batch of lessons, so that the
  // weights are those of the whole set. Nothing for a missing model.
  void Refit(const std::string& dat_path);

  // The SPAM verdict's threshold: a different one while the engine learns from itself.
  double Threshold() const;
  // Teaches the model at path alone (a user's, or a domain's shared model)
  // as an administrator does; creates the file when missing.
  LearnResult LearnMessage(const std::string& dat_path, const std::string& header, const std::string& body,
                           bool is_spam, engine::WriteSync sync = engine::WriteSync::kWait);

 private:
  struct Judgement {
    double spamminess = 0.5;
    double header_only = 0.5;
    double body_only = 0.5;
    SpamCounts learned;  // by both models, unweighted
    SpamCounts own;      // by the user's model alone
    bool thin = false;   // too little of one class: the score is a middle one unless near_duplicate
    double counts_only = 0.5;  // the counts' own score
    bool near_duplicate = false;
    double spam_share = 0;
    std::optional<double> linear;  // the fit's score, when one took part
    std::shared_ptr<const engine::LinearFit> fit;         // the user's
    std::shared_ptr<const engine::LinearFit> domain_fit;  // the domain's
    std::vector<engine::Correction> corrections;  // the user's, read with the counts
    engine::StrongIds strong;  // the strongest clues of each part, unnamed
  };
  // The score a judgement gives, with its parts; the user's correction decides
  // where one matches (digest and record of the message judged).
  EngineScore ScoreOf(const Judgement& judgement, const engine::MessageDigest& digest,
                    const engine::MessageFeatures& features) const;
  Judgement Judge(engine::SpamModel* store, engine::SpamModel* domain, const std::string& header,
                  const engine::MessageFeatures& features);
  // The domain's shared model beside dat_path; an empty lease when there is none (or consulting is off).
  engine::ModelLease DomainStore(const std::string& dat_path);
  // Never refits the domain's fit: a user's call must not pay for the domain's size.
  void LearnForDomain(const std::string& dat_path, const std::string& header, const std::string& body,
                      bool is_spam, engine::WriteSync sync);
  // Whether a lesson is the user's correction, which the model also notes
  // (corrections.h) in the lesson's own transaction: a crash keeps both or neither.
  enum class LessonKind { kLesson, kCorrection };
  // Learns the message into the model at path alone, then refits it when due
  // and asked to; a failed refit is told to the notice, not thrown.
  LearnResult Teach(const std::string& dat_path, const std::string& header, const std::string& body, bool is_spam,
                    engine::WriteSync sync, bool refit_when_due, LessonKind kind = LessonKind::kLesson);
  bool WouldLearn(const Judgement& judgement, bool* as_spam) const;
  // Refits the linear model at path when due (linear_fit.h), or now with force.
  void RefitIfDue(const std::string& dat_path, engine::SpamModel* store, bool force = false);
  LearnResult LearnWith(engine::SpamModel* store, const engine::MessageFeatures& features,
                        const engine::MessageDigest& digest, bool is_spam, bool automatic,
                        engine::WriteSync sync, LessonKind kind = LessonKind::kLesson);

  EngineOptions options_;
};

// True when the text holds the GTUBE test string.
bool ContainsGtube(const std::string& text);

}  // namespace varnolt
