// How a command fails: a usage error ends the program with status 2, any other
// failure with status 1 (`deliver`: the statuses of sysexits.h); each prints
// its message on stderr.
#pragma once

#include <stdexcept>
#include <string>

#include "hosting/command_error.h"

namespace varnolt::cli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The command line itself is wrong (a malformed argument the parser cannot judge).
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// A failure that ends the program with an exit status of its own: `deliver`
// answers a mail transfer agent in the statuses of sysexits.h.
class ExitStatusError : public std::runtime_error {
 public:
  ExitStatusError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

}  // namespace varnolt::cli
