// The process-wide settings cache: one shared property per setting in the
// group "SPGVarnolt", loaded from the registry the first time a setting is
// asked for in the process.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/reporter.h"
#include "platform/platform.h"

namespace varnolt {

inline constexpr const char* kSettingsGroup = "SPGVarnolt";

// The body of GetSharedProp. The first call for a setting reads it from the
// registry (logging "Loading <name>(<value>) from registry." through the reporter when
// debug_level is not 0) and stores it unless it is missing, 0 or empty text;
// it answers the value, or the 16-bit number 0 for one not stored. Later calls
// answer the stored value, or the empty value when nothing was stored. Any
// failure is reported through the reporter ("Get Settings for <name> failed: ")
// and the result as it stood is answered. Never throws.
Variant GetSharedSetting(Reporter& reporter, Platform& platform, int32_t debug_level, const std::string& name);

}  // namespace varnolt
