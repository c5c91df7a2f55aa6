#include "engine/token_buckets.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace varnolt::engine {
namespace {

// (index of the key asked for, entry) for each key the bucket holds.
std::vector<std::pair<size_t, TokenEntry>> Found(const std::string& bytes, const std::vector<uint32_t>& keys) {
  std::vector<std::pair<size_t, TokenEntry>> found;
  FindInBucket(bytes.data(), bytes.size(), keys.data(), keys.size(),
               [&](size_t k, const TokenEntry& e) { found.emplace_back(k, e); });
  return found;
}

TEST(TokenBucketsTest, LearningAndUnlearningRestoresTheBucket) {
  std::vector<TokenEntry> entries;
  const uint32_t keys[] = {3, 7, 0xFFFFFFF0};
  EXPECT_EQ(3, AddToBucket(entries, keys, 3, {0, 1}));
  EXPECT_EQ(0, AddToBucket(entries, keys + 1, 1, {1, 0}));
  const std::string bytes = EncodeBucket(entries);
  ASSERT_EQ(3 * kEntryBytes, bytes.size());

  const auto found = Found(bytes, {1, 7, 0xFFFFFFF0});
  ASSERT_EQ(2u, found.size());
  EXPECT_EQ(1u, found[0].first);
  EXPECT_EQ(7u, found[0].second.key);
  EXPECT_EQ(1u, found[0].second.ham);
  EXPECT_EQ(1u, found[0].second.spam);
  EXPECT_EQ(2u, found[1].first);
  EXPECT_EQ(0xFFFFFFF0u, found[1].second.key);

  EXPECT_EQ(0, AddToBucket(entries, keys + 1, 1, {-1, 0}));
  EXPECT_EQ(-3, AddToBucket(entries, keys, 3, {0, -1}));
  EXPECT_TRUE(entries.empty());
}

TEST(TokenBucketsTest, CountsNeverGoBelowZeroAndPartialEntriesAreIgnored) {
  std::vector<TokenEntry> entries;
  const uint32_t key = 5;
  AddToBucket(entries, &key, 1, {0, 1});
  AddToBucket(entries, &key, 1, {-3, 0});
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(0u, entries[0].ham);
  EXPECT_EQ(1u, entries[0].spam);

  // A damaged bucket with a trailing piece of an entry: only whole entries count.
  const std::string bytes = EncodeBucket(entries) + "\x05\0\0";
  EXPECT_EQ(1u, DecodeBucket(bytes.data(), bytes.size()).size());
  EXPECT_EQ(1u, Found(bytes, {5}).size());
}

}  // namespace
}  // namespace varnolt::engine
