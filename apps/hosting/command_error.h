// How hosting the filter fails: the home, its settings or the filter cannot be
// had. The command ends with status 1 on it; the plugin logs it and lets the
// mail through.
#pragma once

#include <stdexcept>
#include <string>

namespace varnolt::hosting {

// The command was understood but cannot be done.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace varnolt::hosting
