#include "engine/builtin_spam_engine.h"

#include <cmath>
#include <string_view>

#include "engine/feature_hash.h"
#include "engine/model_store.h"

namespace varnolt {
namespace {

using engine::ModelStore;

constexpr std::string_view kGtube = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

int32_t& CountOf(SpamCounts& counts, bool is_spam) { return is_spam ? counts.spam : counts.ham; }
uint32_t& CountOf(engine::TokenCounts& counts, bool is_spam) { return is_spam ? counts.spam : counts.ham; }

// What learning (sign 1) or unlearning (sign -1) a message does to each of
// its tokens.
engine::TokenDelta DeltaFor(int sign, bool is_spam, double step, double feature_value, bool counted) {
  engine::TokenDelta delta;
  delta.weight = sign * std::llround(step * feature_value * engine::kWeightScale);
  if (counted) (is_spam ? delta.spam : delta.ham) = sign;
  return delta;
}

}  // namespace

bool ContainsGtube(const std::string& text) { return text.find(kGtube) != std::string::npos; }

BuiltinSpamEngine::BuiltinSpamEngine(EngineOptions options) : options_(std::move(options)) {}

bool BuiltinSpamEngine::Classify(const std::string& dat_path, const std::string& header, const std::string& body) {
  return Score(dat_path, header, body).is_spam;
}

SpamScore BuiltinSpamEngine::Score(const std::string& dat_path, const std::string& header, const std::string& body) {
  auto store = ModelStore::Open(dat_path, ModelStore::Mode::kCreate);
  return ScoreWith(store.get(), header, body);
}

SpamScore BuiltinSpamEngine::Peek(const std::string& dat_path, const std::string& header, const std::string& body) {
  auto store = ModelStore::Open(dat_path, ModelStore::Mode::kExistingOnly);
  return ScoreWith(store.get(), header, body);
}

SpamScore BuiltinSpamEngine::ScoreWith(ModelStore* store, const std::string& header, const std::string& body) {
  if (ContainsGtube(header) || ContainsGtube(body)) return SpamScore{1.0, true};
  double regression = 0.5, chi_square = 0.5;
  if (store != nullptr) {
    const std::vector<uint64_t> ids = engine::FeatureIds(header, body, options_.tokenizer);
    const engine::TokenEvidence evidence = store->Lookup(ids);
    regression = engine::Spamminess(evidence.weight_sum * engine::FeatureValue(ids.size(), options_.model));
    chi_square = engine::ChiSquareIndicator(evidence.counts, store->CountedMessages(), options_.chi_square);
    store->Commit();
  }
  const double share = options_.chi_square_share;
  const double spamminess = share * chi_square + (1 - share) * regression;
  return SpamScore{spamminess, spamminess > options_.threshold};
}

void BuiltinSpamEngine::Learn(const std::string& dat_path, const std::string& header, const std::string& body,
                              bool is_spam) {
  auto store = ModelStore::Open(dat_path, ModelStore::Mode::kCreate);
  const std::vector<uint64_t> ids = engine::FeatureIds(header, body, options_.tokenizer);
  const engine::MessageDigest digest = engine::DigestMessage(header, body);
  const double value = engine::FeatureValue(ids.size(), options_.model);

  store->BeginWrite();
  const std::optional<engine::LearnedMessage> before = store->FindMessage(digest);
  if (before && before->is_spam == is_spam) {
    store->Commit();
    return;
  }
  SpamCounts counts = store->Counts();
  engine::TokenCounts counted = store->CountedMessages();
  if (before) {
    store->Update(ids, DeltaFor(-1, before->is_spam, before->step, value, before->counted));
    --CountOf(counts, before->is_spam);
    if (before->counted) --CountOf(counted, before->is_spam);
  }
  const double score = store->Lookup(ids).weight_sum * value;
  const double step = engine::TrainingStep(score, is_spam, ids.size(), options_.model);
  store->Update(ids, DeltaFor(1, is_spam, step, value, true));
  store->PutMessage(digest, {is_spam, step, true});
  ++CountOf(counts, is_spam);
  ++CountOf(counted, is_spam);
  store->SetCounts(counts);
  store->SetCountedMessages(counted);
  store->Commit();
}

void BuiltinSpamEngine::Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
                                bool is_spam) {
  Learn(dat_path, header, body, is_spam);
}

SpamCounts BuiltinSpamEngine::GetCounts(const std::string& dat_path) {
  auto store = ModelStore::Open(dat_path, ModelStore::Mode::kExistingOnly);
  if (!store) return {};
  const SpamCounts counts = store->Counts();
  store->Commit();
  return counts;
}

}  // namespace varnolt
