// How the model's tokens are laid out in the file: in buckets of sorted
// entries, so that scoring a message reads a few dozen rows instead of one row
// per token. Bucket b at depth d holds the keys whose top d bits are b; when
// buckets grow past a size, the model doubles their number.
//
// Each entry holds the number of HAM and SPAM messages that contained the
// token: counts, so that what the model holds depends only on which messages
// it learned as what, never on the order they came in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/names/model_values.h"

namespace varnolt::engine {

// A token's key is the top 32 bits of its id: short keys keep the file small,
// and the rare tokens that share a key share an entry (the usual price of
// hashed features).
inline uint32_t KeyOf(uint64_t id) { return static_cast<uint32_t>(id >> 32); }
inline uint32_t BucketOf(uint32_t key, int depth) { return depth == 0 ? 0 : key >> (32 - depth); }

// The average number of entries per bucket above which the buckets double.
constexpr int64_t kBucketSplitAverage = 512;

struct TokenEntry {
  uint32_t key = 0;
  uint32_t ham = 0;
  uint32_t spam = 0;
};

// Bytes per entry: key, HAM count, SPAM count, little-endian.
constexpr size_t kEntryBytes = 12;

// A bucket's bytes: entries sorted by key. A size that is not a whole number
// of entries is damage: DecodeBucket reads the whole entries only.
std::vector<TokenEntry> DecodeBucket(const void* data, size_t size);
std::string EncodeBucket(const std::vector<TokenEntry>& entries);

// Calls found(index of the key, entry) for each of the given sorted keys that
// the bucket holds.
template <typename Found>
void FindInBucket(const void* data, size_t size, const uint32_t* keys, size_t count, Found found);

using ::varnolt::TokenDelta;

// Applies delta to the entries of the given sorted, distinct keys (counts stay
// at 0 or above); entries that come to zero are removed. Returns the change in
// the entry count.
int64_t AddToBucket(std::vector<TokenEntry>& entries, const uint32_t* keys, size_t count, const TokenDelta& delta);

// Implementation details of FindInBucket, inline: a lookup runs them a few
// times per token of every message.
namespace bucket_detail {
inline uint32_t Load32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline TokenEntry EntryAt(const unsigned char* bytes, size_t index) {
  const unsigned char* p = bytes + index * kEntryBytes;
  return TokenEntry{Load32(p), Load32(p + 4), Load32(p + 8)};
}
}  // namespace bucket_detail

template <typename Found>
void FindInBucket(const void* data, size_t size, const uint32_t* keys, size_t count, Found found) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  const size_t entries = size / kEntryBytes;
  size_t low = 0;
  for (size_t k = 0; k < count; ++k) {
    // Keys come sorted, so each search starts where the last one ended.
    size_t lo = low, hi = entries;
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      if (bucket_detail::Load32(bytes + kEntryBytes * mid) < keys[k]) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    low = lo;
    if (lo < entries && bucket_detail::Load32(bytes + kEntryBytes * lo) == keys[k]) {
      found(k, bucket_detail::EntryAt(bytes, lo));
    }
  }
}

}  // namespace varnolt::engine
