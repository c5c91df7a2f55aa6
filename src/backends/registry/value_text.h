// One value line of a .reg file: "Name"="text", "Name"=dword:0000000a,
// "Name"=hex(2):41,00,... (continued over lines ending in "\"), @=... for the
// key's default value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace varnolt {

struct NamedValue {
  std::string name;  // "" for the default value
  RegValue value;
};

// Whether a value line starting like this continues on the next line: its data
// is in hex form and the line ends in "\".
bool ContinuesOnNextLine(const std::string& line);

// Parses a value written on one or more physical lines (a hex value continued
// with "\"). nullopt when the lines are not a value this reader knows (a
// deletion "=-", a typo): the hive keeps such lines as they are and ignores them.
std::optional<NamedValue> ParseValueLines(const std::vector<std::string>& lines);

// The lines that write the value: a quoted string for REG_SZ text without line
// breaks, dword:XXXXXXXX for a 4-byte REG_DWORD, the hex form for anything else.
std::vector<std::string> FormatValueLines(const NamedValue& value);

}  // namespace varnolt
