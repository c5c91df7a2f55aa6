// How the model's tokens are laid out in the file: in buckets of sorted
// entries, so that scoring a message reads a few dozen rows instead of one row
// per token. Bucket b at depth d holds the keys whose top d bits are b; when
// buckets grow past a size, the model doubles their number.
//
// Each entry holds what both combining methods need for one token: its
// weight and the number of HAM and SPAM messages that contained it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnolt::engine {

// A token's key is the top 32 bits of its id: short keys keep the file small,
// and the rare tokens that share a key share an entry (the usual price of
// hashed features).
inline uint32_t KeyOf(uint64_t id) { return static_cast<uint32_t>(id >> 32); }
inline uint32_t BucketOf(uint32_t key, int depth) { return depth == 0 ? 0 : key >> (32 - depth); }

// Weights are fixed point (this many units per 1.0), so that undoing what a
// message taught restores them exactly.
constexpr double kWeightScale = 65536.0;
// The average number of entries per bucket above which the buckets double.
constexpr int64_t kBucketSplitAverage = 256;

struct TokenEntry {
  uint32_t key = 0;
  int32_t weight = 0;
  uint32_t ham = 0;
  uint32_t spam = 0;
};

// How entries are stored: the first file format kept only key and weight.
enum class EntryLayout { kWeightsOnly = 8, kWithCounts = 16 };

// A bucket's bytes: little-endian fields per entry, sorted by key.
std::vector<TokenEntry> DecodeBucket(const void* data, size_t size, EntryLayout layout);
std::string EncodeBucket(const std::vector<TokenEntry>& entries);  // always kWithCounts

// Calls found(entry) for each of the given sorted keys that the bucket holds.
template <typename Found>
void FindInBucket(const void* data, size_t size, EntryLayout layout, const uint32_t* keys, size_t count,
                  Found found);

// What learning or unlearning one message changes in each of its tokens.
struct TokenDelta {
  int64_t weight = 0;  // fixed point
  int64_t ham = 0;
  int64_t spam = 0;
};

// Applies delta to the entries of the given sorted, distinct keys (weights
// saturate, counts stay at 0 or above); entries that come to all zeros are
// removed. Returns the change in the entry count.
int64_t AddToBucket(std::vector<TokenEntry>& entries, const uint32_t* keys, size_t count, const TokenDelta& delta);

// Implementation details of FindInBucket, inline: a lookup runs them a few
// times per token of every message.
namespace bucket_detail {
inline uint32_t Load32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline TokenEntry EntryAt(const unsigned char* bytes, size_t index, EntryLayout layout) {
  const unsigned char* p = bytes + index * static_cast<size_t>(layout);
  TokenEntry entry{Load32(p), static_cast<int32_t>(Load32(p + 4))};
  if (layout == EntryLayout::kWithCounts) {
    entry.ham = Load32(p + 8);
    entry.spam = Load32(p + 12);
  }
  return entry;
}
}  // namespace bucket_detail

template <typename Found>
void FindInBucket(const void* data, size_t size, EntryLayout layout, const uint32_t* keys, size_t count,
                  Found found) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  const auto stride = static_cast<size_t>(layout);
  const size_t entries = size / stride;
  size_t low = 0;
  for (size_t k = 0; k < count; ++k) {
    // Keys come sorted, so each search starts where the last one ended.
    size_t lo = low, hi = entries;
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      if (bucket_detail::Load32(bytes + stride * mid) < keys[k]) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    low = lo;
    if (lo < entries && bucket_detail::Load32(bytes + stride * lo) == keys[k]) {
      found(bucket_detail::EntryAt(bytes, lo, layout));
    }
  }
}

}  // namespace varnolt::engine
