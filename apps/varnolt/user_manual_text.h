// The user manual `init` places in the data folder: the message a new user
// finds in the Inbox next to the first mail the filter handles.
#pragma once

#include <string>

namespace varnolt::cli {

// A complete message (header lines, a blank line, the body), lines ended by CR LF.
std::string DefaultUserManual();

}  // namespace varnolt::cli
