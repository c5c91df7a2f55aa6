// Turns a message (transport headers and decoded body text) into the distinct
// tokens the model learns from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/text_tokens.h"

namespace varnolt::engine {

struct TokenizerOptions {
  // Work is bounded for huge messages: only these prefixes are read.
  size_t max_header_bytes = 32 * 1024;
  size_t max_body_bytes = 96 * 1024;
  size_t max_tokens = 4000;
  WordLimits words;
};

// The distinct tokens of a message, in the order first found.
std::vector<std::string> Tokenize(std::string_view header, std::string_view body, const TokenizerOptions& options);

// The token ids of a message, sorted and distinct.
std::vector<uint64_t> FeatureIds(std::string_view header, std::string_view body, const TokenizerOptions& options);

// The same, with the ids of the header's tokens apart (a subset, sorted).
struct MessageFeatures {
  std::vector<uint64_t> ids;
  std::vector<uint64_t> header_ids;
};
MessageFeatures Features(std::string_view header, std::string_view body, const TokenizerOptions& options);

// The texts of the wanted token ids (sorted, distinct) that the message
// holds, with their ids; reading stops once all are found.
std::vector<std::pair<uint64_t, std::string>> TokenTexts(std::string_view header, std::string_view body,
                                                         const TokenizerOptions& options,
                                                         const std::vector<uint64_t>& wanted);

}  // namespace varnolt::engine
