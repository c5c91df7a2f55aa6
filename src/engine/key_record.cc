#include "engine/key_record.h"

#include <algorithm>

#include "engine/rice_code.h"

namespace varnolt::engine {
namespace {

// Bytes that n keys pack into: 20 bits each, the last byte's spare half zero.
size_t PackedSize(size_t n) { return (n * kLinearKeyBits + 7) / 8; }

// Lengths the fixed form can have; the compact form never has them.
bool FixedLength(size_t bytes) { return bytes % 5 == 0 || bytes % 5 == 3; }

constexpr int kCountBits = 9;  // room for kMaxRecordKeys
static_assert(kMaxRecordKeys < (size_t{1} << kCountBits));
constexpr size_t kCompactHeadBytes = 2;

std::string PackFixed(const std::vector<uint32_t>& keys) {
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

// The compact form's bytes at parameter k: head, code, and the zero byte when needed.
size_t CompactSize(const std::vector<uint32_t>& keys, int k) {
  const size_t bytes = kCompactHeadBytes + (RiceBits(keys, k) + 7) / 8;
  return FixedLength(bytes) ? bytes + 1 : bytes;
}

std::string PackCompact(const std::vector<uint32_t>& keys, int k) {
  const auto head = static_cast<uint32_t>(keys.size()) | static_cast<uint32_t>(k) << kCountBits;
  std::string packed{static_cast<char>(head & 0xFF), static_cast<char>(head >> 8)};
  AppendRice(keys, k, packed);
  if (FixedLength(packed.size())) packed.push_back('\0');
  return packed;
}

std::optional<std::vector<uint32_t>> UnpackFixed(std::string_view packed) {
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

std::optional<std::vector<uint32_t>> UnpackCompact(std::string_view packed) {
  if (packed.size() < kCompactHeadBytes) return std::nullopt;
  const uint32_t head = uint32_t{static_cast<uint8_t>(packed[0])} | uint32_t{static_cast<uint8_t>(packed[1])} << 8;
  const size_t n = head & ((uint32_t{1} << kCountBits) - 1);
  const int k = static_cast<int>(head >> kCountBits);
  if (n == 0 || n > kMaxRecordKeys || k > kLinearKeyBits) return std::nullopt;
  std::optional<RiceDecoded> decoded = ReadRice(packed.substr(kCompactHeadBytes), n, k, kLinearKeyCount);
  if (!decoded) return std::nullopt;
  // At most the one zero byte that moved the length off the fixed form's.
  const std::string_view rest = packed.substr(kCompactHeadBytes + decoded->bytes);
  if (rest.size() > 1 || (rest.size() == 1 && (rest[0] != '\0' || !FixedLength(packed.size() - 1)))) {
    return std::nullopt;
  }
  return std::move(decoded->numbers);
}

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
  if (keys.empty()) return {};
  const int k = BestRiceParameter(keys, kLinearKeyBits);
  return CompactSize(keys, k) < PackedSize(keys.size()) ? PackCompact(keys, k) : PackFixed(keys);
}

std::optional<std::vector<uint32_t>> UnpackKeys(std::string_view packed) {
  return FixedLength(packed.size()) ? UnpackFixed(packed) : UnpackCompact(packed);
}

}  // namespace varnolt::engine
