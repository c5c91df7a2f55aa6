#include "engine/builtin_spam_engine.h"

#include <string_view>

#include "engine/feature_hash.h"
#include "engine/model_store.h"

namespace varnolt {
namespace {

using engine::ModelStore;

constexpr std::string_view kGtube = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

double MessageScore(ModelStore& store, const std::vector<uint64_t>& ids, const engine::ModelParams& params) {
  return store.WeightSum(ids) * engine::FeatureValue(ids.size(), params);
}

int32_t& CountOf(SpamCounts& counts, bool is_spam) { return is_spam ? counts.spam : counts.ham; }

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
  double score = 0;
  if (store != nullptr) {
    const std::vector<uint64_t> ids = engine::FeatureIds(header, body, options_.tokenizer);
    score = MessageScore(*store, ids, options_.model);
    store->Commit();
  }
  const double spamminess = engine::Spamminess(score);
  return SpamScore{spamminess, spamminess > options_.model.threshold};
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
  if (before) {
    if (before->step != 0) store->AddToWeights(ids, -before->step * value);
    --CountOf(counts, before->is_spam);
  }
  const double score = MessageScore(*store, ids, options_.model);
  const double step = engine::TrainingStep(score, is_spam, ids.size(), options_.model);
  if (step != 0) store->AddToWeights(ids, step * value);
  store->PutMessage(digest, {is_spam, step});
  ++CountOf(counts, is_spam);
  store->SetCounts(counts);
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
