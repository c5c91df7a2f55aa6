#include "engine/key_record.h"

#include <algorithm>

namespace varnolt::engine {
namespace {

// Bytes that n keys pack into: 20 bits each, the last byte's spare half zero.
size_t PackedSize(size_t n) { return (n * kLinearKeyBits + 7) / 8; }

}  // namespace

std::vector<uint32_t> LinearKeys(const std::vector<uint64_t>& ids) {
  // Sorted ids give sorted keys: repeats sit together.
  std::vector<uint32_t> keys;
  keys.reserve(ids.size());
  for (uint64_t id : ids) {
    const uint32_t key = LinearKeyOf(id);
    if (keys.empty() || keys.back() != key) keys.push_back(key);
  }
  return keys;
}

std::vector<uint32_t> RecordKeys(const std::vector<uint64_t>& ids) {
  std::vector<uint32_t> keys = LinearKeys(ids);
  if (keys.size() > kMaxRecordKeys) keys.resize(kMaxRecordKeys);
  return keys;
}

std::string PackKeys(const std::vector<uint32_t>& keys) {
  std::string packed(PackedSize(keys.size()), '\0');
  for (size_t i = 0; i < keys.size(); ++i) {
    const size_t bit = i * kLinearKeyBits;
    // 20 bits starting at a byte or at its middle span three bytes.
    const uint32_t shifted = (keys[i] & (kLinearKeyCount - 1)) << (bit % 8);
    for (size_t b = 0; b < 3 && bit / 8 + b < packed.size(); ++b) {
      packed[bit / 8 + b] = static_cast<char>(static_cast<uint8_t>(packed[bit / 8 + b]) | ((shifted >> (8 * b)) & 0xFF));
    }
  }
  return packed;
}

std::optional<std::vector<uint32_t>> UnpackKeys(std::string_view packed) {
  const size_t n = packed.size() * 8 / kLinearKeyBits;
  if (PackedSize(n) != packed.size() || n > kMaxRecordKeys) return std::nullopt;
  std::vector<uint32_t> keys(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t bit = i * kLinearKeyBits;
    uint32_t word = 0;
    for (size_t b = 0; b < 3 && bit / 8 + b < packed.size(); ++b) {
      word |= uint32_t{static_cast<uint8_t>(packed[bit / 8 + b])} << (8 * b);
    }
    keys[i] = (word >> (bit % 8)) & (kLinearKeyCount - 1);
    if (i > 0 && keys[i] <= keys[i - 1]) return std::nullopt;
  }
  // An odd count leaves half a byte over: it must be zero, as packing leaves it.
  if (n % 2 == 1 && (static_cast<uint8_t>(packed.back()) >> 4) != 0) return std::nullopt;
  return keys;
}

}  // namespace varnolt::engine
