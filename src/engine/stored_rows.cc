#include "engine/stored_rows.h"

#include <cstring>

namespace varnolt::engine {

DigestBytes StoredDigest(std::string_view stored, StoredKey whose, const DamageError& damaged) {
  DigestBytes digest{};
  if (stored.size() != digest.size()) {
    const char* owner = whose == StoredKey::kLearnedMessage ? "a learned message's"
                        : whose == StoredKey::kCorrection   ? "a correction's"
                                                            : "a waiting lesson's";
    throw damaged(std::string(owner) + " key of the wrong size");
  }
  std::memcpy(digest.data(), stored.data(), digest.size());
  return digest;
}

LinearFit StoredFit(std::string_view bytes, std::optional<uint64_t> recorded, const DamageError& damaged) {
  std::optional<LinearFit> fit = UnpackFit(bytes);
  if (!fit) throw damaged("a linear fit that does not unpack");
  if (recorded && fit->fingerprint != *recorded) throw damaged("a linear fit other than the one recorded");
  return std::move(*fit);
}

void CheckTokenCounts(const TokenCounts& token, const SpamCounts& learned, const DamageError& damaged) {
  if (!CountsWithin(token, learned)) throw damaged(kTokenOverCounted);
}

}  // namespace varnolt::engine
