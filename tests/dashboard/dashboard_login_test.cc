#include "dashboard/dashboard_login.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dashboard/password_hash.h"

namespace varnolt::dashboard {
namespace {

std::string Basic(const std::string& credentials) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < credentials.size(); i += 3) {
    const size_t left = credentials.size() - i;
    uint32_t chunk = static_cast<uint32_t>(static_cast<unsigned char>(credentials[i])) << 16;
    if (left > 1) chunk |= static_cast<uint32_t>(static_cast<unsigned char>(credentials[i + 1])) << 8;
    if (left > 2) chunk |= static_cast<unsigned char>(credentials[i + 2]);
    out += kAlphabet[(chunk >> 18) & 63];
    out += kAlphabet[(chunk >> 12) & 63];
    out += left > 1 ? kAlphabet[(chunk >> 6) & 63] : '=';
    out += left > 2 ? kAlphabet[chunk & 63] : '=';
  }
  return "Basic " + out;
}

TEST(DashboardLoginTest, BasicCredentialsAreReadWhateverTheUserName) {
  EXPECT_EQ("s3cret", BasicAuthPassword(Basic("admin:s3cret")));
  EXPECT_EQ("with:colon", BasicAuthPassword(Basic(":with:colon")));
  EXPECT_EQ("", BasicAuthPassword(Basic("admin:")));
  for (const char* malformed : {"", "Basic", "Basic ", "Bearer abc", "Basic !!!", "Basic YWRtaW4="}) {
    SCOPED_TRACE(malformed);
    EXPECT_FALSE(BasicAuthPassword(malformed).has_value());
  }
}

TEST(DashboardLoginTest, TheUserNameNamesWhoActed) {
  EXPECT_EQ("helpdesk", BasicAuthUser(Basic("helpdesk:s3cret")));
  EXPECT_EQ("", BasicAuthUser(Basic(":s3cret")));
  EXPECT_EQ("", BasicAuthUser("Bearer abc"));
}

TEST(DashboardLoginTest, AtMostTenFailuresInAnySecondPerAddress) {
  LoginThrottle throttle;
  int failed_at_once = 0;
  while (throttle.Allows("192.0.2.7", 100.0)) {
    throttle.Failed("192.0.2.7", 100.0);
    ++failed_at_once;
  }
  EXPECT_EQ(10, failed_at_once);
  EXPECT_TRUE(throttle.Allows("192.0.2.8", 100.0));  // another address has its own budget
  EXPECT_FALSE(throttle.Allows("192.0.2.7", 100.9));
  EXPECT_TRUE(throttle.Allows("192.0.2.7", 100.01 + 1));
  // Guessing as fast as it may for ten seconds: never more than ten in a second.
  std::vector<double> checked;
  for (double t = 102; t < 112; t += 0.001) {
    if (throttle.Allows("192.0.2.7", t)) {
      throttle.Failed("192.0.2.7", t);
      checked.push_back(t);
    }
  }
  EXPECT_GE(checked.size(), 95u);
  for (size_t i = 10; i < checked.size(); ++i) EXPECT_GT(checked[i] - checked[i - 10], 1.0);
}

TEST(DashboardLoginTest, PlainPasswordAndHashAreCheckedAndFailuresLogged) {
  const std::string hash = HashPassword("right horse");
  EXPECT_EQ(0u, hash.rfind("$y$", 0));
  EXPECT_NE(hash, HashPassword("right horse"));  // a fresh salt each time
  struct Case {
    std::string password, password_hash, authorization;
    LoginResult expected;
  } cases[] = {
      {"", "", "", LoginResult::kAccepted},
      {"", "", Basic("a:anything"), LoginResult::kAccepted},
      {"s3cret", "", "", LoginResult::kMissing},
      {"s3cret", "", Basic("a:s3cret"), LoginResult::kAccepted},
      {"s3cret", "", Basic("a:s3cre"), LoginResult::kRefused},
      {"s3cret", "", Basic("a:s3cret!"), LoginResult::kRefused},
      {"s3cret", "", "Bearer s3cret", LoginResult::kRefused},
      {"", hash, Basic("a:right horse"), LoginResult::kAccepted},
      {"", hash, Basic("a:right hors"), LoginResult::kRefused},
      {"", hash, Basic("a:" + hash), LoginResult::kRefused},  // the hash is no password
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password + "|" + c.authorization);
    std::vector<std::string> logged;
    DashboardLogin login(c.password, c.password_hash, [&](const std::string& line) { logged.push_back(line); });
    EXPECT_EQ(c.expected, login.Check(c.authorization, "192.0.2.7", "192.0.2.7", 1.0));
    EXPECT_EQ(c.expected == LoginResult::kRefused ? 1u : 0u, logged.size());
    if (!logged.empty()) {
      EXPECT_THAT(logged[0], testing::HasSubstr("failed login from 192.0.2.7"));
    }
  }
}

TEST(DashboardLoginTest, AThrottledAddressIsNotCheckedEvenWithTheRightPassword) {
  std::vector<std::string> logged;
  DashboardLogin login("s3cret", "", [&](const std::string& line) { logged.push_back(line); });
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(LoginResult::kRefused, login.Check(Basic("a:guess"), "192.0.2.7", "192.0.2.7", 5.0));
  }
  EXPECT_EQ(LoginResult::kThrottled, login.Check(Basic("a:s3cret"), "192.0.2.7", "192.0.2.7", 5.0));
  EXPECT_EQ(LoginResult::kAccepted, login.Check(Basic("a:s3cret"), "192.0.2.9", "192.0.2.9", 5.0));
  EXPECT_EQ(LoginResult::kAccepted, login.Check(Basic("a:s3cret"), "192.0.2.7", "192.0.2.7", 6.1));
  ASSERT_EQ(10u, logged.size());
  EXPECT_THAT(logged.back(), testing::HasSubstr("refused unchecked"));
}

TEST(PasswordHashTest, OnlyStrongHashesAreAccepted) {
  EXPECT_TRUE(IsStrongPasswordHash(HashPassword("x")));
  for (const char* weak : {"", "s3cret", "$1$abcdefgh$0123456789012345678901", "ab01234567890", "$y$",
                           "$y$j9T$truncated"}) {
    SCOPED_TRACE(weak);
    EXPECT_FALSE(IsStrongPasswordHash(weak));
    EXPECT_FALSE(PasswordMatchesHash("s3cret", weak));
  }
}

}  // namespace
}  // namespace varnolt::dashboard
