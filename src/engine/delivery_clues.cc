#include "engine/delivery_clues.h"

#include <algorithm>
#include <cmath>

#include "engine/key_record.h"
#include "engine/linear_fit.h"

namespace varnolt::engine {
namespace {

// The count entries of largest |value - middle|, largest first.
template <typename Id>
void KeepStrongest(std::vector<std::pair<Id, double>>& entries, double middle, size_t count) {
  auto stronger = [middle](const auto& a, const auto& b) {
    return std::abs(a.second - middle) > std::abs(b.second - middle);
  };
  if (entries.size() > count) {
    std::partial_sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(count), entries.end(), stronger);
    entries.resize(count);
  } else {
    std::sort(entries.begin(), entries.end(), stronger);
  }
}

// The key's weight in a fit; 0 where it has none.
double WeightOf(const LinearFit* fit, uint32_t key) {
  if (fit == nullptr) return 0;
  const auto found = std::lower_bound(fit->weights.begin(), fit->weights.end(), key,
                                      [](const auto& entry, uint32_t k) { return entry.first < k; });
  return found != fit->weights.end() && found->first == key ? found->second : 0;
}

}  // namespace

std::vector<std::pair<uint64_t, double>> StrongestTokens(const std::vector<uint64_t>& ids,
                                                         const std::vector<TokenCounts>& counts,
                                                         const TokenCounts& messages, const ChiSquareParams& params,
                                                         size_t count) {
  std::vector<std::pair<uint64_t, double>> tokens;
  for (size_t i = 0; i < ids.size() && i < counts.size(); ++i) {
    const double f = TokenSpamProbability(counts[i], messages, params);
    if (std::abs(f - 0.5) >= params.min_deviation) tokens.emplace_back(ids[i], f);
  }
  KeepStrongest(tokens, 0.5, count);
  return tokens;
}

std::vector<std::pair<uint32_t, double>> StrongestKeys(const LinearFit* user, const LinearFit* domain,
                                                       const std::vector<uint32_t>& keys, size_t count) {
  if (keys.empty() || (user == nullptr && domain == nullptr)) return {};
  // Which fits score the message, as LinearScore takes them.
  const LinearFit* first = user != nullptr ? user : domain;
  const LinearFit* second = user != nullptr && user->residual ? domain : nullptr;
  const double scale = 1 / std::sqrt(static_cast<double>(keys.size()));
  std::vector<std::pair<uint32_t, double>> strong;
  for (uint32_t key : keys) {
    const double weight = WeightOf(first, key) + WeightOf(second, key);
    if (weight != 0) strong.emplace_back(key, weight * scale);
  }
  KeepStrongest(strong, 0, count);
  return strong;
}

std::vector<ScoreClue> NameClues(const StrongIds& strong, const std::vector<uint64_t>& ids, std::string_view header,
                                 std::string_view body, const TokenizerOptions& options) {
  if (strong.empty()) return {};
  // The clues' tokens, and every token of the message on a strong key.
  std::vector<uint64_t> wanted;
  for (const auto& [id, f] : strong.tokens) wanted.push_back(id);
  for (uint64_t id : ids) {
    const uint32_t key = LinearKeyOf(id);
    for (const auto& [strong_key, contribution] : strong.keys) {
      if (strong_key == key) wanted.push_back(id);
    }
  }
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  const std::vector<std::pair<uint64_t, std::string>> named = TokenTexts(header, body, options, wanted);
  std::vector<ScoreClue> clues;
  for (const auto& [id, f] : strong.tokens) {
    for (const auto& [named_id, text] : named) {
      if (named_id == id) {
        clues.push_back({ClueSource::kCounts, text, f});
        break;
      }
    }
  }
  for (const auto& [key, contribution] : strong.keys) {
    ScoreClue clue{ClueSource::kLinear, "", contribution};
    for (const auto& [id, text] : named) {
      if (LinearKeyOf(id) != key) continue;
      if (!clue.token.empty()) clue.token += ", ";
      clue.token += text;
    }
    if (clue.token.empty()) clue.token = "#" + std::to_string(key);
    clues.push_back(std::move(clue));
  }
  return clues;
}

}  // namespace varnolt::engine
