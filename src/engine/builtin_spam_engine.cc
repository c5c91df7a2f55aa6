#include "engine/builtin_spam_engine.h"

#include <algorithm>
#include <string_view>

#include "engine/delivery_clues.h"
#include "engine/domain_consensus.h"
#include "engine/feature_hash.h"
#include "engine/file_model_backend.h"
#include "engine/key_record.h"
#include "engine/linear_fit.h"
#include "engine/model_lesson.h"
#include "engine/model_mix.h"
#include "platform/names/data_layout.h"

namespace varnolt {
namespace {

using engine::ModelLease;
using engine::ModelOpen;
using engine::SpamModel;
using engine::TokenCounts;

constexpr std::string_view kGtube = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

}  // namespace

bool ContainsGtube(const std::string& text) { return text.find(kGtube) != std::string::npos; }

BuiltinSpamEngine::BuiltinSpamEngine(EngineOptions options) : options_(std::move(options)) {
  if (!options_.models) options_.models = std::make_shared<engine::FileModelBackend>(options_.cache);
}

SpamScore BuiltinSpamEngine::Classify(const std::string& dat_path, const std::string& header,
                                      const std::string& body) {
  return Score(dat_path, header, body);
}

BuiltinSpamEngine::Judgement BuiltinSpamEngine::Judge(SpamModel* store, SpamModel* domain, const std::string& header,
                                                       const engine::MessageFeatures& features) {
  Judgement judgement;
  if (store == nullptr && domain == nullptr) return judgement;
  std::vector<TokenCounts> own(features.ids.size()), shared;
  SpamCounts own_learned, shared_learned;
  // A user's residual fit adds to the domain's; without one, the domain's own serves.
  std::shared_ptr<const engine::LinearFit> fit, domain_fit;
  if (store != nullptr) {
    store->BeginRead();
    own = store->Lookup(features.ids);
    own_learned = store->Counts();
    fit = store->Fit();
    judgement.corrections = store->Corrections();
    store->Commit();
  }
  if (domain != nullptr) {
    domain->BeginRead();
    shared = domain->Lookup(features.ids);
    shared_learned = domain->Counts();
    domain_fit = domain->Fit();
    domain->Commit();
  }
  // Alone, the user's counts are taken as they are: weighting them changes nothing but the prior's pull.
  const uint32_t weight = domain != nullptr ? options_.user_weight : 1;
  const std::vector<TokenCounts> counts = domain != nullptr ? engine::MergeTokenCounts(own, shared, weight) : own;
  const TokenCounts messages = engine::MergeMessageCounts(own_learned, shared_learned, weight);
  judgement.learned = engine::EvidenceOf(own_learned, shared_learned);
  judgement.own = own_learned;
  judgement.spamminess = engine::ChiSquareIndicator(counts, messages, options_.chi_square);
  if (!engine::HasEvidence(judgement.learned, options_.thin_model)) {
    judgement.thin = true;
    judgement.spam_share = engine::SpamShare(counts);
    judgement.near_duplicate =
        judgement.spamminess > 0.5 && judgement.spam_share >= options_.thin_model.duplicate_share &&
        engine::SenderKnownAsSpam(engine::SenderIds(header, features, options_.tokenizer), features.ids, counts);
    if (!judgement.near_duplicate) judgement.spamminess = 0.5;
    return judgement;
  }
  judgement.counts_only = judgement.spamminess;
  judgement.strong.tokens =
      engine::StrongestTokens(features.ids, counts, messages, options_.chi_square, kCluesPerPart);
  if (fit || domain_fit) {
    const std::vector<uint32_t> keys = engine::LinearKeys(features.ids);
    const double linear = engine::LinearScore(fit.get(), domain_fit.get(), keys);
    judgement.strong.keys = engine::StrongestKeys(fit.get(), domain_fit.get(), keys, kCluesPerPart);
    judgement.linear = linear;
    judgement.fit = fit;
    judgement.domain_fit = domain_fit;
    judgement.spamminess = (1 - options_.linear_weight) * judgement.spamminess + options_.linear_weight * linear;
  }
  if (options_.auto_learn.enabled && options_.auto_learn.part_ham_below < 1) {
    // The header's tokens are a sorted subset of all: walk both together.
    std::vector<TokenCounts> header_counts, body_counts;
    size_t h = 0;
    for (size_t i = 0; i < features.ids.size(); ++i) {
      const bool in_header = h < features.header_ids.size() && features.header_ids[h] == features.ids[i];
      if (in_header) ++h;
      (in_header ? header_counts : body_counts).push_back(counts[i]);
    }
    judgement.header_only = engine::ChiSquareIndicator(header_counts, messages, options_.chi_square);
    judgement.body_only = engine::ChiSquareIndicator(body_counts, messages, options_.chi_square);
  }
  return judgement;
}

const char* ScoreRuleName(ScoreRule rule) {
  switch (rule) {
    case ScoreRule::kNoModel: return "no model";
    case ScoreRule::kGtube: return "test string";
    case ScoreRule::kTooLittleEvidence: return "too little evidence";
    case ScoreRule::kNearSpamDuplicate: return "near-duplicate of taught spam";
    case ScoreRule::kScore: return "score";
    case ScoreRule::kCorrection: return "user's correction";
  }
  return "score";
}

double CorrectedScore(double spamminess, bool is_spam, double threshold) {
  return is_spam ? std::max(spamminess, (1 + threshold) / 2) : std::min(spamminess, threshold / 2);
}

EngineScore BuiltinSpamEngine::ScoreOf(const Judgement& judgement, const engine::MessageDigest& digest,
                                       const engine::MessageFeatures& features) const {
  EngineScore score;
  score.spamminess = judgement.spamminess;
  score.is_spam = judgement.spamminess > Threshold();
  if (!judgement.thin) {
    score.counts_part = judgement.counts_only;
    score.linear_part = judgement.linear;
    if (judgement.linear) score.linear_weight = options_.linear_weight;
  }
  score.counts = judgement.thin ? judgement.spamminess : judgement.counts_only;
  score.fit = judgement.fit;
  score.domain_fit = judgement.domain_fit;
  score.rule = judgement.thin ? (judgement.near_duplicate ? ScoreRule::kNearSpamDuplicate : ScoreRule::kTooLittleEvidence)
                              : ScoreRule::kScore;
  if (judgement.learned.ham == 0 && judgement.learned.spam == 0) score.rule = ScoreRule::kNoModel;
  // The user's word about this message, or its near-duplicate, stands.
  if (options_.corrections_stick && !judgement.corrections.empty()) {
    score.correction =
        engine::MatchCorrection(digest, engine::RecordKeys(features.ids), judgement.corrections);
    if (score.correction) {
      score.rule = ScoreRule::kCorrection;
      score.spamminess = CorrectedScore(score.spamminess, score.correction->is_spam, Threshold());
      score.is_spam = score.correction->is_spam;
    }
  }
  return score;
}

bool BuiltinSpamEngine::WouldLearn(const Judgement& judgement, bool* as_spam) const {
  const AutoLearnOptions& auto_learn = options_.auto_learn;
  if (!auto_learn.enabled) return false;
  if (judgement.thin) {
    // Only HAM, only while HAM is what is short, and only mail unlike the SPAM
    // known: no class grows from the engine's verdicts without the other beside it.
    const bool learns_ham = !judgement.near_duplicate && judgement.learned.spam > 0 &&
                            judgement.learned.ham < options_.thin_model.min_each_class &&
                            judgement.spam_share < options_.thin_model.unlike_spam_share;
    *as_spam = false;
    return learns_ham;
  }
  if (std::min(judgement.learned.ham, judgement.learned.spam) < auto_learn.min_learned) return false;
  // A verdict is only ever learned as what it said.
  if (judgement.spamminess > std::max(auto_learn.spam_above, Threshold())) {
    *as_spam = true;
    return true;
  }
  if (auto_learn.max_ham_per_spam > 0 &&
      judgement.own.ham >= auto_learn.max_ham_per_spam * judgement.learned.spam) {
    return false;
  }
  const bool parts_agree = auto_learn.part_ham_below >= 1 || (judgement.header_only < auto_learn.part_ham_below &&
                                                               judgement.body_only < auto_learn.part_ham_below);
  if (judgement.spamminess < std::min(auto_learn.ham_below, Threshold()) && parts_agree) {
    *as_spam = false;
    return true;
  }
  return false;
}

namespace {
EngineScore GtubeScore() {
  EngineScore score;
  score.spamminess = 1.0;
  score.is_spam = true;
  score.rule = ScoreRule::kGtube;
  return score;
}
}  // namespace

EngineScore BuiltinSpamEngine::Score(const std::string& dat_path, const std::string& header, const std::string& body) {
  ModelLease store = options_.models->Open(dat_path, ModelOpen::kCreate);
  if (ContainsGtube(header) || ContainsGtube(body)) {
    store.Keep();
    return GtubeScore();
  }
  const engine::MessageFeatures features = engine::Features(header, body, options_.tokenizer);
  ModelLease domain = DomainStore(dat_path);
  const Judgement judgement = Judge(store.get(), domain.get(), header, features);
  domain.Keep();
  const engine::MessageDigest digest = engine::DigestMessage(header, body);
  EngineScore score = ScoreOf(judgement, digest, features);
  bool as_spam = false;
  // What the user's correction decided is no verdict of the model's to learn
  // from. Mail from outside always has a header block: without one the bytes
  // are something else (a binary, a stray file) that a mail server stores as
  // it must, but that teaches nothing about mail.
  if (!score.correction && !header.empty() && WouldLearn(judgement, &as_spam)) {
    score.learned = LearnWith(store.get(), features, digest, as_spam, true, engine::WriteSync::kMayLose) !=
                    LearnResult::kAlreadyKnown;
  }
  store.Keep();
  // The verdict's own clues travel with it (to the journal): named after the
  // models are let go, and only for a score the models made.
  if (!score.correction) score.clues = engine::NameClues(judgement.strong, features.ids, header, body, options_.tokenizer);
  return score;
}

SpamScore BuiltinSpamEngine::Peek(const std::string& dat_path, const std::string& header, const std::string& body) {
  return PeekScore(dat_path, header, body);
}

EngineScore BuiltinSpamEngine::PeekScore(const std::string& dat_path, const std::string& header,
                                         const std::string& body) {
  ModelLease store = options_.models->Open(dat_path, ModelOpen::kExistingOnly);
  if (ContainsGtube(header) || ContainsGtube(body)) {
    store.Keep();
    return GtubeScore();
  }
  ModelLease domain = DomainStore(dat_path);
  if (!store && !domain) return EngineScore{};
  const engine::MessageFeatures features = engine::Features(header, body, options_.tokenizer);
  const Judgement judgement = Judge(store.get(), domain.get(), header, features);
  domain.Keep();
  store.Keep();
  return ScoreOf(judgement, engine::DigestMessage(header, body), features);
}

BuiltinSpamEngine::LearnResult BuiltinSpamEngine::LearnWith(SpamModel* store,
                                                            const engine::MessageFeatures& features,
                                                            const engine::MessageDigest& digest, bool is_spam,
                                                            bool automatic, engine::WriteSync sync,
                                                            LessonKind kind) {
  const std::string keys = engine::PackKeys(engine::RecordKeys(features.ids));
  store->BeginWrite(sync);
  const LearnResult result = engine::ApplyLesson(*store, features.ids, digest, keys, is_spam, automatic);
  // The correction takes the class the message was just learned as.
  if (kind == LessonKind::kCorrection) store->PutCorrection(digest, keys);
  store->Commit();
  return result;
}

BuiltinSpamEngine::LearnResult BuiltinSpamEngine::LearnMessage(const std::string& dat_path, const std::string& header,
                                                               const std::string& body, bool is_spam,
                                                               engine::WriteSync sync) {
  return Teach(dat_path, header, body, is_spam, sync, true);
}

BuiltinSpamEngine::LearnResult BuiltinSpamEngine::Teach(const std::string& dat_path, const std::string& header,
                                                        const std::string& body, bool is_spam,
                                                        engine::WriteSync sync, bool refit_when_due,
                                                        LessonKind kind) {
  const engine::MessageFeatures features = engine::Features(header, body, options_.tokenizer);
  ModelLease store = options_.models->Open(dat_path, ModelOpen::kCreate);
  const LearnResult result =
      LearnWith(store.get(), features, engine::DigestMessage(header, body), is_spam, false, sync, kind);
  if (refit_when_due) {
    try {
      RefitIfDue(dat_path, store.get());
    } catch (const ComError& error) {
      // The lesson is committed and stands. Its changes still count since the
      // last fit, so the next lesson that may refit tries again. A failed
      // write leaves the model unusable: the lease ends without Keep().
      if (options_.notice) {
        options_.notice(dat_path, ComError(error.number(), "Refitting the linear model failed (the lesson stands; "
                                                           "a later lesson retries it): " + error.description()));
      }
      return result;
    }
  }
  store.Keep();
  return result;
}

void BuiltinSpamEngine::Refit(const std::string& dat_path) {
  ModelLease store = options_.models->Open(dat_path, ModelOpen::kExistingOnly);
  if (!store) return;
  RefitIfDue(dat_path, store.get(), true);
  store.Keep();
}

void BuiltinSpamEngine::RefitIfDue(const std::string& dat_path, SpamModel* store, bool force) {
  store->BeginRead();
  const int32_t changes = store->ChangesSinceFit();
  const std::shared_ptr<const engine::LinearFit> stored = store->Fit();
  const SpamCounts learned = store->Counts();
  store->Commit();
  // A user's fit is residual over the domain's fit, and spans the user's own
  // messages alone: the domain's records are never read here. It is redone
  // at the user's next lesson after the domain's fit changed (or to replace
  // a fit of an earlier engine, which spanned the domain's lesson).
  ModelLease domain = DomainStore(dat_path);
  std::shared_ptr<const engine::LinearFit> shared;
  if (domain) {
    domain->BeginRead();
    shared = domain->Fit();
    domain->Commit();
    domain.Keep();
  }
  const uint64_t domain_fit = shared ? shared->fingerprint : 0;
  const bool due = force || changes >= engine::kRefitAfterChanges ||
                   (stored && (stored->domain_fingerprint != domain_fit || (shared && !stored->residual)));
  const bool fits = std::min(learned.ham, learned.spam) > 0 || (shared && learned.ham + learned.spam > 0);
  // Nothing to fit yet (a fit missing is no change).
  if (!due && (stored || !fits)) return;
  // In one write, so that no lesson lands between the set read and the fit stored.
  store->BeginWrite(engine::WriteSync::kMayLose);
  std::optional<engine::LinearFit> fit = engine::Fit(
      shared ? engine::ResidualFitSet(store->Messages()) : engine::FitSet(store->Messages(), {}), shared.get());
  if (fit) fit->domain_fingerprint = domain_fit;
  store->PutFit(fit ? &*fit : nullptr);
  store->Commit();
}

// The filter calls Learn on its own for trusted senders' mail: what a crash
// may take back of it, later mail teaches again. A Relearn is the user's
// correction and waits for the disk.
// Learn comes during a delivery: it never refits (a refit takes tens of
// milliseconds); its changes count, and the next correction or `train` refits.
void BuiltinSpamEngine::Learn(const std::string& dat_path, const std::string& header, const std::string& body,
                              bool is_spam) {
  Teach(dat_path, header, body, is_spam, engine::WriteSync::kMayLose, false);
  if (options_.domain_learning) LearnForDomain(dat_path, header, body, is_spam, engine::WriteSync::kMayLose);
}

// A correction refits the user's own fit when due, never the domain's: that
// costs in proportion to the domain, and is `train --domain`'s or `model refit`'s.
void BuiltinSpamEngine::Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
                                bool is_spam) {
  Teach(dat_path, header, body, is_spam, engine::WriteSync::kWait, true, LessonKind::kCorrection);
  if (options_.domain_learning) LearnForDomain(dat_path, header, body, is_spam, engine::WriteSync::kWait);
}

