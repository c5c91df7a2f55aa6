// The six settings the filter reads from HKEY_LOCAL_MACHINE\Software\Varnolt:
// their names, what the filter makes of them, and the values a new home starts with.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "backends/registry/value_text.h"

namespace varnolt::cli {

struct KnownSetting {
  const char* name;
  bool is_number;  // read as a 32-bit integer (on when not 0); otherwise as text
  RegValue default_value;
};

// In the order `config list` shows them after `init`.
const std::vector<KnownSetting>& KnownSettings();

// The setting of that name, letter case ignored (as the registry compares names).
const KnownSetting* FindKnownSetting(const std::string& name);

// The known name nearest to a mistyped one (fewest letter edits, case
// ignored); nullopt when none is close enough to be a likely typo.
std::optional<std::string> NearestKnownSetting(const std::string& name);

// Why the filter could not use this value for the setting ("" when it can): a
// number setting takes a 32-bit integer, or text that reads as one.
std::string UnusableValueReason(const KnownSetting& setting, const RegValue& value);

}  // namespace varnolt::cli
