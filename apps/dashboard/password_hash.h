// The dashboard's password as a hash in varnolt.conf ([serve] password_hash):
// yescrypt through libcrypt, the hash /etc/shadow uses, so that a copy of the
// file does not give the password away.
#pragma once

#include <string>

namespace varnolt::dashboard {

// A new yescrypt hash of the password ("$y$..."), with a fresh random salt.
// Throws CommandError when libcrypt cannot make one.
std::string HashPassword(const std::string& password);

// True when the password gives the hash. False for a wrong password and for
// a text that is no hash libcrypt knows (say, a truncated line).
bool PasswordMatchesHash(const std::string& password, const std::string& hash);

// Whether the text is a hash libcrypt can check, and a strong one (not DES
// or MD5): what `serve` accepts in [serve] password_hash.
bool IsStrongPasswordHash(const std::string& hash);

}  // namespace varnolt::dashboard
