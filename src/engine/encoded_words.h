// Encoded words in header values ("=?utf-8?B?...?=").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnolt::engine {

// Decodes the encoded words of a header value to UTF-8 (with GMime, which also
// reads undeclared 8-bit text as UTF-8 or Latin-1) and collects the lower-cased
// charset names of the encoded words, which are tokens of their own.
std::string DecodeEncodedWords(std::string_view value, std::vector<std::string>* charsets);

}  // namespace varnolt::engine
