// What the linear model keeps of each learned message: its distinct token
// keys cut to 20 bits, sorted, the smallest kMaxRecordKeys of them. Stored
// beside the message's class, so that the linear model can be refitted from
// the set of learned messages alone, and moved or dropped with the message.
//
// On disk a record takes one of two forms, whichever is shorter:
// - fixed: the keys packed 20 bits each, little-endian, ascending: 2.5
//   bytes a key, so always a length of 0 or 3 more than a multiple of 5;
// - compact: two bytes holding the key count (9 bits) and a Rice parameter
//   (5 bits), then the keys Rice-coded (rice_code.h), then one zero byte if
//   needed to give a length the fixed form never has. About 1.8 bytes a key
//   for a usual message of 200 keys: 370 bytes instead of 530.
// Records written before the compact form existed are all fixed, and read.
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
// A model keeps the key records of its newest this many learned messages
// (a moved message is new again); its counts keep every message. So no fit
// spans more, and no model's records grow without bound.
constexpr int64_t kMaxKeyRecords = 100000;

// A token id's key for the linear model.
inline uint32_t LinearKeyOf(uint64_t id) { return static_cast<uint32_t>(id >> (64 - kLinearKeyBits)); }

// The distinct linear keys of sorted ids, ascending; all of them, for scoring.
std::vector<uint32_t> LinearKeys(const std::vector<uint64_t>& ids);
// The message's record: its linear keys, the smallest kMaxRecordKeys kept.
std::vector<uint32_t> RecordKeys(const std::vector<uint64_t>& ids);

// The stored form of ascending keys below kLinearKeyCount.
std::string PackKeys(const std::vector<uint32_t>& keys);
// The keys of a stored record of either form; nullopt when the bytes are no
// record (cut short, keys out of order or out of range, spare bits set, or
// more than kMaxRecordKeys).
std::optional<std::vector<uint32_t>> UnpackKeys(std::string_view packed);

}  // namespace varnolt::engine
