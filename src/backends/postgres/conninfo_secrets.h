// A libpq connection string may hold a password, and libpq quotes pieces of
// a string it cannot read in its complaints ("missing "=" after "Word-77""
// for a password with a blank, a whole URI with a bad percent escape). These
// keep the password out of every message that reaches a log or a terminal.
#pragma once

#include <string>

namespace varnolt::postgres {

// True when the string names a password, or cannot be read (and so may hide one).
bool HoldsPassword(const std::string& conninfo);

// Why libpq cannot read the string, with every piece of it that libpq quoted
// replaced by "***"; "" when the string is well formed.
std::string MalformedConnectionString(const std::string& conninfo);

// The message with every occurrence of the string's password replaced by "***".
std::string WithoutPassword(std::string message, const std::string& conninfo);

}  // namespace varnolt::postgres
