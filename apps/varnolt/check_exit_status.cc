#include "varnolt/check_exit_status.h"

#include <cstdio>

#include "engine/builtin_spam_engine.h"

namespace varnolt::cli {

std::string CheckExitStatusHelp() {
  return "Exit with " + std::to_string(kExitSpamFound) +
         " when any message is SPAM, 0 when all are HAM (1 still means a failure, 2 a usage error)";
}

std::string ThresholdText(double threshold) {
  char text[16];
  std::snprintf(text, sizeof text, "%g", threshold);
  return text;
}

std::string CheckThresholdHelp() {
  if (AutoLearnOptions{}.threshold == kSpamThreshold) {
    return "A message is SPAM when its score is above " + ThresholdText(kSpamThreshold) +
           ", or when it holds the GTUBE test string.";
  }
  return "A message is SPAM when its score is above " + ThresholdText(AutoLearnOptions{}.threshold) +
         " while the engine learns from its own verdicts ([engine] autolearn = on, the default), above " +
         ThresholdText(kSpamThreshold) + " when it learns only what it is taught, or when it holds the GTUBE test "
         "string.";
}

}  // namespace varnolt::cli
