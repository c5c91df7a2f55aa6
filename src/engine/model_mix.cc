#include "engine/model_mix.h"

#include <algorithm>
#include <limits>

namespace varnolt::engine {
namespace {

uint32_t Weighted(uint64_t user, uint64_t domain, uint32_t user_weight) {
  const uint64_t sum = user * user_weight + domain;
  return static_cast<uint32_t>(std::min<uint64_t>(sum, std::numeric_limits<uint32_t>::max()));
}

uint32_t NonNegative(int32_t count) { return static_cast<uint32_t>(std::max(count, 0)); }

}  // namespace

std::vector<TokenCounts> MergeTokenCounts(const std::vector<TokenCounts>& user,
                                          const std::vector<TokenCounts>& domain, uint32_t user_weight) {
  std::vector<TokenCounts> merged(user.size());
  for (size_t i = 0; i < user.size(); ++i) {
    const TokenCounts shared = i < domain.size() ? domain[i] : TokenCounts{};
    merged[i] = {Weighted(user[i].ham, shared.ham, user_weight), Weighted(user[i].spam, shared.spam, user_weight)};
  }
  return merged;
}

TokenCounts MergeMessageCounts(const SpamCounts& user, const SpamCounts& domain, uint32_t user_weight) {
  return {Weighted(NonNegative(user.ham), NonNegative(domain.ham), user_weight),
          Weighted(NonNegative(user.spam), NonNegative(domain.spam), user_weight)};
}

SpamCounts EvidenceOf(const SpamCounts& user, const SpamCounts& domain) {
  return {std::max(user.ham, 0) + std::max(domain.ham, 0), std::max(user.spam, 0) + std::max(domain.spam, 0)};
}

}  // namespace varnolt::engine
