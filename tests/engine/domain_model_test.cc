// The shared model of a domain beside each user's own: consulted by every
// mailbox of the domain, taught by corrections once per message, order-free,
// and never made into a user's file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "engine/builtin_spam_engine.h"
#include "engine/domain_consensus.h"
#include "engine/key_record.h"
#include "engine/linear_fit.h"
#include "engine/model_store.h"
#include "platform/names/data_layout.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using testing::MailMaker;

class DomainModelTest : public ::testing::Test {
 protected:
  DomainModelTest() { fs::create_directories(folder_.path() / "example.org"); }

  std::string DataFolder() const { return folder_.path().string() + "\\"; }
  std::string User(const std::string& user) const { return UserDatabasePath(DataFolder(), "example.org", user); }
  std::string Domain() const { return DomainModelPath(DataFolder(), "example.org"); }
  bool Exists(const std::string& composed) const { return fs::exists(ToFs(composed)); }
  static std::string ToFs(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
  }

  // The domain taught n messages of each class, as `train --domain` does.
  void TeachDomain(BuiltinSpamEngine& engine, int n, int first = 0) {
    for (int i = first; i < first + n; ++i) {
      engine.LearnMessage(Domain(), mail_.Header(true, i), mail_.Body(true, i), true);
      engine.LearnMessage(Domain(), mail_.Header(false, i), mail_.Body(false, i), false);
    }
  }

  EngineOptions Learning(bool domain_learning) const {
    EngineOptions options;
    options.domain_learning = domain_learning;
    return options;
  }

  testing::TempFolder folder_;
  MailMaker mail_;
};

TEST(DomainModelNameTest, NoMailboxNameCanNameTheSharedFile) {
  const std::string data = "D:\\data\\";
  const std::string shared = DomainModelPath(data, "example.org");
  EXPECT_EQ(shared, DomainModelPathBeside(UserDatabasePath(data, "example.org", "alice")));
  EXPECT_EQ("/srv/d/example.org/@domain.model", DomainModelPathBeside("/srv/d/example.org/bob.dat"));
  // Users named like the file, or like it without its ending: their files end in ".dat".
  for (const std::string user : {"@domain.model", "@domain", "domain.model", "@domain.model.dat", "@", "model"}) {
    SCOPED_TRACE(user);
    const std::string dat = UserDatabasePath(data, "example.org", user);
    for (const std::string& file : {dat, WhiteListPath(dat), dat + ".create", dat + "-journal"}) {
      EXPECT_NE(shared, file);
    }
  }
}

TEST_F(DomainModelTest, ANewMailboxJudgesByTheDomainsModelWithoutAFileOfItsOwn) {
  BuiltinSpamEngine engine;
  TeachDomain(engine, 12);
  EXPECT_FALSE(Exists(User("newcomer"))) << "teaching the domain makes no user known";
  EXPECT_TRUE(engine.Peek(User("newcomer"), mail_.Header(true, 100), mail_.Body(true, 100)).is_spam);
  EXPECT_FALSE(engine.Peek(User("newcomer"), mail_.Header(false, 100), mail_.Body(false, 100)).is_spam);
  EXPECT_FALSE(Exists(User("newcomer"))) << "check creates nothing";
  EXPECT_EQ(0, engine.GetCounts(User("newcomer")).spam);

  EngineOptions alone;
  alone.consult_domain = false;
  EXPECT_EQ(0.5, BuiltinSpamEngine(alone).Peek(User("newcomer"), mail_.Header(true, 100),
                                                mail_.Body(true, 100)).spamminess);
}

