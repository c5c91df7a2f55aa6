#include "engine/token_buckets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnolt::engine {
namespace {

std::vector<TokenEntry> Found(const std::string& bytes, EntryLayout layout, const std::vector<uint32_t>& keys) {
  std::vector<TokenEntry> found;
  FindInBucket(bytes.data(), bytes.size(), layout, keys.data(), keys.size(),
               [&](const TokenEntry& e) { found.push_back(e); });
  return found;
}

TEST(TokenBucketsTest, LearningAndUnlearningRestoresTheBucket) {
  std::vector<TokenEntry> entries;
  const uint32_t keys[] = {3, 7, 0xFFFFFFF0};
  EXPECT_EQ(3, AddToBucket(entries, keys, 3, {65536, 0, 1}));
  EXPECT_EQ(0, AddToBucket(entries, keys + 1, 1, {-100, 1, 0}));
  const std::string bytes = EncodeBucket(entries);
  ASSERT_EQ(3 * 16u, bytes.size());

  const std::vector<TokenEntry> found = Found(bytes, EntryLayout::kWithCounts, {1, 7, 0xFFFFFFF0});
  ASSERT_EQ(2u, found.size());
  EXPECT_EQ(7u, found[0].key);
  EXPECT_EQ(65436, found[0].weight);
  EXPECT_EQ(1u, found[0].ham);
  EXPECT_EQ(1u, found[0].spam);
  EXPECT_EQ(0xFFFFFFF0u, found[1].key);

  EXPECT_EQ(0, AddToBucket(entries, keys + 1, 1, {100, -1, 0}));
  EXPECT_EQ(-3, AddToBucket(entries, keys, 3, {-65536, 0, -1}));
  EXPECT_TRUE(entries.empty());
}

TEST(TokenBucketsTest, CountsNeverGoBelowZeroAndWeightsSaturate) {
  std::vector<TokenEntry> entries;
  const uint32_t key = 5;
  AddToBucket(entries, &key, 1, {int64_t{1} << 40, 0, 1});
  AddToBucket(entries, &key, 1, {0, -3, 0});
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(INT32_MAX, entries[0].weight);
  EXPECT_EQ(0u, entries[0].ham);
}

TEST(TokenBucketsTest, ReadsTheFirstFormatsWeightsOnlyEntries) {
  // key 2 weight -5, key 9 weight 70000, little-endian, 8 bytes each
  const std::string bytes("\x02\0\0\0\xFB\xFF\xFF\xFF\x09\0\0\0\x70\x11\x01\0", 16);
  const std::vector<TokenEntry> all = DecodeBucket(bytes.data(), bytes.size(), EntryLayout::kWeightsOnly);
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(-5, all[0].weight);
  EXPECT_EQ(70000, all[1].weight);
  EXPECT_EQ(0u, all[1].ham + all[1].spam);
  const std::vector<TokenEntry> found = Found(bytes, EntryLayout::kWeightsOnly, {9});
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ(70000, found[0].weight);
}

}  // namespace
}  // namespace varnolt::engine
