// Plain-text output for people: aligned columns and control characters made visible.
#pragma once

#include <string>
#include <vector>

namespace varnolt::cli {

// Rows printed with their columns padded to a common width (counted in UTF-8
// characters) and separated by two blanks; the last column is not padded.
std::string AlignColumns(const std::vector<std::vector<std::string>>& rows);

// The text on one line: CR, LF and tab as \r \n \t, other control bytes as \xNN.
std::string OneLine(const std::string& text);

}  // namespace varnolt::cli
