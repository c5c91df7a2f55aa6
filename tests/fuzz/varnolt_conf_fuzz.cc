// varnolt.conf as an administrator may have edited it.
#include <string>

#include "fuzz/fuzz_support.h"
#include "hosting/home_config.h"
#include "varnolt/cli_errors.h"

using namespace varnolt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& home = fuzz::ScratchFolder();
  fuzz::WriteScratchFile(home + "/" + hosting::kConfigFileName, fuzz::AsText(data, size));
  try {
    const hosting::HomeConfig config = hosting::LoadHomeConfig(home);
    // Every path the home names is absolute, whatever the file wrote.
    for (const std::string& path : {config.home, config.store_path, config.registry_path}) {
      if (path.empty() || path.front() != '/') __builtin_trap();
    }
    // Other targets are judged where the event log is made.
    if (config.event_log_target.rfind("file:", 0) == 0 && config.event_log_target.rfind("file:/", 0) != 0) {
      __builtin_trap();
    }
  } catch (const hosting::CommandError&) {
  }
  return 0;
}
