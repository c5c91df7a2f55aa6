#include "engine/builtin_spam_engine.h"

#include <algorithm>
#include <string_view>

#include "engine/feature_hash.h"
#include "engine/model_store.h"

namespace varnolt {
namespace {

using engine::ModelCache;
using engine::ModelStore;
using engine::TokenCounts;

constexpr std::string_view kGtube = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

int32_t& CountOf(SpamCounts& counts, bool is_spam) { return is_spam ? counts.spam : counts.ham; }

engine::TokenDelta DeltaFor(int sign, bool is_spam) {
  engine::TokenDelta delta;
  (is_spam ? delta.spam : delta.ham) = sign;
  return delta;
}

TokenCounts MessagesOf(const SpamCounts& counts) {
  return {static_cast<uint32_t>(std::max(counts.ham, 0)), static_cast<uint32_t>(std::max(counts.spam, 0))};
}

}  // namespace

bool ContainsGtube(const std::string& text) { return text.find(kGtube) != std::string::npos; }

BuiltinSpamEngine::BuiltinSpamEngine(EngineOptions options) : options_(std::move(options)) {
  if (!options_.cache) options_.cache = ModelCache::Shared();
}

bool BuiltinSpamEngine::Classify(const std::string& dat_path, const std::string& header, const std::string& body) {
  return Score(dat_path, header, body).is_spam;
}

BuiltinSpamEngine::Judgement BuiltinSpamEngine::Judge(ModelStore* store, const engine::MessageFeatures& features) {
  Judgement judgement;
  if (store == nullptr) return judgement;
  const std::vector<TokenCounts> counts = store->Lookup(features.ids);
  judgement.learned = store->Counts();
  const TokenCounts messages = MessagesOf(judgement.learned);
  judgement.spamminess = engine::ChiSquareIndicator(counts, messages, options_.chi_square);
  if (options_.auto_learn.enabled) {
    // The header's tokens are a sorted subset of all: walk both together.
    std::vector<TokenCounts> header, body;
    size_t h = 0;
    for (size_t i = 0; i < features.ids.size(); ++i) {
      const bool in_header = h < features.header_ids.size() && features.header_ids[h] == features.ids[i];
      if (in_header) ++h;
      (in_header ? header : body).push_back(counts[i]);
    }
    judgement.header_only = engine::ChiSquareIndicator(header, messages, options_.chi_square);
    judgement.body_only = engine::ChiSquareIndicator(body, messages, options_.chi_square);
  }
  return judgement;
}

bool BuiltinSpamEngine::WouldLearn(const Judgement& judgement, bool* as_spam) const {
  const AutoLearnOptions& auto_learn = options_.auto_learn;
  if (!auto_learn.enabled || std::min(judgement.learned.ham, judgement.learned.spam) < auto_learn.min_learned) {
    return false;
  }
  // A verdict is only ever learned as what it said.
  if (judgement.spamminess > std::max(auto_learn.spam_above, Threshold())) {
    *as_spam = true;
    return true;
  }
  if (auto_learn.max_ham_per_spam > 0 &&
      judgement.learned.ham >= auto_learn.max_ham_per_spam * judgement.learned.spam) {
    return false;
  }
  if (judgement.spamminess < std::min(auto_learn.ham_below, Threshold()) &&
      judgement.header_only < auto_learn.part_ham_below && judgement.body_only < auto_learn.part_ham_below) {
    *as_spam = false;
    return true;
  }
  return false;
}

SpamScore BuiltinSpamEngine::Score(const std::string& dat_path, const std::string& header, const std::string& body) {
  ModelCache::Lease store = options_.cache->Acquire(dat_path, ModelStore::Mode::kCreate);
  if (ContainsGtube(header) || ContainsGtube(body)) {
    store.Keep();
    return SpamScore{1.0, true};
  }
  const engine::MessageFeatures features = engine::Features(header, body, options_.tokenizer);
  store->BeginRead();
  const Judgement judgement = Judge(store.get(), features);
  store->Commit();
  SpamScore score{judgement.spamminess, judgement.spamminess > Threshold()};
  bool as_spam = false;
  if (WouldLearn(judgement, &as_spam)) {
    score.learned = LearnWith(store.get(), features, engine::DigestMessage(header, body), as_spam, true) !=
                    LearnResult::kAlreadyKnown;
  }
  store.Keep();
  return score;
}

SpamScore BuiltinSpamEngine::Peek(const std::string& dat_path, const std::string& header, const std::string& body) {
  ModelCache::Lease store = options_.cache->Acquire(dat_path, ModelStore::Mode::kExistingOnly);
  if (ContainsGtube(header) || ContainsGtube(body)) {
    store.Keep();
    return SpamScore{1.0, true};
  }
  if (!store) return SpamScore{};
  const engine::MessageFeatures features = engine::Features(header, body, options_.tokenizer);
  store->BeginRead();
  const Judgement judgement = Judge(store.get(), features);
  store->Commit();
  store.Keep();
  return SpamScore{judgement.spamminess, judgement.spamminess > Threshold()};
}

BuiltinSpamEngine::LearnResult BuiltinSpamEngine::LearnWith(ModelStore* store,
                                                            const engine::MessageFeatures& features,
                                                            const engine::MessageDigest& digest, bool is_spam,
                                                            bool automatic) {
  store->BeginWrite();
  const std::optional<engine::LearnedMessage> before = store->FindMessage(digest);
  // The engine's own verdict never overrides what it was taught.
  if (before && (before->is_spam == is_spam || automatic)) {
    // Taught now what it had guessed: a later guess must not move it.
    if (!automatic && before->automatic) store->PutMessage(digest, {is_spam, false});
    store->Commit();
    return LearnResult::kAlreadyKnown;
  }
  SpamCounts counts = store->Counts();
  if (before) {
    store->Update(features.ids, DeltaFor(-1, before->is_spam));
    --CountOf(counts, before->is_spam);
  }
  store->Update(features.ids, DeltaFor(1, is_spam));
  ++CountOf(counts, is_spam);
  store->PutMessage(digest, {is_spam, automatic});
  store->SetCounts(counts);
  store->Commit();
  return before ? LearnResult::kMoved : LearnResult::kLearned;
}

BuiltinSpamEngine::LearnResult BuiltinSpamEngine::LearnMessage(const std::string& dat_path, const std::string& header,
                                                               const std::string& body, bool is_spam) {
  const engine::MessageFeatures features = engine::Features(header, body, options_.tokenizer);
  ModelCache::Lease store = options_.cache->Acquire(dat_path, ModelStore::Mode::kCreate);
  const LearnResult result = LearnWith(store.get(), features, engine::DigestMessage(header, body), is_spam, false);
  store.Keep();
  return result;
}

void BuiltinSpamEngine::Learn(const std::string& dat_path, const std::string& header, const std::string& body,
                              bool is_spam) {
  LearnMessage(dat_path, header, body, is_spam);
}

void BuiltinSpamEngine::Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
                                bool is_spam) {
  LearnMessage(dat_path, header, body, is_spam);
}

double BuiltinSpamEngine::Threshold() const {
  return options_.auto_learn.enabled ? options_.auto_learn.threshold : options_.threshold;
}

SpamCounts BuiltinSpamEngine::GetCounts(const std::string& dat_path) {
  ModelCache::Lease store = options_.cache->Acquire(dat_path, ModelStore::Mode::kExistingOnly);
  if (!store) return {};
  store->BeginRead();
  const SpamCounts counts = store->Counts();
  store->Commit();
  store.Keep();
  return counts;
}

}  // namespace varnolt
