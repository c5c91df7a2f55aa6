#include "engine/linear_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"
#include "engine/engine_errors.h"
#include "engine/key_record.h"
#include "engine/model_store.h"
#include "test_messages.h"

namespace varnolt::engine {
namespace {

DigestBytes Digest(uint8_t n) { return DigestBytes{n, static_cast<uint8_t>(n * 7)}; }

// Spam holds keys from 1000 up, HAM from 5000 up; each message a few of its own too.
std::vector<FitExample> Examples(int each) {
  std::vector<FitExample> set;
  for (int i = 0; i < 2 * each; ++i) {
    const bool spam = i % 2 == 0;
    const uint32_t base = spam ? 1000 : 5000;
    std::vector<uint32_t> keys = {base, base + 1, base + 2 + static_cast<uint32_t>(i % 3), 20000u + i};
    set.push_back({Digest(static_cast<uint8_t>(i)), spam, 1, keys});
  }
  return set;
}

TEST(LinearFitTest, TheFitIsAFunctionOfTheSetAndSeparatesItsClasses) {
  std::vector<FitExample> set = Examples(10);
  const std::optional<LinearFit> fit = Fit(set);
  ASSERT_TRUE(fit);
  std::reverse(set.begin(), set.end());
  std::rotate(set.begin(), set.begin() + 7, set.end());
  const std::optional<LinearFit> again = Fit(set);
  ASSERT_TRUE(again);
  EXPECT_EQ(fit->bias, again->bias);
  EXPECT_EQ(fit->weights, again->weights);
  EXPECT_EQ(fit->fingerprint, again->fingerprint);
  EXPECT_GT(fit->Score({1000, 1001, 30000}), 0.9);
  EXPECT_LT(fit->Score({5000, 5001, 30000}), 0.1);
  EXPECT_EQ(fit->Score({}), 1.0 / (1.0 + std::exp(-fit->bias)));
}

TEST(LinearFitTest, NoFitUntilBothClassesAreThere) {
  std::vector<FitExample> spam_only = Examples(5);
  std::erase_if(spam_only, [](const FitExample& e) { return !e.is_spam; });
  EXPECT_FALSE(Fit(spam_only));
  EXPECT_FALSE(Fit({}));
}

TEST(LinearFitTest, TheFingerprintTellsSetsApart) {
  const std::vector<FitExample> set = Examples(4);
  std::vector<FitExample> reclassed = set, reweighted = set, fewer = set;
  reclassed[3].is_spam = !reclassed[3].is_spam;
  reweighted[3].weight = kUserMessageWeight;
  fewer.pop_back();
  for (const auto& other : {reclassed, reweighted, fewer}) EXPECT_NE(FingerprintOf(set), FingerprintOf(other));
  EXPECT_NE(0u, FingerprintOf({}));
}

// The stores hand records over as stored: the fit is where a damaged one is refused.
TEST(LinearFitTest, ADamagedRecordFailsTheFitSetAsACorruptModel) {
  const LearnedMessages user = {{Digest(1), {true, false, PackKeys({1, 2, 3})}}, {Digest(2), {false, false, "\x01"}}};
  try {
    FitSet(user, {});
    ADD_FAILURE() << "a damaged record was taken";
  } catch (const ComError& error) {
    EXPECT_EQ(kErrorCorruptDatabase, error.number());
  }
}

TEST(LinearFitTest, TheUsersMessagesWinAndCountTwiceAndUnrecordedOnesAreLeftOut) {
  const std::string record = PackKeys({1, 2, 3});
  const LearnedMessages domain = {{Digest(1), {true, false, record}},
                                  {Digest(2), {false, false, record}},
                                  {Digest(3), {true, false, ""}}};
  const LearnedMessages user = {{Digest(2), {true, false, record}}, {Digest(4), {false, true, record}}};
  const std::vector<FitExample> set = FitSet(user, domain);
  ASSERT_EQ(3u, set.size());
  const struct {
    DigestBytes digest;
    bool is_spam;
    float weight;
  } expected[] = {{Digest(1), true, 1}, {Digest(2), true, kUserMessageWeight}, {Digest(4), false, kUserMessageWeight}};
  for (size_t i = 0; i < set.size(); ++i) {
    EXPECT_EQ(expected[i].digest, set[i].digest) << i;
    EXPECT_EQ(expected[i].is_spam, set[i].is_spam) << i;
    EXPECT_EQ(expected[i].weight, set[i].weight) << i;
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), set[i].keys) << i;
  }
}

