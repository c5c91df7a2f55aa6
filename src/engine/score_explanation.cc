#include "engine/score_explanation.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/chi_square.h"
#include "engine/feature_hash.h"
#include "engine/file_model_backend.h"
#include "engine/key_record.h"
#include "engine/linear_fit.h"
#include "engine/model_mix.h"
#include "engine/thin_model.h"
#include "engine/tokenizer.h"
#include "platform/names/data_layout.h"

namespace varnolt::engine {

namespace {

// The fit's part of the score, as the engine computes it, with the keys that weigh most.
// The one fit that scores as the user's and the domain's together: a residual
// user fit adds its weights to the domain fit's; any other stands alone.
LinearFit EffectiveFit(const LinearFit* user, const LinearFit* domain) {
  if (user == nullptr) return *domain;
  if (!user->residual || domain == nullptr) return *user;
  LinearFit sum = *domain;
  sum.bias += user->bias;
  std::vector<std::pair<uint32_t, float>> weights;
  weights.reserve(domain->weights.size() + user->weights.size());
  auto d = domain->weights.begin(), u = user->weights.begin();
  while (d != domain->weights.end() || u != user->weights.end()) {
    if (u == user->weights.end() || (d != domain->weights.end() && d->first < u->first)) {
      weights.push_back(*d++);
    } else if (d == domain->weights.end() || u->first < d->first) {
      weights.push_back(*u++);
    } else {
      weights.emplace_back(d->first, d->second + u->second);
      ++d, ++u;
    }
  }
  sum.weights = std::move(weights);
  return sum;
}

void ExplainFit(const LinearFit& fit, const std::string& header, const std::string& body, const EngineOptions& options,
                const std::map<uint64_t, std::string>& texts, size_t max_features, ScoreExplanation& explanation) {
  const std::vector<uint64_t> ids = Features(header, body, options.tokenizer).ids;
  const std::vector<uint32_t> keys = LinearKeys(ids);
  explanation.linear_bias = fit.bias;
  explanation.linear_log_odds = fit.LogOdds(keys);
  explanation.linear_keys = keys.size();
  if (keys.empty()) return;
  const double scale = 1 / std::sqrt(static_cast<double>(keys.size()));
  std::vector<Feature> features;
  auto weight = fit.weights.begin();
  for (uint32_t key : keys) {
    weight = std::lower_bound(weight, fit.weights.end(), key, [](const auto& entry, uint32_t k) { return entry.first < k; });
    if (weight == fit.weights.end()) break;
    if (weight->first == key) features.push_back({key, "", weight->second, weight->second * scale});
  }
  std::stable_sort(features.begin(), features.end(), [](const Feature& a, const Feature& b) {
    return std::abs(a.contribution) > std::abs(b.contribution);
  });
  features.resize(std::min(features.size(), max_features));
  for (Feature& feature : features) {
    for (const auto& [id, text] : texts) {
      if (LinearKeyOf(id) != feature.key) continue;
      if (!feature.tokens.empty()) feature.tokens += ", ";
      feature.tokens += text;
    }
    if (feature.tokens.empty()) feature.tokens = "#" + std::to_string(feature.key);  // a feature of no word's
  }
  explanation.features = std::move(features);
}

}  // namespace

ScoreExplanation ExplainScore(const EngineOptions& options, const std::string& dat_path, const std::string& header,
                              const std::string& body, size_t max_clues) {
  BuiltinSpamEngine engine(options);
  ScoreExplanation explanation;
  const EngineScore score = engine.PeekScore(dat_path, header, body);
  explanation.spamminess = score.spamminess;
  explanation.is_spam = score.is_spam;
  explanation.threshold = engine.Threshold();
  explanation.gtube = ContainsGtube(header) || ContainsGtube(body);
  explanation.rule = score.rule;
  explanation.counts = score.counts;
  explanation.linear = score.linear_part;
  explanation.linear_weight = score.linear_weight;
  explanation.correction = score.correction;

  // Each distinct token's text by its id, as the model keys it.
  std::map<uint64_t, std::string> texts;
  for (std::string& token : Tokenize(header, body, options.tokenizer)) texts.emplace(TokenId(token), std::move(token));
  explanation.tokens = texts.size();
  std::vector<uint64_t> ids;
  ids.reserve(texts.size());
  for (const auto& [id, text] : texts) ids.push_back(id);

  std::shared_ptr<ModelBackend> models =
      options.models ? options.models : std::make_shared<FileModelBackend>(options.cache);
  std::vector<TokenCounts> own(ids.size()), shared;
  ModelLease store = models->Open(dat_path, ModelOpen::kExistingOnly);
  if (store) {
    store->BeginRead();
    own = store->Lookup(ids);
    explanation.learned = store->Counts();
    store->Commit();
    store.Keep();
  }
  // The shared model as the engine finds it: beside the user's, when consulted.
  const std::string domain_path = DomainModelPathBeside(dat_path);
  if (options.consult_domain && !dat_path.empty() && domain_path != dat_path) {
    ModelLease domain = models->Open(domain_path, ModelOpen::kExistingOnly);
    if (domain) {
      domain->BeginRead();
      shared = domain->Lookup(ids);
      explanation.domain_learned = domain->Counts();
      domain->Commit();
      domain.Keep();
      explanation.domain_model = true;
    }
  }
  explanation.user_weight = explanation.domain_model ? options.user_weight : 1;
  const std::vector<TokenCounts> counts =
      explanation.domain_model ? MergeTokenCounts(own, shared, explanation.user_weight) : own;
  const TokenCounts messages =
      MergeMessageCounts(explanation.learned, explanation.domain_learned, explanation.user_weight);
  explanation.thin = !HasEvidence(EvidenceOf(explanation.learned, explanation.domain_learned), options.thin_model);

  std::vector<Clue> clues;
  for (size_t i = 0; i < ids.size(); ++i) {
    const double f = TokenSpamProbability(counts[i], messages, options.chi_square);
    if (std::abs(f - 0.5) < options.chi_square.min_deviation) continue;
    Clue clue{texts[ids[i]], f, own[i].ham, own[i].spam, 0, 0, "user"};
    if (explanation.domain_model) {
      clue.domain_ham = shared[i].ham;
      clue.domain_spam = shared[i].spam;
      const bool in_user = clue.ham + clue.spam > 0, in_domain = clue.domain_ham + clue.domain_spam > 0;
      clue.model = in_user && in_domain ? "user+domain" : in_domain ? "domain" : "user";
    }
    clues.push_back(std::move(clue));
  }
  explanation.clue_count = std::min(clues.size(), options.chi_square.max_clues);
  std::stable_sort(clues.begin(), clues.end(), [](const Clue& a, const Clue& b) { return a.Weight() > b.Weight(); });
  clues.resize(std::min({clues.size(), max_clues, options.chi_square.max_clues}));
  explanation.clues = std::move(clues);
  if ((score.fit || score.domain_fit) && score.linear_part) {
    ExplainFit(EffectiveFit(score.fit.get(), score.domain_fit.get()), header, body, options, texts, max_clues,
               explanation);
  }
  return explanation;
}

}  // namespace varnolt::engine
