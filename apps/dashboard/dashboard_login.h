// Who may see the dashboard: with a password (plain, or a hash) every
// request must carry it (HTTP basic authentication, any user name). Failed
// logins are logged and throttled per client address, so that guessing
// costs a guesser at least a tenth of a second a guess.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace varnolt::dashboard {

// Equal texts, in a time that does not depend on where they differ.
bool ConstantTimeEquals(std::string_view given, std::string_view expected);

// The password of a basic Authorization header (any user name); none when the
// header is missing, of another scheme or malformed.
std::optional<std::string> BasicAuthPassword(const std::string& authorization);
// The user name of the same header; "" when none was given or the header is not one.
std::string BasicAuthUser(const std::string& authorization);

// At most kFailuresPerSecond failed logins in any second per client (an
// address, or an IPv6 /64; the times of the last ones are kept, per client).
class LoginThrottle {
 public:
  static constexpr int kFailuresPerSecond = 10;

  // Whether a login from the address may be checked at the time (seconds).
  bool Allows(const std::string& address, double now);
  // Counts a failed login. True when the address has now used its budget
  // (the moment worth a log line).
  bool Failed(const std::string& address, double now);

 private:
  // The address's failures of the last second, oldest first.
  std::deque<double>& Recent(const std::string& address, double now);

  std::unordered_map<std::string, std::deque<double>> failures_;
};

enum class LoginResult {
  kAccepted,
  kMissing,    // no credentials: the browser asks the user
  kRefused,    // wrong credentials, counted and logged
  kThrottled,  // not even checked: the address failed too often just now
};

class DashboardLogin {
 public:
  // Both empty: no login. log: where failed logins are reported.
  DashboardLogin(std::string password, std::string password_hash, std::function<void(const std::string&)> log);

  bool Required() const { return !password_.empty() || !password_hash_.empty(); }
  // client: what the throttle counts (an address, or an IPv6 /64);
  // address: the client's own address, for the log.
  LoginResult Check(const std::string& authorization, const std::string& client, const std::string& address,
                    double now);

 private:
  bool Matches(const std::string& password);

  std::string password_;
  std::string password_hash_;
  std::function<void(const std::string&)> log_;
  LoginThrottle throttle_;
  // Passwords that matched the hash lately: a hash costs tens of
  // milliseconds to check, and a browser sends the password every request.
  std::vector<std::string> recently_matched_;
};

}  // namespace varnolt::dashboard
