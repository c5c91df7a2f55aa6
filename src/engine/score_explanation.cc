#include "engine/score_explanation.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/chi_square.h"
#include "engine/feature_hash.h"
#include "engine/model_cache.h"
#include "engine/tokenizer.h"

namespace varnolt::engine {

ScoreExplanation ExplainScore(const EngineOptions& options, const std::string& dat_path, const std::string& header,
                              const std::string& body, size_t max_clues) {
  BuiltinSpamEngine engine(options);
  ScoreExplanation explanation;
  const SpamScore score = engine.Peek(dat_path, header, body);
  explanation.spamminess = score.spamminess;
  explanation.is_spam = score.is_spam;
  explanation.threshold = engine.Threshold();
  explanation.gtube = ContainsGtube(header) || ContainsGtube(body);

  // Each distinct token's text by its id, as the model keys it.
  std::map<uint64_t, std::string> texts;
  for (std::string& token : Tokenize(header, body, options.tokenizer)) texts.emplace(TokenId(token), std::move(token));
  explanation.tokens = texts.size();
  std::vector<uint64_t> ids;
  ids.reserve(texts.size());
  for (const auto& [id, text] : texts) ids.push_back(id);

  std::shared_ptr<ModelCache> cache = options.cache ? options.cache : ModelCache::Shared();
  ModelCache::Lease store = cache->Acquire(dat_path, ModelStore::Mode::kExistingOnly);
  if (!store) return explanation;
  store->BeginRead();
  const std::vector<TokenCounts> counts = store->Lookup(ids);
  explanation.learned = store->Counts();
  store->Commit();
  store.Keep();

  const TokenCounts messages{static_cast<uint32_t>(std::max(explanation.learned.ham, 0)),
                             static_cast<uint32_t>(std::max(explanation.learned.spam, 0))};
  std::vector<Clue> clues;
  for (size_t i = 0; i < ids.size(); ++i) {
    const double f = TokenSpamProbability(counts[i], messages, options.chi_square);
    if (std::abs(f - 0.5) < options.chi_square.min_deviation) continue;
    clues.push_back({texts[ids[i]], f, counts[i].ham, counts[i].spam, "user"});
  }
  explanation.clue_count = std::min(clues.size(), options.chi_square.max_clues);
  std::stable_sort(clues.begin(), clues.end(), [](const Clue& a, const Clue& b) { return a.Weight() > b.Weight(); });
  clues.resize(std::min({clues.size(), max_clues, options.chi_square.max_clues}));
  explanation.clues = std::move(clues);
  return explanation;
}

}  // namespace varnolt::engine
