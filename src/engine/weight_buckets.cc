#include "engine/weight_buckets.h"

#include <algorithm>
#include <limits>

namespace varnolt::engine {
namespace {

uint32_t Load32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Store32(uint32_t value, std::string& out) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

std::vector<WeightEntry> DecodeBucket(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::vector<WeightEntry> entries(size / 8);
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i] = {Load32(bytes + 8 * i), static_cast<int32_t>(Load32(bytes + 8 * i + 4))};
  }
  return entries;
}

std::string EncodeBucket(const std::vector<WeightEntry>& entries) {
  std::string out;
  out.reserve(entries.size() * 8);
  for (const WeightEntry& e : entries) {
    Store32(e.key, out);
    Store32(static_cast<uint32_t>(e.weight), out);
  }
  return out;
}

int64_t SumInBucket(const void* data, size_t size, const uint32_t* keys, size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  const size_t entries = size / 8;
  int64_t sum = 0;
  size_t low = 0;
  for (size_t k = 0; k < count; ++k) {
    // Keys come sorted, so each search starts where the last one ended.
    size_t lo = low, hi = entries;
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      if (Load32(bytes + 8 * mid) < keys[k]) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    low = lo;
    if (lo < entries && Load32(bytes + 8 * lo) == keys[k]) sum += static_cast<int32_t>(Load32(bytes + 8 * lo + 4));
  }
  return sum;
}

int64_t AddToBucket(std::vector<WeightEntry>& entries, const uint32_t* keys, size_t count, int64_t delta) {
  std::vector<WeightEntry> merged;
  merged.reserve(entries.size() + count);
  size_t e = 0;
  for (size_t k = 0; k < count; ++k) {
    while (e < entries.size() && entries[e].key < keys[k]) merged.push_back(entries[e++]);
    int64_t weight = delta;
    if (e < entries.size() && entries[e].key == keys[k]) weight += entries[e++].weight;
    weight = std::clamp<int64_t>(weight, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    if (weight != 0) merged.push_back({keys[k], static_cast<int32_t>(weight)});
  }
  merged.insert(merged.end(), entries.begin() + static_cast<std::ptrdiff_t>(e), entries.end());
  const auto change = static_cast<int64_t>(merged.size()) - static_cast<int64_t>(entries.size());
  entries = std::move(merged);
  return change;
}

}  // namespace varnolt::engine
