#include "dashboard/dashboard_login.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "dashboard/password_hash.h"

namespace varnolt::dashboard {
namespace {

constexpr size_t kRecentlyMatched = 8;
constexpr size_t kMaxAddresses = 10000;

std::string Base64Decode(std::string_view text) {
  std::string out;
  int bits = 0;
  uint32_t buffer = 0;
  for (unsigned char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=') {
      break;
    } else {
      return "";
    }
    buffer = (buffer << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return out;
}

}  // namespace

bool ConstantTimeEquals(std::string_view given, std::string_view expected) {
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < expected.size(); ++i) {
    const char other = i < given.size() ? given[i] : 0;
    difference |= static_cast<unsigned char>(other ^ expected[i]);
  }
  return difference == 0;
}

namespace {

// "user:password" of a basic Authorization header; none otherwise.
std::optional<std::string> BasicAuthCredentials(const std::string& authorization) {
  constexpr std::string_view kScheme = "Basic ";
  if (authorization.size() <= kScheme.size()) return std::nullopt;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(authorization[i])) !=
        std::tolower(static_cast<unsigned char>(kScheme[i]))) {
      return std::nullopt;
    }
  }
  std::string credentials = Base64Decode(std::string_view(authorization).substr(kScheme.size()));
  if (credentials.find(':') == std::string::npos) return std::nullopt;
  return credentials;
}

}  // namespace

std::optional<std::string> BasicAuthPassword(const std::string& authorization) {
  const std::optional<std::string> credentials = BasicAuthCredentials(authorization);
  if (!credentials) return std::nullopt;
  return credentials->substr(credentials->find(':') + 1);
}

std::string BasicAuthUser(const std::string& authorization) {
  const std::optional<std::string> credentials = BasicAuthCredentials(authorization);
  return credentials ? credentials->substr(0, credentials->find(':')) : "";
}

std::deque<double>& LoginThrottle::Recent(const std::string& address, double now) {
  if (failures_.size() >= kMaxAddresses && failures_.find(address) == failures_.end()) {
    // Addresses without a failure in the last second are as new: forgotten.
    for (auto it = failures_.begin(); it != failures_.end();) {
      it = it->second.empty() || it->second.back() <= now - 1 ? failures_.erase(it) : std::next(it);
    }
  }
  std::deque<double>& recent = failures_[address];
  while (!recent.empty() && recent.front() <= now - 1) recent.pop_front();
  return recent;
}

bool LoginThrottle::Allows(const std::string& address, double now) {
  return Recent(address, now).size() < size_t{kFailuresPerSecond};
}

bool LoginThrottle::Failed(const std::string& address, double now) {
  std::deque<double>& recent = Recent(address, now);
  recent.push_back(now);
  return recent.size() >= size_t{kFailuresPerSecond};
}

DashboardLogin::DashboardLogin(std::string password, std::string password_hash,
                               std::function<void(const std::string&)> log)
    : password_(std::move(password)), password_hash_(std::move(password_hash)), log_(std::move(log)) {}

bool DashboardLogin::Matches(const std::string& password) {
  if (password_hash_.empty()) return ConstantTimeEquals(password, password_);
  for (const std::string& known : recently_matched_) {
    if (ConstantTimeEquals(password, known)) return true;
  }
  if (!PasswordMatchesHash(password, password_hash_)) return false;
  if (recently_matched_.size() >= kRecentlyMatched) recently_matched_.erase(recently_matched_.begin());
  recently_matched_.push_back(password);
  return true;
}

LoginResult DashboardLogin::Check(const std::string& authorization, const std::string& client,
                                  const std::string& address, double now) {
  if (!Required()) return LoginResult::kAccepted;
  if (authorization.empty()) return LoginResult::kMissing;
  if (!throttle_.Allows(client, now)) return LoginResult::kThrottled;
  const std::optional<std::string> password = BasicAuthPassword(authorization);
  if (password && Matches(*password)) return LoginResult::kAccepted;
  const bool budget_used = throttle_.Failed(client, now);
  if (log_) {
    log_("failed login from " + address +
         (budget_used ? "; further logins from there are refused unchecked while it tries more than 10 a second"
                      : ""));
  }
  return LoginResult::kRefused;
}

}  // namespace varnolt::dashboard
