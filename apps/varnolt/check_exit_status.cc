#include "varnolt/check_exit_status.h"

#include <cstdio>

#include "engine/builtin_spam_engine.h"

namespace varnolt::cli {

std::string CheckExitStatusHelp() {
  return "Exit with " + std::to_string(kExitSpamFound) +
         " when any message is SPAM, 0 when all are HAM (1 still means a failure, 2 a usage error)";
}

std::string CheckThresholdHelp() {
  char threshold[16];
  std::snprintf(threshold, sizeof threshold, "%.2f", kSpamThreshold);
  return std::string("A message is SPAM when its score is above ") + threshold +
         " (the engine's threshold), or when it holds the GTUBE test string.";
}

}  // namespace varnolt::cli
