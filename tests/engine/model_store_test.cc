// Reading the model back: lookups over many buckets, and what one
// transaction read never leaking into the next.
#include "engine/model_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/key_record.h"
#include "test_messages.h"

namespace varnolt::engine {
namespace {

constexpr uint32_t kLearnedKeys = 40000;  // enough for a few hundred buckets

// Learned keys are 1, 1 + stride, 1 + 2 * stride, ... spread over the whole key
// range, except for a hole wide enough to leave a bucket empty; every one has
// one HAM, every third also 2 SPAM.
constexpr uint32_t kStride = 0xFFFFFFFFu / kLearnedKeys;
constexpr uint32_t kHoleBegin = 10000, kHoleEnd = 10500;
uint32_t LearnedKey(uint32_t n) { return 1 + n * kStride; }
bool IsLearned(uint32_t n) { return n < kHoleBegin || n >= kHoleEnd; }
uint32_t SpamOf(uint32_t n) { return n % 3 == 0 ? 2 : 0; }
uint64_t IdOf(uint32_t key) { return uint64_t{key} << 32 | 0x5A5A; }

class ModelStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.path().string() + "\\user.dat";
    auto store = ModelStore::Open(path_, ModelStore::Mode::kCreate);
    std::vector<uint64_t> all, thirds;
    for (uint32_t n = 0; n < kLearnedKeys; ++n) {
      if (!IsLearned(n)) continue;
      all.push_back(IdOf(LearnedKey(n)));
      if (n % 3 == 0) thirds.push_back(IdOf(LearnedKey(n)));
    }
    store->BeginWrite();
    // Totals that agree with the tokens' counts: one HAM message, two SPAM.
    for (uint8_t n = 0; n < 3; ++n) store->PutMessage(MessageDigest{DigestBytes{n}, {}}, {n > 0, false, {}});
    store->SetCounts({1, 2});
    store->Update(all, {1, 0});
    store->Update(thirds, {0, 1});
    store->Update(thirds, {0, 1});
    store->Commit();
  }

  testing::TempFolder folder_;
  std::string path_;
};

TEST_F(ModelStoreTest, LookupFindsEveryLearnedKeyWhateverTheSpacingOfBuckets) {
  struct Case {
    const char* name;
    std::vector<uint32_t> learned;  // indexes of learned keys to look up
    std::vector<uint32_t> unknown;  // keys never learned, mixed in
  };
  std::vector<Case> cases = {
      {"first and last key", {0, kLearnedKeys - 1}, {}},
      {"far apart", {0, 1, 7000, 7001, 23456, 39998}, {}},
      {"only unknown keys", {}, {0, 5, 0xFFFFFFFFu}},
      {"unknown between learned", {100, 20000}, {LearnedKey(100) + 1, LearnedKey(30000) + 1, 0xFFFFFFFFu}},
      {"unknown in an empty bucket", {kHoleBegin - 1, kHoleEnd, kHoleEnd + 1}, {LearnedKey(kHoleBegin + 250)}},
  };
  Case every_ninth{"keys about nine buckets apart", {}, {}};
  Case every_second{"three keys every second bucket", {}, {}};
  Case everything{"every learned key", {}, {}};
  for (uint32_t n = 0; n < kLearnedKeys; ++n) {
    if (!IsLearned(n)) continue;
    if (n % 1400 == 0) every_ninth.learned.push_back(n);
    if (n % 300 < 3) every_second.learned.push_back(n);
    everything.learned.push_back(n);
  }
  cases.push_back(every_ninth);
  cases.push_back(every_second);
  cases.push_back(everything);

  auto store = ModelStore::Open(path_, ModelStore::Mode::kExistingOnly);
  ASSERT_NE(nullptr, store);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // (id, expected counts), sorted by id.
    std::vector<std::pair<uint64_t, TokenCounts>> expected;
    for (uint32_t n : c.learned) expected.push_back({IdOf(LearnedKey(n)), {1, SpamOf(n)}});
    for (uint32_t key : c.unknown) expected.push_back({IdOf(key), {0, 0}});
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint64_t> ids;
    for (const auto& [id, counts] : expected) ids.push_back(id);
    store->BeginRead();
    const std::vector<TokenCounts> found = store->Lookup(ids);
    store->Commit();
    ASSERT_EQ(ids.size(), found.size());
    for (size_t i = 0; i < ids.size(); ++i) {
      EXPECT_EQ(expected[i].second.ham, found[i].ham) << i;
      EXPECT_EQ(expected[i].second.spam, found[i].spam) << i;
    }
  }
}

