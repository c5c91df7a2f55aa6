// Stable hashes of tokens and messages. They end up in users' database files,
// so they must never change between builds or machines.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace varnolt::engine {

// 64-bit id of one token (FNV-1a, then a finalizer so that ids of similar
// tokens spread over the whole range).
uint64_t TokenId(std::string_view token);

// TokenId over a token given in pieces: TokenId(a + b) is the same as
// Update(a), Update(b), Finish().
class TokenHasher {
 public:
  void Update(std::string_view text);
  // Update with the text case-folded on the fly, exactly as FoldCase does.
  void UpdateFolded(std::string_view text);
  uint64_t Finish() const;

 private:
  uint64_t state_ = 0xcbf29ce484222325ULL;
};

// 128-bit digest of a message: how the database recognizes a message it has
// learned before. Not cryptographic; collisions are only a concern between
// messages of one user's mailbox.
using MessageDigest = std::array<uint8_t, 16>;
MessageDigest DigestMessage(std::string_view header, std::string_view body);

}  // namespace varnolt::engine
