#include "engine/key_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace varnolt::engine {
namespace {

std::vector<uint32_t> Ascending(size_t n, uint32_t first, uint32_t step) {
  std::vector<uint32_t> keys;
  for (size_t i = 0; i < n; ++i) keys.push_back(first + static_cast<uint32_t>(i) * step);
  return keys;
}

// A record's keys as the fixed form stores them, written out by hand.
std::string Bytes(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(KeyRecordTest, RecordsReadBackAsTheyWereInTheShorterForm) {
  const struct {
    const char* name;
    std::vector<uint32_t> keys;
    size_t bytes;
  } cases[] = {
      {"none", {}, 0},
      {"one: fixed", {0xABCDE}, 3},
      {"two far apart: fixed", {0, kLinearKeyCount - 1}, 5},
      {"three with the top bits: fixed", {0x80000, 0xFFFFE, 0xFFFFF}, 8},
      {"a full record spread out: compact", Ascending(kMaxRecordKeys, 7, 2600), 652},
      {"a full record of neighbours: compact", Ascending(kMaxRecordKeys, 0, 1), 52},
      {"three neighbours: compact, a zero byte off the fixed lengths", {1, 2, 3}, 4},
  };
  for (const auto& c : cases) {
    const std::string packed = PackKeys(c.keys);
    EXPECT_EQ(c.bytes, packed.size()) << c.name;
    EXPECT_EQ(c.keys, UnpackKeys(packed)) << c.name;
  }
}

TEST(KeyRecordTest, RandomRecordsOfEverySizeReadBackNoLongerThanTheFixedForm) {
  std::mt19937 random(20261208);
  size_t usual_bytes = 0;
  for (size_t n = 1; n <= kMaxRecordKeys; ++n) {
    std::set<uint32_t> drawn;
    while (drawn.size() < n) drawn.insert(static_cast<uint32_t>(random() % kLinearKeyCount));
    const std::vector<uint32_t> keys(drawn.begin(), drawn.end());
    const std::string packed = PackKeys(keys);
    ASSERT_EQ(keys, UnpackKeys(packed)) << n << " keys";
    ASSERT_LE(packed.size(), (n * kLinearKeyBits + 7) / 8) << n << " keys";
    if (n == 200) usual_bytes = packed.size();
  }
  // A usual message's 200 keys: under 1.9 bytes a key, not the fixed 2.5.
  EXPECT_LT(usual_bytes, 380u);
}

TEST(KeyRecordTest, FixedRecordsStoredBeforeTheCompactFormStillRead) {
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), UnpackKeys(Bytes({0x01, 0x00, 0x20, 0x00, 0x00, 0x03, 0x00, 0x00})));
  EXPECT_EQ((std::vector<uint32_t>{0xABCDE}), UnpackKeys(Bytes({0xDE, 0xBC, 0x0A})));
}

TEST(KeyRecordTest, BytesThatNoRecordPacksToAreRefused) {
  const std::string spread = PackKeys(Ascending(kMaxRecordKeys, 7, 2600));
  std::string spare_bits = PackKeys({1, 2, 3});  // compact, its last Rice byte holds 4 spare bits
  spare_bits[2] = static_cast<char>(spare_bits[2] | 0x80);
  std::string long_run = Bytes({0x01, 0x00});  // one key at parameter 0, then ones only
  long_run.append(200000, static_cast<char>(0xFF));
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"fixed: keys out of order", Bytes({0x05, 0x00, 0x40, 0x00, 0x00})},
      {"fixed: a repeated key", Bytes({0x09, 0x00, 0x90, 0x00, 0x00})},
      {"fixed: the spare half byte set", Bytes({0x01, 0x00, 0x20, 0x00, 0x00, 0x03, 0x00, 0x10})},
      {"compact: cut short", spread.substr(0, spread.size() - 1)},
      {"compact: only a head", Bytes({0x01})},
      {"compact: no keys", Bytes({0x00, 0x00, 0x00, 0x00})},
      {"compact: more keys than a record holds", Bytes({0x91, 0x01, 0x00, 0x00})},
      {"compact: a Rice parameter past the key width", Bytes({0x01, 0x2A, 0x00, 0x00})},
      {"compact: a key past the key range", Bytes({0x01, 0x28, 0x01, 0x00, 0x00, 0x00})},
      {"compact: spare bits set", spare_bits},
      {"compact: a zero byte too many", spread + std::string(5, '\0')},
      {"compact: a run of ones past any key", long_run},
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
