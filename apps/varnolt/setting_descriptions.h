// What each of the filter's six settings does, for `config list` and
// `config describe`: the words an administrator needs before changing one.
#pragma once

#include <string>
#include <vector>

namespace varnolt::cli {

// Type and default come with the setting itself (known_settings.h).
struct SettingDescription {
  const char* name;     // as the filter reads it
  const char* allowed;  // the values that mean something, in a few words
  const char* summary;  // one line
  const char* details;  // paragraphs, "\n" separated
};

// The six settings in the order the filter reads them.
const std::vector<SettingDescription>& SettingDescriptions();

// The setting with that name, letter case ignored as the registry does; null when none.
const SettingDescription* FindSettingDescription(const std::string& name);

}  // namespace varnolt::cli
