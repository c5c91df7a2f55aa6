// Words, hosts and URLs of free text, as tokens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/token_sink.h"

namespace varnolt::engine {

struct WordLimits {
  size_t min_length = 2;   // shorter words carry no signal
  size_t max_length = 30;  // longer runs (encoded blobs, hashes) become a length token
};

// ASCII letters and the upper-case letters of Latin-1 (in UTF-8) made lower case;
// every other byte is kept, so invalid UTF-8 passes through unharmed.
std::string FoldCase(std::string_view text);

// Splits text into words and adds prefix + word for each. Separators are ASCII
// punctuation and blanks and the Unicode spaces and punctuation marks; bytes
// that are not valid UTF-8 count as letters. A word past max_length adds
// prefix + "long:" + its kind and length bucket instead.
void AddWords(std::string_view text, std::string_view prefix, const WordLimits& limits, TokenSink& sink);

// Adds prefix + host and prefix + each parent domain down to two labels; an IP
// address adds prefix + "ip", prefix + the address and prefix + its /24 and /16.
void AddHost(std::string_view host, std::string_view prefix, TokenSink& sink);

// Adds the hosts of the URLs in text (http, https, ftp, www.) with prefix "url:",
// and a token for the number of URLs found.
void AddUrlHosts(std::string_view text, TokenSink& sink);

bool IsIpAddress(std::string_view host);

}  // namespace varnolt::engine
