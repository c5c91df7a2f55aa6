#include "engine/key_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace varnolt::engine {
namespace {

std::vector<uint32_t> Ascending(size_t n, uint32_t first, uint32_t step) {
  std::vector<uint32_t> keys;
  for (size_t i = 0; i < n; ++i) keys.push_back(first + static_cast<uint32_t>(i) * step);
  return keys;
}

TEST(KeyRecordTest, PackedRecordsReadBackAsTheyWereAtTwoAndAHalfBytesAKey) {
  const struct {
    const char* name;
    std::vector<uint32_t> keys;
    size_t bytes;
  } cases[] = {
      {"none", {}, 0},
      {"one", {0xABCDE}, 3},
      {"two", {0, kLinearKeyCount - 1}, 5},
      {"three with the top bits", {0x80000, 0xFFFFE, 0xFFFFF}, 8},
      {"a full record", Ascending(kMaxRecordKeys, 7, 2600), 1000},
  };
  for (const auto& c : cases) {
    const std::string packed = PackKeys(c.keys);
    EXPECT_EQ(c.bytes, packed.size()) << c.name;
    EXPECT_EQ(c.keys, UnpackKeys(packed)) << c.name;
  }
}

TEST(KeyRecordTest, BytesThatNoRecordPacksToAreRefused) {
  const std::string three = PackKeys({1, 2, 3});
  std::string swapped = PackKeys({5, 4});  // packed as given: out of order
  std::string spare = three;
  spare.back() = static_cast<char>(spare.back() | 0x10);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"a size of no key count", three.substr(0, 4)},
      {"keys out of order", swapped},
      {"a repeated key", PackKeys({9, 9})},
      {"the spare half byte set", spare},
      {"more keys than a record holds", PackKeys(Ascending(kMaxRecordKeys + 2, 0, 1))},
  };
  for (const auto& c : cases) EXPECT_FALSE(UnpackKeys(c.bytes)) << c.name;
}

TEST(KeyRecordTest, ARecordKeepsTheSmallestDistinctKeysOfTheIds) {
  // Ids sharing their top 20 bits are one key.
  std::vector<uint64_t> ids;
  for (uint64_t key = 1000; key > 0; --key) ids.push_back(key << 44 | 0x1234);
  ids.push_back(uint64_t{3} << 44 | 0xFFFF);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(1000u, LinearKeys(ids).size());
  EXPECT_EQ(Ascending(kMaxRecordKeys, 1, 1), RecordKeys(ids));
  EXPECT_EQ(0xFFFFFu, LinearKeyOf(~uint64_t{0}));
}

}  // namespace
}  // namespace varnolt::engine
