// What a spam model holds, in one set of types for the engine and for every
// store that keeps a model (its own file, PostgreSQL).
#pragma once

#include <cstdint>
#include <string>

namespace varnolt {

// Numbers of HAM and SPAM messages learned.
struct SpamCounts {
  int32_t ham = 0;
  int32_t spam = 0;
  bool operator==(const SpamCounts&) const = default;
};

// How many learned HAM and SPAM messages held a token.
struct TokenCounts {
  uint32_t ham = 0;
  uint32_t spam = 0;
  bool operator==(const TokenCounts&) const = default;
};

// What learning (+1) or unlearning (-1) one message changes in each of its tokens.
struct TokenDelta {
  int64_t ham = 0;
  int64_t spam = 0;
};

// What a message was learned as.
struct LearnedMessage {
  bool is_spam = false;
  bool automatic = false;  // learned from the engine's own verdict, not from a user or trusted sender
  // Its key record as the engine packs it (key_record.h); empty for a message
  // learned before records were kept, which the linear model then does not know.
  std::string keys;
  bool operator==(const LearnedMessage&) const = default;
};

}  // namespace varnolt
