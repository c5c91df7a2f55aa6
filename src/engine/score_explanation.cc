#include "engine/score_explanation.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/chi_square.h"
#include "engine/feature_hash.h"
#include "engine/file_model_backend.h"
#include "engine/model_mix.h"
#include "engine/thin_model.h"
#include "engine/tokenizer.h"
#include "platform/names/data_layout.h"

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
  return explanation;
}

}  // namespace varnolt::engine
