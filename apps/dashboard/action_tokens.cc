#include "dashboard/action_tokens.h"

#include <cstdio>
#include <random>

#include "dashboard/dashboard_login.h"

namespace varnolt::dashboard {
namespace {

// Logins differ only by their user name: a few per administrator at most.
constexpr size_t kMaxLogins = 1000;

std::string RandomToken() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", random());
    token += part;
  }
  return token;
}

}  // namespace

std::string ActionTokens::TokenFor(const std::string& authorization) {
  const auto found = tokens_.find(authorization);
  if (found != tokens_.end()) return found->second;
  // Forgetting all is safe: an open page's form then asks for a reload.
  if (tokens_.size() >= kMaxLogins) tokens_.clear();
  return tokens_[authorization] = RandomToken();
}

bool ActionTokens::Valid(const std::string& authorization, const std::string& given) const {
  const auto found = tokens_.find(authorization);
  return found != tokens_.end() && ConstantTimeEquals(given, found->second);
}

}  // namespace varnolt::dashboard