void BuiltinSpamEngine::LearnForDomain(const std::string& dat_path, const std::string& header,
                                       const std::string& body, bool is_spam, engine::WriteSync sync) {
  const std::string path = DomainModelPathBeside(dat_path);
  if (dat_path.empty() || path == dat_path) return;
  // The digest makes each message count once for the domain, whichever users learn it.
  if (options_.domain_consensus <= 1) {
    Teach(path, header, body, is_spam, sync, false);
    return;
  }
  const engine::MessageFeatures features = engine::Features(header, body, options_.tokenizer);
  ModelLease domain = options_.models->Open(path, ModelOpen::kCreate);
  engine::OfferLessonToDomain(*domain.get(), engine::ConsensusUserOf(dat_path), features.ids,
                              engine::DigestMessage(header, body), is_spam, options_.domain_consensus, sync);
  domain.Keep();
}

int64_t BuiltinSpamEngine::WaitingLessons(const std::string& domain_path) {
  ModelLease domain = options_.models->Open(domain_path, ModelOpen::kExistingOnly);
  if (!domain) return 0;
  domain->BeginRead();
  const auto waiting = static_cast<int64_t>(domain->PendingLessons(false).size());
  domain->Commit();
  domain.Keep();
  return waiting;
}

ModelLease BuiltinSpamEngine::DomainStore(const std::string& dat_path) {
  if (!options_.consult_domain || dat_path.empty()) return {};
  const std::string path = DomainModelPathBeside(dat_path);
  if (path == dat_path) return {};
  return options_.models->Open(path, ModelOpen::kExistingOnly);
}

double BuiltinSpamEngine::Threshold() const {
  return options_.auto_learn.enabled ? options_.auto_learn.threshold : options_.threshold;
}

SpamCounts BuiltinSpamEngine::GetCounts(const std::string& dat_path) {
  ModelLease store = options_.models->Open(dat_path, ModelOpen::kExistingOnly);
  if (!store) return {};
  store->BeginRead();
  const SpamCounts counts = store->Counts();
  store->Commit();
  store.Keep();
  return counts;
}

}  // namespace varnolt
