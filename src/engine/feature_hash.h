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

// 128-bit digest of a message: how the database recognizes a message it has
// learned before. Not cryptographic; collisions are only a concern between
// messages of one user's mailbox.
using MessageDigest = std::array<uint8_t, 16>;
MessageDigest DigestMessage(std::string_view header, std::string_view body);

}  // namespace varnolt::engine