TEST_F(ModelStoreTest, ANewTransactionSeesWhatAnotherConnectionCommitted) {
  auto reader = ModelStore::Open(path_, ModelStore::Mode::kExistingOnly);
  ASSERT_NE(nullptr, reader);
  reader->BeginRead();
  EXPECT_EQ(1, reader->Counts().ham);
  const std::vector<uint64_t> first{IdOf(LearnedKey(0))};
  EXPECT_EQ(1u, reader->Lookup(first)[0].ham);
  reader->Commit();

  auto writer = ModelStore::Open(path_, ModelStore::Mode::kExistingOnly);
  writer->BeginWrite();
  writer->SetCounts({11, 9});
  writer->Update(first, {10, 0});
  writer->Commit();

  reader->BeginRead();
  EXPECT_EQ(11, reader->Counts().ham);
  EXPECT_EQ(9, reader->Counts().spam);
  EXPECT_EQ(11u, reader->Lookup(first)[0].ham);
  reader->Commit();
}

// A connection keeps the buckets it read while the file is unchanged: its own
// writes, and another's commit made while it still read an older snapshot,
// must both be seen at its next transaction.
TEST_F(ModelStoreTest, BucketsKeptBetweenReadsNeverHideALaterChange) {
  const std::vector<uint64_t> first{IdOf(LearnedKey(0))};
  const std::vector<uint64_t> far{IdOf(LearnedKey(30000))};
  auto reader = ModelStore::Open(path_, ModelStore::Mode::kExistingOnly);
  auto writer = ModelStore::Open(path_, ModelStore::Mode::kExistingOnly);
  auto ham_of = [](ModelStore& store, const std::vector<uint64_t>& ids) {
    store.BeginRead();
    const uint32_t ham = store.Lookup(ids)[0].ham;
    store.Commit();
    return ham;
  };
  ASSERT_EQ(1u, ham_of(*reader, first));
  ASSERT_EQ(1u, ham_of(*reader, first));  // the second read of one state keeps the buckets

  // Its own write.
  reader->BeginWrite();
  reader->SetCounts({10, 2});
  reader->Update(first, {4, 0});
  reader->Commit();
  EXPECT_EQ(5u, ham_of(*reader, first));

  // Another's commit while the reader's snapshot is older: read old, then new.
  reader->BeginRead();
  EXPECT_EQ(5u, reader->Lookup(first)[0].ham);
  writer->BeginWrite();
  writer->SetCounts({10, 2});
  writer->Update(far, {6, 0});
  writer->Commit();
  EXPECT_EQ(1u, reader->Lookup(far)[0].ham) << "the snapshot the read began with";
  reader->Commit();
  EXPECT_EQ(7u, ham_of(*reader, far));
  EXPECT_EQ(5u, ham_of(*reader, first));
}

TEST_F(ModelStoreTest, CountsWrittenInATransactionReadBackInIt) {
  auto store = ModelStore::Open(path_, ModelStore::Mode::kExistingOnly);
  store->BeginWrite();
  EXPECT_EQ(2, store->Counts().spam);  // read before the change
  store->SetCounts({3, 4});
  EXPECT_EQ(4, store->Counts().spam);
  store->Commit();
}

// Key records are bounded: the newest kMaxKeyRecords messages keep theirs
// (a message learned again is new again), the older keep their class.
TEST_F(ModelStoreTest, OnlyTheNewestMessagesKeepTheirKeyRecords) {
  auto store = ModelStore::Open(path_, ModelStore::Mode::kExistingOnly);
  auto digest = [](int64_t n) {
    DigestBytes bytes{};
    for (int b = 0; b < 8; ++b) bytes[b] = static_cast<uint8_t>(n >> (8 * (7 - b)));
    bytes[8] = 1;
    return bytes;
  };
  const std::string keys = PackKeys({1, 2, 3});
  store->BeginWrite();
  for (int64_t n = 0; n < kMaxKeyRecords + 3; ++n) {
    // The second message again, as the newest but two.
    const int64_t which = n == kMaxKeyRecords ? 1 : n;
    store->PutMessage(MessageDigest{digest(which), {}}, {false, false, keys});
  }
  const LearnedMessages messages = store->Messages();
  store->Commit();
  std::vector<int64_t> without;
  int64_t with = 0;
  for (int64_t n = 0; n < static_cast<int64_t>(messages.size()); ++n) {
    if (messages[n].second.keys.empty()) {
      without.push_back(n);
    } else {
      ++with;
    }
  }
  EXPECT_EQ(kMaxKeyRecords, with);
  // By digest: the fixture's first message (no record), these, the fixture's other two. Of
  // these the first and the third lost theirs; the second, learned again, kept it.
  EXPECT_EQ((std::vector<int64_t>{0, 1, 3, kMaxKeyRecords + 3, kMaxKeyRecords + 4}), without);
}

}  // namespace
}  // namespace varnolt::engine
