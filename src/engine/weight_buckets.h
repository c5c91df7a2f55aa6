// How the model's weights are laid out in the file: in buckets of sorted
// (key, weight) entries, so that scoring a message reads a few dozen rows
// instead of one row per token. Bucket b at depth d holds the keys whose top d
// bits are b; when buckets grow past a size, the model doubles their number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnolt::engine {

// A token's key is the top 32 bits of its id: short keys keep the file small,
// and the rare tokens that share a key share a weight (the usual price of
// hashed features).
inline uint32_t KeyOf(uint64_t id) { return static_cast<uint32_t>(id >> 32); }
inline uint32_t BucketOf(uint32_t key, int depth) { return depth == 0 ? 0 : key >> (32 - depth); }

// Weights are fixed point (this many units per 1.0), so that undoing what a
// message taught restores them exactly.
constexpr double kWeightScale = 65536.0;
// The average number of entries per bucket above which the buckets double.
constexpr int64_t kBucketSplitAverage = 256;

struct WeightEntry {
  uint32_t key;
  int32_t weight;
};

// A bucket's bytes: 8 little-endian bytes per entry, sorted by key.
std::vector<WeightEntry> DecodeBucket(const void* data, size_t size);
std::string EncodeBucket(const std::vector<WeightEntry>& entries);

// The sum of the weights of the given sorted keys that the bucket holds.
int64_t SumInBucket(const void* data, size_t size, const uint32_t* keys, size_t count);

// Adds delta to the weights of the given sorted, distinct keys (saturating);
// entries that come to 0 are removed. Returns the change in the entry count.
int64_t AddToBucket(std::vector<WeightEntry>& entries, const uint32_t* keys, size_t count, int64_t delta);

}  // namespace varnolt::engine
