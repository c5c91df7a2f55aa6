// What both model stores (the file and PostgreSQL) check of the rows they
// read back, so that a damaged model is refused alike wherever it is kept.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/feature_hash.h"
#include "engine/linear_fit.h"
#include "platform/com/com_error.h"
#include "platform/names/model_values.h"

namespace varnolt::engine {

// The store's error for a damaged model, given what is wrong ("a correction's key of the wrong size").
using DamageError = std::function<ComError(const std::string& what)>;

// Whose key a stored digest is, for the error's words.
enum class StoredKey { kLearnedMessage, kCorrection, kWaitingLesson };

// The stored message key; throws the damage error unless it has a digest's size.
DigestBytes StoredDigest(std::string_view stored, StoredKey whose, const DamageError& damaged);

// The stored fit; throws the damage error when its bytes do not unpack or,
// given the fingerprint recorded for it, it is another fit.
LinearFit StoredFit(std::string_view bytes, std::optional<uint64_t> recorded, const DamageError& damaged);

// Whether a token's counts can be true of the model: a token counts at most
// once per learned message of its class. Inline: a lookup asks for every token found.
inline bool CountsWithin(const TokenCounts& token, const SpamCounts& learned) {
  return token.ham <= static_cast<uint32_t>(learned.ham) && token.spam <= static_cast<uint32_t>(learned.spam);
}
inline constexpr const char* kTokenOverCounted = "a token counted in more messages than were learned";

// Throws the damage error unless CountsWithin.
void CheckTokenCounts(const TokenCounts& token, const SpamCounts& learned, const DamageError& damaged);

}  // namespace varnolt::engine
