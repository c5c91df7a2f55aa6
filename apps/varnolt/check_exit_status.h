// What `check` tells a script through its exit status, and the threshold it
// applies; shared by its help and its code.
#pragma once

#include <string>

namespace varnolt::cli {

// `check --exit-status` when at least one message is SPAM. Apart from 0
// (every message HAM), 1 (a failure) and 2 (a usage error), so that a script
// never takes a failure for a verdict.
constexpr int kExitSpamFound = 10;

std::string CheckExitStatusHelp();
// The threshold sentence of `check --help`.
std::string CheckThresholdHelp();
// A threshold as the help and the reports print it (0.995, 0.95).
std::string ThresholdText(double threshold);

}  // namespace varnolt::cli
