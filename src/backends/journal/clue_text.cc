#include "backends/journal/clue_text.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "backends/journal/bounded_field.h"

namespace varnolt::journal {

std::string EncodeClues(const std::vector<ScoreClue>& clues) {
  std::string out;
  size_t counts = 0, linear = 0;
  for (const ScoreClue& clue : clues) {
    size_t& taken = clue.source == ClueSource::kCounts ? counts : linear;
    if (taken == kCluesPerPart) continue;
    ++taken;
    char value[32];
    std::snprintf(value, sizeof value, "%.4g", clue.value);
    out += clue.source == ClueSource::kCounts ? 'c' : 'l';
    out += value;
    out += '\t';
    for (char c : BoundedField(clue.token, kClueTokenBytes)) out += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
    out += '\n';
  }
  return out;
}

std::vector<ScoreClue> DecodeClues(std::string_view text) {
  std::vector<ScoreClue> clues;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab < 2 || (line[0] != 'c' && line[0] != 'l')) continue;
    const std::string number(line.substr(1, tab - 1));
    char* parsed_end = nullptr;
    const double value = std::strtod(number.c_str(), &parsed_end);
    if (parsed_end != number.c_str() + number.size()) continue;
    clues.push_back({line[0] == 'c' ? ClueSource::kCounts : ClueSource::kLinear,
                     BoundedField(line.substr(tab + 1), kClueTokenBytes), value});
  }
  return clues;
}

}  // namespace varnolt::journal
