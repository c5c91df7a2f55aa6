// The strongest clues of a verdict, found while the engine judges it, so that
// the verdict can carry them to the journal: the engine's answer as it was,
// not as a later explanation against changed models would give it. Chosen
// by id while judging (a few comparisons per token); only the few chosen are
// named, by one more pass over the message's tokens.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/chi_square.h"
#include "engine/tokenizer.h"
#include "platform/names/score_clue.h"

namespace varnolt::engine {

struct LinearFit;

struct StrongIds {
  std::vector<std::pair<uint64_t, double>> tokens;  // token id, its spam probability
  std::vector<std::pair<uint32_t, double>> keys;    // linear key, what it adds to the log-odds
  bool empty() const { return tokens.empty() && keys.empty(); }
};

// The at most count tokens farthest from 0.5 (those within min_deviation are no clues).
std::vector<std::pair<uint64_t, double>> StrongestTokens(const std::vector<uint64_t>& ids,
                                                         const std::vector<TokenCounts>& counts,
                                                         const TokenCounts& messages, const ChiSquareParams& params,
                                                         size_t count);
// The at most count keys of the message (ascending) that add most to the
// fits' log-odds either way, as LinearScore mixes the user's and the domain's.
std::vector<std::pair<uint32_t, double>> StrongestKeys(const LinearFit* user, const LinearFit* domain,
                                                       const std::vector<uint32_t>& keys, size_t count);
// The clues with their tokens' texts (ids: the message's, sorted), counting
// part first, strongest first.
std::vector<ScoreClue> NameClues(const StrongIds& strong, const std::vector<uint64_t>& ids, std::string_view header,
                                 std::string_view body, const TokenizerOptions& options);

}  // namespace varnolt::engine
