// The texts of `config list` and `config describe`: the stored settings
// beside what each of the six means.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "backends/registry/value_text.h"

namespace varnolt::cli {

// The six settings in the filter's order (unset ones too), then any other
// value of the key. Text: aligned columns NAME TYPE VALUE DEFAULT ALLOWED
// MEANING, text values in quotes; JSON: an array of {name, type, value,
// default, allowed, meaning} (value a number for dword, a string for sz,
// null when unset).
std::string SettingsListing(const std::vector<NamedValue>& stored, bool json);

// The full explanation of one setting with its current value (nullopt:
// unset). Throws CommandError for a name that is none of the six.
std::string SettingExplanation(const std::string& name, const std::optional<RegValue>& value);

}  // namespace varnolt::cli
