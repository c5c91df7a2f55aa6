#include "dashboard/password_hash.h"

#include <crypt.h>

#include <memory>

#include "dashboard/dashboard_login.h"
#include "hosting/command_error.h"

namespace varnolt::dashboard {

std::string HashPassword(const std::string& password) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  // Count 0: libcrypt's default cost; no random bytes given: it reads the kernel's.
  if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting)) {
    throw hosting::CommandError("libcrypt cannot make a yescrypt salt (is libcrypt 4.1 or later installed?)");
  }
  auto data = std::make_unique<crypt_data>();
  const char* hash = crypt_r(password.c_str(), setting, data.get());
  if (!hash || hash[0] == '*') throw hosting::CommandError("libcrypt cannot hash the password with yescrypt");
  return hash;
}

bool PasswordMatchesHash(const std::string& password, const std::string& hash) {
  if (hash.empty() || hash[0] != '$') return false;
  auto data = std::make_unique<crypt_data>();  // 32 KB: not on the server thread's stack
  const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
  // A setting libcrypt refuses gives a text starting with '*', never the hash itself.
  return computed && computed[0] != '*' && ConstantTimeEquals(computed, hash);
}

bool IsStrongPasswordHash(const std::string& hash) {
  if (hash.rfind("$y$", 0) != 0 && hash.rfind("$gy$", 0) != 0 && hash.rfind("$7$", 0) != 0 &&
      hash.rfind("$2b$", 0) != 0 && hash.rfind("$6$", 0) != 0) {
    return false;
  }
  if (crypt_checksalt(hash.c_str()) != CRYPT_SALT_OK) return false;
  // libcrypt checks the setting only: a hash cut short would lock everybody
  // out. Hashing anything with it must give a text of its form.
  auto data = std::make_unique<crypt_data>();
  const char* probe = crypt_r("probe", hash.c_str(), data.get());
  const size_t setting_end = hash.rfind('$');
  return probe && probe[0] != '*' && std::string(probe).size() == hash.size() &&
         std::string(probe).compare(0, setting_end, hash, 0, setting_end) == 0;
}

}  // namespace varnolt::dashboard