TEST_F(DomainModelTest, CorrectionsTeachTheDomainOncePerMessageWhenUsersAgree) {
  struct Case {
    const char* name;
    bool domain_learning;
    uint32_t consensus;
    int ham, spam;  // the domain's counts at the end
    int64_t waiting;
  };
  const Case cases[] = {{"the first user teaches", true, 1, 2, 1, 0},
                        {"two users must agree", true, 2, 0, 1, 3},
                        {"domain learning off", false, 2, 0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(ToFs(Domain()));
    EngineOptions options = Learning(c.domain_learning);
    options.domain_consensus = c.consensus;
    BuiltinSpamEngine engine(options);
    // Two users drag the same spam: one message for the domain.
    engine.Relearn(User("alice"), mail_.Header(true, 1), mail_.Body(true, 1), true);
    engine.Relearn(User("bob"), mail_.Header(true, 1), mail_.Body(true, 1), true);
    // Trusted mail of one user, and a message one user drags in and another rescues.
    engine.Learn(User("alice"), mail_.Header(false, 2), mail_.Body(false, 2), false);
    engine.Relearn(User("alice"), mail_.Header(true, 3), mail_.Body(true, 3), true);
    engine.Relearn(User("bob"), mail_.Header(true, 3), mail_.Body(true, 3), false);
    const SpamCounts domain = engine.GetCounts(Domain());
    EXPECT_EQ(c.ham, domain.ham);
    EXPECT_EQ(c.spam, domain.spam);
    EXPECT_EQ(c.waiting, engine.WaitingLessons(Domain()));
    EXPECT_EQ(2, engine.GetCounts(User("alice")).spam) << "each user keeps its own lessons";
    EXPECT_EQ(1, engine.GetCounts(User("bob")).ham);
  }
}

// One user's dislike of a newsletter stays that user's until a second agrees:
// the domain's counts and the other users' verdicts do not move, the lessons
// wait (once per user, across a restart), and the second user's agreement
// teaches the domain the whole run of issues.
TEST_F(DomainModelTest, OneUsersCorrectionsWaitForASecondUserToAgree) {
  auto newsletter = [](int n) {
    return std::pair<std::string, std::string>{
        "From: \"Garden Club\" <news@garden-club.example.net>\r\nSubject: Club news, week " + std::to_string(n) +
            "\r\nMessage-ID: <g" + std::to_string(n) + "@garden-club.example.net>\r\n\r\n",
        "Spring planting days, seed swap at the community hall, compost workshop on Saturday, tool library "
        "opening hours, members' photos of the month and the committee's minutes. Issue " + std::to_string(n)};
  };
  EngineOptions options = Learning(true);
  BuiltinSpamEngine engine(options);
  TeachDomain(engine, 30);
  engine.Refit(Domain());
  const SpamCounts before = engine.GetCounts(Domain());
  std::vector<double> carol_before;
  for (int n = 1; n <= 6; ++n) carol_before.push_back(engine.Peek(User("carol"), newsletter(n).first, newsletter(n).second).spamminess);
  for (int n = 1; n <= 5; ++n) engine.Relearn(User("alice"), newsletter(n).first, newsletter(n).second, true);
  engine.Relearn(User("alice"), newsletter(1).first, newsletter(1).second, true);  // counted once
  EXPECT_EQ(before.spam, engine.GetCounts(Domain()).spam);
  EXPECT_EQ(before.ham, engine.GetCounts(Domain()).ham);
  EXPECT_EQ(5, engine.GetCounts(User("alice")).spam);
  for (int n = 1; n <= 6; ++n) {
    EXPECT_EQ(carol_before[n - 1], engine.Peek(User("carol"), newsletter(n).first, newsletter(n).second).spamminess)
        << "issue " << n;
  }
  // Another process, after a restart: the lessons still wait.
  options.cache = std::make_shared<engine::ModelCache>();
  BuiltinSpamEngine restarted(options);
  EXPECT_EQ(5, restarted.WaitingLessons(Domain()));
  restarted.Relearn(User("bob"), newsletter(6).first, newsletter(6).second, true);
  EXPECT_EQ(before.spam + 6, restarted.GetCounts(Domain()).spam) << "bob's issue and alice's five, its near duplicates";
  EXPECT_EQ(0, restarted.WaitingLessons(Domain()));
}

TEST(ConsensusNearDuplicateTest, MostKeysShared) {
  std::vector<uint32_t> issue(100);
  for (uint32_t i = 0; i < 100; ++i) issue[i] = i * 7;
  auto changed = [&](size_t replaced) {
    std::vector<uint32_t> keys(issue.begin() + static_cast<long>(replaced), issue.end());
    for (size_t i = 0; i < replaced; ++i) keys.push_back(100000 + static_cast<uint32_t>(i));
    std::sort(keys.begin(), keys.end());
    return keys;
  };
  struct Case {
    const char* name;
    std::vector<uint32_t> other;
    bool near;
  };
  const Case cases[] = {{"the same", issue, true},
                        {"a few keys new", changed(5), true},
                        {"two in five new", changed(40), true},
                        {"half new", changed(50), false},
                        {"a short part of it", std::vector<uint32_t>(issue.begin(), issue.begin() + 30), false},
                        {"nothing", {}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.near, engine::ConsensusNearDuplicate(issue, c.other));
    EXPECT_EQ(c.near, engine::ConsensusNearDuplicate(c.other, issue));
  }
}

TEST_F(DomainModelTest, ScoresDoNotDependOnTheOrderEitherModelLearnedIn) {
  BuiltinSpamEngine engine;
  const std::string header = mail_.Header(true, 300), body = mail_.Body(false, 300) + mail_.Body(true, 301);
  double scores[2];
  for (const bool spam_first : {false, true}) {
    fs::remove(ToFs(Domain()));
    fs::remove(ToFs(User("alice")));
    for (const bool pass_spam : {spam_first, !spam_first}) {
      for (int i = 0; i < 12; ++i) {
        engine.LearnMessage(Domain(), mail_.Header(pass_spam, i), mail_.Body(pass_spam, i), pass_spam);
        engine.Relearn(User("alice"), mail_.Header(pass_spam, 50 + i), mail_.Body(pass_spam, 50 + i), pass_spam);
      }
    }
    // The weights of the whole sets, however the refits fell: the domain's first, the user's over it.
    engine.Refit(Domain());
    engine.Refit(User("alice"));
    scores[spam_first] = engine.Peek(User("alice"), header, body).spamminess;
  }
  EXPECT_DOUBLE_EQ(scores[0], scores[1]);
  EXPECT_NE(0.5, scores[0]);
}

TEST_F(DomainModelTest, OwnHamVerdictsAreBoundedByTheMailboxsOwnModelAlone) {
  EngineOptions options;
  options.auto_learn.enabled = true;
  options.auto_learn.ham_below = 0.5;  // the balance alone decides here
  options.auto_learn.part_ham_below = 0.5;
  options.auto_learn.max_ham_per_spam = 2;
  struct Case {
    const char* name;
    int own_ham, own_spam;
    bool learned;
  };
  // The domain holds 30 HAM and 10 SPAM: with its HAM counted, no mailbox would
  // learn its own HAM. The mailbox's HAM is held under twice all the SPAM known.
  const Case cases[] = {{"own model empty", 0, 0, true},
                        {"under twice the SPAM known", 19, 0, true},
                        {"twice the SPAM known", 20, 0, false},
                        {"its own SPAM counts too", 20, 1, true},
                        {"over twice the SPAM known", 25, 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(ToFs(Domain()));
    fs::remove(ToFs(User("alice")));
    BuiltinSpamEngine engine(options);
    TeachDomain(engine, 10);
    for (int i = 10; i < 30; ++i) engine.LearnMessage(Domain(), mail_.Header(false, i), mail_.Body(false, i), false);
    for (int i = 0; i < c.own_ham; ++i) {
      engine.LearnMessage(User("alice"), mail_.Header(false, 40 + i), mail_.Body(false, 40 + i), false);
    }
    for (int i = 0; i < c.own_spam; ++i) {
      engine.LearnMessage(User("alice"), mail_.Header(true, 40 + i), mail_.Body(true, 40 + i), true);
    }
    const SpamScore score = engine.Score(User("alice"), mail_.Header(false, 70), mail_.Body(false, 70));
    ASSERT_FALSE(score.is_spam);
    EXPECT_EQ(c.learned, score.learned);
    EXPECT_EQ(c.own_ham + (c.learned ? 1 : 0), engine.GetCounts(User("alice")).ham);
    EXPECT_EQ(30, engine.GetCounts(Domain()).ham) << "the engine's own verdicts go to the mailbox's model";
  }
}

TEST_F(DomainModelTest, TheUsersOwnCorrectionWinsOnTheUsersOwnMail) {
  BuiltinSpamEngine engine;
  TeachDomain(engine, 30);
  // A shop's newsletter that other users dragged into the junk folder twice.
  auto newsletter = [](int n) {
    return std::pair<std::string, std::string>{
        "From: \"Hiking Shop\" <news@hiking-shop.example.net>\r\nSubject: Members' offers, week " +
            std::to_string(n) + "\r\nMessage-ID: <w" + std::to_string(n) + "@hiking-shop.example.net>\r\n\r\n",
        "New boots and tents for members, 20% off this week. Trail report and club meetings. Issue " +
            std::to_string(n)};
  };
  for (int n = 1; n <= 2; ++n) engine.LearnMessage(Domain(), newsletter(n).first, newsletter(n).second, true);
  engine.Refit(Domain());  // as `train --domain` does after its batch
  ASSERT_TRUE(engine.Peek(User("alice"), newsletter(3).first, newsletter(3).second).is_spam);
  // Alice rescues one: her next issue is HAM, while Bob's stays SPAM.
  engine.Relearn(User("alice"), newsletter(3).first, newsletter(3).second, false);
  EXPECT_FALSE(engine.Peek(User("alice"), newsletter(4).first, newsletter(4).second).is_spam);
  EXPECT_TRUE(engine.Peek(User("bob"), newsletter(4).first, newsletter(4).second).is_spam);
}

TEST_F(DomainModelTest, AUsersFitTakesUpTheDomainsNewFitAtTheUsersNextLesson) {
  BuiltinSpamEngine engine;
  auto user_fit = [&] {
    auto store = engine::ModelStore::Open(User("alice"), engine::ModelStore::Mode::kExistingOnly);
    store->BeginRead();
    const auto fit = store->Fit();
    store->Commit();
    return fit ? fit->fingerprint : 0;
  };
  auto lesson = [&](int n) { engine.Relearn(User("alice"), mail_.Header(n % 2 == 0, n), mail_.Body(n % 2 == 0, n), n % 2 == 0); };
  TeachDomain(engine, 10);
  engine.Refit(Domain());
  lesson(50);  // the mailbox's first: a fit over both sets
  const uint64_t first = user_fit();
  ASSERT_NE(0u, first);
  lesson(51);
  EXPECT_EQ(first, user_fit()) << "one change, the domain's fit unchanged";
  TeachDomain(engine, 5, 20);
  lesson(52);
  EXPECT_EQ(first, user_fit()) << "the domain's changes not yet in its fit";
  engine.Refit(Domain());
  lesson(53);
  EXPECT_NE(first, user_fit());
}

// A user's correction costs what the user taught: it refits the user's own
// residual fit, holding only the keys of the user's own lessons, and never the
// domain's fit, however many lessons the domain took from it.
TEST_F(DomainModelTest, ACorrectionRefitsTheUsersOwnFitAndNeverTheDomains) {
  EngineOptions options = Learning(true);
  options.domain_consensus = 1;
  BuiltinSpamEngine engine(options);
  TeachDomain(engine, 30);
  engine.Refit(Domain());
  auto fit_of = [&](const std::string& path) {
    auto store = engine::ModelStore::Open(path, engine::ModelStore::Mode::kExistingOnly);
    store->BeginRead();
    const std::shared_ptr<const engine::LinearFit> fit = store->Fit();
    const engine::LearnedMessages messages = store->Messages();
    store->Commit();
    return std::pair{fit, messages};
  };
  const uint64_t domain_fit = fit_of(Domain()).first->fingerprint;
  for (int i = 100; i < 100 + engine::kRefitAfterChanges + 5; ++i) {
    engine.Relearn(User("alice"), mail_.Header(i % 2 == 0, i), mail_.Body(i % 2 == 0, i), i % 2 != 0);
  }
  EXPECT_EQ(60 + engine::kRefitAfterChanges + 5, engine.GetCounts(Domain()).ham + engine.GetCounts(Domain()).spam);
  EXPECT_EQ(domain_fit, fit_of(Domain()).first->fingerprint) << "the domain's fit waits for its own refit";
  const auto [user_fit, user_messages] = fit_of(User("alice"));
  ASSERT_TRUE(user_fit);
  EXPECT_TRUE(user_fit->residual);
  EXPECT_EQ(domain_fit, user_fit->domain_fingerprint);
  std::vector<uint32_t> own_keys;
  for (const auto& [digest, message] : user_messages) {
    const std::vector<uint32_t> keys = *engine::UnpackKeys(message.keys);
    own_keys.insert(own_keys.end(), keys.begin(), keys.end());
  }
  std::sort(own_keys.begin(), own_keys.end());
  for (const auto& [key, weight] : user_fit->weights) {
    EXPECT_TRUE(std::binary_search(own_keys.begin(), own_keys.end(), key)) << key;
  }
  engine.Refit(Domain());
  EXPECT_NE(domain_fit, fit_of(Domain()).first->fingerprint);
}

}  // namespace
}  // namespace varnolt
