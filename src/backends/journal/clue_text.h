// The clues of a record in one column: a line per clue, "c" (counting part)
// or "l" (linear part), the value, a tab and the token. Compact, and read
// back leniently: a line that does not parse is skipped, never a failure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/names/score_clue.h"

namespace varnolt::journal {

// A token of a clue is kept to this many bytes (a token may be long, and
// comes from the sender).
inline constexpr size_t kClueTokenBytes = 40;

// At most kCluesPerPart of each part, in the order given; tabs and line
// breaks in a token become blanks.
std::string EncodeClues(const std::vector<ScoreClue>& clues);
std::vector<ScoreClue> DecodeClues(std::string_view text);

}  // namespace varnolt::journal
