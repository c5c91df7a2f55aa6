// What a save event's handling needs from the filter object: the outside
// world, where to report, the data folder and the debug level. The filter
// builds one per event and reads the debug level back afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/reporter.h"
#include "platform/platform.h"

namespace varnolt {

struct TriageEnvironment {
  Platform& platform;
  Reporter& reporter;
  // Ends in "\" once the filter was constructed; empty before.
  std::string data_folder;
  // The filter's DebugLevel; the settings snapshot replaces it for the event.
  int32_t debug_level = 0;
};

}  // namespace varnolt
