// The header block of a message as received, read without a MIME parser so
// that malformed mail still yields what it has.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnolt::mailstore {

struct RawHeader {
  std::string name;   // as written
  std::string value;  // after the ":", continuation lines and their endings included
};

// The length of the header block at the start of the message: the header
// lines with their continuation lines and line endings (CR LF or LF), up to
// the blank line, the first line that is no header line, or the end.
size_t HeaderBlockLength(std::string_view message);

// The header lines of a block, in order.
std::vector<RawHeader> ParseHeaderBlock(std::string_view block);

// Joins continuation lines and drops blanks around the value.
std::string UnfoldValue(std::string_view value);

// The message without the header lines (and their continuations) of that
// name (letter case ignored) in its header block; the rest byte for byte.
std::string RemoveHeaderLines(std::string_view message, std::string_view name);

}  // namespace varnolt::mailstore
