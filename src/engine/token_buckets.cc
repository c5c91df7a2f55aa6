#include "engine/token_buckets.h"

#include <algorithm>
#include <limits>

namespace varnolt::engine {
namespace {

void Store32(uint32_t value, std::string& out) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

uint32_t ClampCount(int64_t count) {
  return static_cast<uint32_t>(std::clamp<int64_t>(count, 0, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

std::vector<TokenEntry> DecodeBucket(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::vector<TokenEntry> entries(size / kEntryBytes);
  for (size_t i = 0; i < entries.size(); ++i) entries[i] = bucket_detail::EntryAt(bytes, i);
  return entries;
}

std::string EncodeBucket(const std::vector<TokenEntry>& entries) {
  std::string out;
  out.reserve(entries.size() * kEntryBytes);
  for (const TokenEntry& e : entries) {
    Store32(e.key, out);
    Store32(e.ham, out);
    Store32(e.spam, out);
  }
  return out;
}

int64_t AddToBucket(std::vector<TokenEntry>& entries, const uint32_t* keys, size_t count, const TokenDelta& delta) {
  std::vector<TokenEntry> merged;
  merged.reserve(entries.size() + count);
  size_t e = 0;
  for (size_t k = 0; k < count; ++k) {
    while (e < entries.size() && entries[e].key < keys[k]) merged.push_back(entries[e++]);
    TokenEntry entry{keys[k]};
    if (e < entries.size() && entries[e].key == keys[k]) entry = entries[e++];
    entry.ham = ClampCount(entry.ham + delta.ham);
    entry.spam = ClampCount(entry.spam + delta.spam);
    if (entry.ham != 0 || entry.spam != 0) merged.push_back(entry);
  }
  merged.insert(merged.end(), entries.begin() + static_cast<std::ptrdiff_t>(e), entries.end());
  const auto change = static_cast<int64_t>(merged.size()) - static_cast<int64_t>(entries.size());
  entries = std::move(merged);
  return change;
}

}  // namespace varnolt::engine
