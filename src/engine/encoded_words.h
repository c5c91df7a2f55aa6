// Encoded words in header values ("=?utf-8?B?...?=").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnolt::engine {

// Decodes the B and Q encoded words of a header value to their bytes (left in
// their charset) and collects the lower-cased charset names. Malformed words
// stay as written; blanks between two encoded words are dropped.
std::string DecodeEncodedWords(std::string_view value, std::vector<std::string>* charsets);

}  // namespace varnolt::engine
