// What the linear model keeps of each learned message: its distinct token
// keys cut to 20 bits, sorted, the smallest kMaxRecordKeys of them. Stored
// beside the message's class, so that the linear model can be refitted from
// the set of learned messages alone, and moved or dropped with the message.
//
// On disk a record is its keys packed 20 bits each, little-endian, in
// ascending order: 2.5 bytes a key, about 530 bytes for a usual message and
// 1,000 at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnolt::engine {

constexpr int kLinearKeyBits = 20;
constexpr uint32_t kLinearKeyCount = uint32_t{1} << kLinearKeyBits;
constexpr size_t kMaxRecordKeys = 400;

// A token id's key for the linear model.
inline uint32_t LinearKeyOf(uint64_t id) { return static_cast<uint32_t>(id >> (64 - kLinearKeyBits)); }

// The distinct linear keys of sorted ids, ascending; all of them, for scoring.
std::vector<uint32_t> LinearKeys(const std::vector<uint64_t>& ids);
// The message's record: its linear keys, the smallest kMaxRecordKeys kept.
std::vector<uint32_t> RecordKeys(const std::vector<uint64_t>& ids);

// The stored form of ascending keys below kLinearKeyCount.
std::string PackKeys(const std::vector<uint32_t>& keys);
// The keys of a stored record; nullopt when the bytes are no record (a size
// no number of keys packs to, keys out of order, or more than kMaxRecordKeys).
std::optional<std::vector<uint32_t>> UnpackKeys(std::string_view packed);

}  // namespace varnolt::engine