TEST(LinearFitTest, AStoredFitReadsBackAndDamageIsRefused) {
  const std::optional<LinearFit> domain = Fit(Examples(6));
  ASSERT_TRUE(domain);
  for (const LinearFit* base : {static_cast<const LinearFit*>(nullptr), &*domain}) {
    SCOPED_TRACE(base ? "residual" : "plain");
    std::optional<LinearFit> fit = Fit(Examples(3), base);
    ASSERT_TRUE(fit);
    fit->domain_fingerprint = 0x123456789ABCDEF0;
    const std::string packed = PackFit(*fit);
    const size_t head = base ? 25 : 24;
    EXPECT_EQ(head + 7 * fit->weights.size(), packed.size());
    const std::optional<LinearFit> back = UnpackFit(packed);
    ASSERT_TRUE(back);
    EXPECT_EQ(fit->fingerprint, back->fingerprint);
    EXPECT_EQ(fit->bias, back->bias);
    EXPECT_EQ(fit->domain_fingerprint, back->domain_fingerprint);
    EXPECT_EQ(fit->residual, back->residual);
    EXPECT_EQ(fit->weights, back->weights);
    std::string swapped = packed, flagged = packed;
    std::swap_ranges(swapped.begin() + head, swapped.begin() + head + 7, swapped.begin() + head + 7);
    flagged[24] = 2;
    for (const std::string& damaged : {packed.substr(0, packed.size() - 1), std::string(head, '\0'), swapped,
                                       base ? flagged : packed.substr(1)}) {
      EXPECT_FALSE(UnpackFit(damaged));
    }
  }
}

// A user's fit over the domain's: only the user's own keys, a correction of
// the domain's verdict that sticks, and the domain's base rate kept (no bias).
TEST(LinearFitTest, AResidualFitHoldsTheUsersKeysAndCorrectsTheDomainsFit) {
  const std::optional<LinearFit> domain = Fit(Examples(10));
  ASSERT_TRUE(domain);
  const std::vector<uint32_t> newsletter = {1000, 1001, 1003, 40000, 40001};
  ASSERT_GT(LinearScore(nullptr, &*domain, newsletter), 0.5) << "the domain calls it SPAM";
  struct Case {
    const char* name;
    std::vector<FitExample> set;
  };
  const Case cases[] = {
      {"one class", {{Digest(100), false, 1, newsletter}}},
      {"both classes", {{Digest(100), false, 1, newsletter}, {Digest(101), true, 1, {5000, 41000}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<LinearFit> user = Fit(c.set, &*domain);
    ASSERT_TRUE(user);
    EXPECT_TRUE(user->residual);
    EXPECT_EQ(0, user->bias);
    for (const auto& [key, weight] : user->weights) {
      EXPECT_TRUE(std::any_of(c.set.begin(), c.set.end(), [key = key](const FitExample& e) {
        return std::find(e.keys.begin(), e.keys.end(), key) != e.keys.end();
      })) << key;
    }
    EXPECT_LT(LinearScore(&*user, &*domain, newsletter), 0.5) << "the user's word wins on the user's mail";
    EXPECT_EQ(domain->Score({5000, 5001}), LinearScore(nullptr, &*domain, {5000, 5001}));
  }
  EXPECT_FALSE(Fit({}, &*domain));
  EXPECT_EQ(0.5, LinearScore(nullptr, nullptr, newsletter));
}

// When the engine refits: at a correction once both classes are there, then
// every kRefitAfterChanges lessons; never during a delivery (a verdict, or a
// trusted sender's mail learned), whose lessons wait for the next correction.
TEST(LinearRefitTest, RefitsAtACorrectionAfterEnoughChangesAndNeverInADelivery) {
  testing::TempFolder folder;
  testing::MailMaker mail;
  const std::string path = folder.path().string() + "\\user.dat";
  EngineOptions options;
  options.auto_learn.enabled = true;
  options.auto_learn.min_learned = 1;
  options.thin_model.min_each_class = 1;
  options.auto_learn.ham_below = 1;  // every HAM verdict learned
  BuiltinSpamEngine engine(options);
  auto state = [&] {
    auto store = ModelStore::Open(path, ModelStore::Mode::kExistingOnly);
    store->BeginRead();
    const auto fit = store->Fit();
    const std::pair<uint64_t, int32_t> result{fit ? fit->fingerprint : 0, store->ChangesSinceFit()};
    store->Commit();
    return result;
  };
  engine.Learn(path, mail.Header(true, 1), mail.Body(true, 1), true);
  engine.Learn(path, mail.Header(false, 1), mail.Body(false, 1), false);
  EXPECT_EQ((std::pair<uint64_t, int32_t>{0, 2}), state()) << "both classes, but learned in deliveries";
  engine.Relearn(path, mail.Header(false, 2), mail.Body(false, 2), false);
  const uint64_t first = state().first;
  EXPECT_NE(0u, first);
  EXPECT_EQ(0, state().second);
  for (int i = 2; i < 2 + kRefitAfterChanges; ++i) engine.Learn(path, mail.Header(true, i), mail.Body(true, i), true);
  EXPECT_EQ((std::pair<uint64_t, int32_t>{first, kRefitAfterChanges}), state()) << "due, but in deliveries";
  // Verdicts learned count, but are no occasion to refit either.
  for (int i = 100; i < 103; ++i) engine.Score(path, mail.Header(false, i), mail.Body(false, i));
  EXPECT_EQ((std::pair<uint64_t, int32_t>{first, kRefitAfterChanges + 3}), state());
  engine.Relearn(path, mail.Header(true, 1), mail.Body(true, 1), false);
  EXPECT_NE(first, state().first);
  EXPECT_EQ(0, state().second);
}

}  // namespace
}  // namespace varnolt::engine
