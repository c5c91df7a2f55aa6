// Stable hashes of tokens and messages. They end up in users' database files,
// so they must never change between builds or machines.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

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
using DigestBytes = std::array<uint8_t, 16>;

struct MessageDigest {
  // Of the message with every CR LF read as LF, without the header fields a
  // delivery adds (Received, Return-Path, Delivered-To, X-Original-To and
  // the like, and our own X-Varnolt): a message stored with LF line ends (a
  // maildir), the same message as it was delivered (CR LF), and the same
  // bytes delivered again through other servers have one key.
  DigestBytes key{};
  // The keys an earlier engine may have stored for the same message: of its
  // whole LF text, of its CR LF form, and of the text itself when its line
  // ends were mixed. Never key itself; at most three.
  std::vector<DigestBytes> earlier;
};

MessageDigest DigestMessage(std::string_view header, std::string_view body);

}  // namespace varnolt::engine
