#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "backends/postgres/pg_errors.h"
#include "engine/key_record.h"
#include "engine/linear_fit.h"
#include "engine/stores/store_fixture.h"
#include "engine/tokenizer.h"
#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"

namespace varnolt::testing {
namespace {

namespace fs = std::filesystem;

SpamCounts Counts(int ham, int spam) { return SpamCounts{ham, spam}; }
MATCHER_P(CountsAre, expected, "") { return arg.ham == expected.ham && arg.spam == expected.spam; }

TEST_P(StoreTest, LearningRelearningAndLearningAgainMoveTheCountsExactly) {
  BuiltinSpamEngine engine(Options(models_));
  for (int seed = 1; seed <= 3; ++seed) {
    engine.Learn(DatPath(), mail_.Header(true, seed), mail_.Body(true, seed), true);
    engine.Learn(DatPath(), mail_.Header(false, seed), mail_.Body(false, seed), false);
  }
  EXPECT_THAT(engine.GetCounts(DatPath()), CountsAre(Counts(3, 3)));
  // A correction moves the message; the same lesson again changes nothing.
  EXPECT_EQ(BuiltinSpamEngine::LearnResult::kMoved,
            engine.LearnMessage(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), true));
  EXPECT_EQ(BuiltinSpamEngine::LearnResult::kAlreadyKnown,
            engine.LearnMessage(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), true));
  EXPECT_THAT(engine.GetCounts(DatPath()), CountsAre(Counts(2, 4)));
  // Moved back, every token's counts are as before: the same score as a model taught that way at once.
  engine.Relearn(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), false);
  BuiltinSpamEngine fresh(Options(Backend(GetParam())));
  for (int seed = 1; seed <= 3; ++seed) {
    fresh.Learn(DatPath("bob"), mail_.Header(false, seed), mail_.Body(false, seed), false);
    fresh.Learn(DatPath("bob"), mail_.Header(true, seed), mail_.Body(true, seed), true);
  }
  for (int seed = 10; seed < 14; ++seed) {
    for (bool spam : {false, true}) {
      EXPECT_EQ(fresh.Peek(DatPath("bob"), mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess,
                engine.Peek(DatPath(), mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess);
    }
  }
}

TEST_P(StoreTest, TheUsersFileComesWithTheFirstStoreAndAReadCreatesNothing) {
  BuiltinSpamEngine engine(Options(models_));
  EXPECT_EQ(0.5, engine.Peek(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1)).spamminess);
  EXPECT_THAT(engine.GetCounts(DatPath()), CountsAre(Counts(0, 0)));
  EXPECT_FALSE(fs::exists(FilePath()));
  EXPECT_FALSE(engine.Classify(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1)).is_spam);
  EXPECT_TRUE(fs::exists(FilePath()));
  // The directory belongs to the layout: never made for a model.
  try {
    engine.Learn(folder_.path().string() + "\\nowhere.example\\carol.dat", "", "hello", false);
    ADD_FAILURE() << "a model was stored without its directory";
  } catch (const ComError& error) {
    EXPECT_EQ(76, error.number());
  }
}

TEST_P(StoreTest, AResetForgetsOneModelInPlaceAndLeavesTheOthers) {
  BuiltinSpamEngine engine(Options(models_));
  engine.Learn(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1), true);
  engine.Learn(DatPath("bob"), mail_.Header(false, 1), mail_.Body(false, 1), false);
  engine::ModelLease model = models_->Open(DatPath(), engine::ModelOpen::kExistingOnly);
  ASSERT_TRUE(model);
  model->Clear();
  model.Keep();
  EXPECT_THAT(engine.GetCounts(DatPath()), CountsAre(Counts(0, 0)));
  EXPECT_THAT(engine.GetCounts(DatPath("bob")), CountsAre(Counts(1, 0)));
  EXPECT_TRUE(fs::exists(FilePath()));
  // Forgotten means forgotten: the message counts again when taught again.
  EXPECT_EQ(BuiltinSpamEngine::LearnResult::kLearned,
            engine.LearnMessage(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1), true));
  EXPECT_THAT(engine.GetCounts(DatPath()), CountsAre(Counts(0, 1)));
}

TEST_P(StoreTest, TheDomainsModelTeachesItsOtherMailboxes) {
  EngineOptions options = Options(models_);
  options.domain_learning = true;
  options.domain_consensus = 1;
  BuiltinSpamEngine engine(options);
  for (int seed = 1; seed <= 6; ++seed) {
    engine.Learn(DatPath(), mail_.Header(true, seed), mail_.Body(true, seed), true);
    engine.Learn(DatPath(), mail_.Header(false, seed), mail_.Body(false, seed), false);
  }
  EXPECT_THAT(engine.GetCounts(DatPath("bob")), CountsAre(Counts(0, 0)));
  EXPECT_GT(engine.Peek(DatPath("bob"), mail_.Header(true, 20), mail_.Body(true, 20)).spamminess, 0.9);
  EXPECT_THAT(engine.GetCounts(DomainModelPathBeside(DatPath())), CountsAre(Counts(6, 6)));
}

// Lessons that wait for a second user are kept once per user and message,
// survive another connection, go when users agree or the model is reset.
TEST_P(StoreTest, LessonsWaitInTheDomainsModelUntilUsersAgree) {
  EngineOptions options = Options(models_);
  options.domain_learning = true;
  BuiltinSpamEngine engine(options);
  const std::string domain = DomainModelPathBeside(DatPath());
  engine.Relearn(DatPath("alice"), mail_.Header(true, 1), mail_.Body(true, 1), true);
  engine.Relearn(DatPath("alice"), mail_.Header(true, 1), mail_.Body(true, 1), false);  // she changed her mind
  engine.Learn(DatPath("bob"), mail_.Header(false, 2), mail_.Body(false, 2), false);
  EXPECT_THAT(engine.GetCounts(domain), CountsAre(Counts(0, 0)));
  // Read through a connection of its own, as another process does.
  std::shared_ptr<engine::ModelBackend> reopened =
      GetParam() == Store::kFile ? std::shared_ptr<engine::ModelBackend>(std::make_shared<engine::FileModelBackend>(
                                       std::make_shared<engine::ModelCache>()))
                                 : std::make_shared<engine::PostgresModelBackend>(conninfo_);
  EXPECT_EQ(2, BuiltinSpamEngine(Options(reopened)).WaitingLessons(domain));
  engine::ModelLease model = reopened->Open(domain, engine::ModelOpen::kExistingOnly);
  model->BeginRead();
  const std::vector<engine::PendingLesson> waiting = model->PendingLessons(true);
  model->Commit();
  model.Keep();
  ASSERT_EQ(2u, waiting.size());
  EXPECT_EQ("alice.dat", waiting[0].user);
  EXPECT_FALSE(waiting[0].is_spam);
  EXPECT_FALSE(waiting[0].tokens.empty());
  // Carol agrees with Alice's second word: the domain learns it, Bob's lesson still waits.
  engine.Relearn(DatPath("carol"), mail_.Header(true, 1), mail_.Body(true, 1), false);
  EXPECT_THAT(engine.GetCounts(domain), CountsAre(Counts(1, 0)));
  EXPECT_EQ(1, engine.WaitingLessons(domain));
  model = models_->Open(domain, engine::ModelOpen::kExistingOnly);
  model->Clear();
  model.Keep();
  EXPECT_EQ(0, engine.WaitingLessons(domain));
}

TEST_P(StoreTest, ScoresAndTotalsDoNotDependOnTheOrderOfLessonsOrCorrections) {
  // Alice learns a HAM message that is corrected to SPAM later; Bob learns
  // the same mail in the opposite order, that message as SPAM at once.
  struct Lesson {
    int seed;
    bool spam_mail;
    bool as_spam;
  };
  std::vector<Lesson> lessons;
  for (int seed = 1; seed <= 8; ++seed) lessons.insert(lessons.end(), {{seed, true, true}, {seed, false, false}});
  BuiltinSpamEngine engine(Options(models_));
  for (const Lesson& l : lessons) {
    engine.Learn(DatPath("alice"), mail_.Header(l.spam_mail, l.seed), mail_.Body(l.spam_mail, l.seed), l.as_spam);
  }
  engine.Relearn(DatPath("alice"), mail_.Header(false, 3), mail_.Body(false, 3), true);
  for (auto l = lessons.rbegin(); l != lessons.rend(); ++l) {
    const bool as_spam = l->as_spam || (l->seed == 3 && !l->spam_mail);
    engine.Learn(DatPath("bob"), mail_.Header(l->spam_mail, l->seed), mail_.Body(l->spam_mail, l->seed), as_spam);
  }
  EXPECT_THAT(engine.GetCounts(DatPath("alice")), CountsAre(Counts(7, 9)));
  EXPECT_THAT(engine.GetCounts(DatPath("bob")), CountsAre(Counts(7, 9)));
  for (int seed = 20; seed < 26; ++seed) {
    for (bool spam : {false, true}) {
      EXPECT_EQ(engine.Peek(DatPath("alice"), mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess,
                engine.Peek(DatPath("bob"), mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess);
    }
  }
}

// The key records are a function of the learned set too: Alice's, taught in
// one order with a correction, and Bob's, taught the other way, hold the same
// records, each under its message's final class.
TEST_P(StoreTest, KeyRecordsFollowTheLearnedSetWhateverTheOrder) {
  BuiltinSpamEngine engine(Options(models_));
  for (int seed = 1; seed <= 4; ++seed) {
    for (bool spam : {false, true}) engine.Learn(DatPath("alice"), mail_.Header(spam, seed), mail_.Body(spam, seed), spam);
  }
  engine.Relearn(DatPath("alice"), mail_.Header(false, 2), mail_.Body(false, 2), true);
  for (int seed = 4; seed >= 1; --seed) {
    for (bool spam : {true, false}) {
      engine.Learn(DatPath("bob"), mail_.Header(spam, seed), mail_.Body(spam, seed), spam || seed == 2);
    }
  }
  const engine::LearnedMessages alice = Messages(DatPath("alice")), bob = Messages(DatPath("bob"));
  ASSERT_EQ(8u, alice.size());
  int spam = 0;
  for (size_t i = 0; i < alice.size(); ++i) {
    EXPECT_EQ(alice[i].first, bob[i].first);
    EXPECT_EQ(alice[i].second.is_spam, bob[i].second.is_spam);
    EXPECT_EQ(alice[i].second.keys, bob[i].second.keys);
    const auto keys = engine::UnpackKeys(alice[i].second.keys);
    ASSERT_TRUE(keys);
    EXPECT_GT(keys->size(), 5u);
    spam += alice[i].second.is_spam;
  }
  EXPECT_EQ(5, spam);
  // A reset drops the records with the messages.
  engine::ModelLease model = models_->Open(DatPath("alice"), engine::ModelOpen::kExistingOnly);
  model->Clear();
  model.Keep();
  EXPECT_TRUE(Messages(DatPath("alice")).empty());
}

// A read sees one committed state from its first statement to its end,
// whatever other connections commit meanwhile: the totals, the tokens' counts
// and the user's corrections together.
TEST_P(StoreTest, AReadIsOneSnapshotWhileAnotherConnectionCorrects) {
  BuiltinSpamEngine engine(Options(models_));
  for (int seed = 1; seed <= 3; ++seed) {
    for (bool spam : {false, true}) engine.Learn(DatPath(), mail_.Header(spam, seed), mail_.Body(spam, seed), spam);
  }
  engine.Relearn(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), true);
  const std::vector<uint64_t> ids = engine::FeatureIds(mail_.Header(false, 2), mail_.Body(false, 2), {});

  engine::ModelLease reader = models_->Open(DatPath(), engine::ModelOpen::kExistingOnly);
  reader->BeginRead();
  const std::vector<engine::TokenCounts> before = reader->Lookup(ids);
  EXPECT_THAT(reader->Counts(), CountsAre(Counts(2, 4)));
  ASSERT_EQ(1u, reader->Corrections().size());
  // Another connection moves the message whose tokens the reader looks at.
  engine.Relearn(DatPath(), mail_.Header(false, 2), mail_.Body(false, 2), true);
  const std::vector<engine::TokenCounts> again = reader->Lookup(ids);
  EXPECT_THAT(reader->Counts(), CountsAre(Counts(2, 4)));
  EXPECT_EQ(1u, reader->Corrections().size());
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(before[i].ham, again[i].ham);
    EXPECT_EQ(before[i].spam, again[i].spam);
  }
  reader->Commit();
  // The next read sees the correction.
  reader->BeginRead();
  EXPECT_THAT(reader->Counts(), CountsAre(Counts(1, 5)));
  const std::vector<engine::Correction> corrections = reader->Corrections();
  reader->Commit();
  reader.Keep();
  ASSERT_EQ(2u, corrections.size());
  for (const engine::Correction& correction : corrections) EXPECT_TRUE(correction.is_spam);
  EngineOptions sticking = Options(models_);
  sticking.corrections_stick = true;
  EXPECT_EQ(ScoreRule::kCorrection,
            BuiltinSpamEngine(sticking).PeekScore(DatPath(), mail_.Header(false, 2), mail_.Body(false, 2)).rule);
}

// A user's corrections are bounded: those of the messages learned last stay,
// a message corrected again counting as new.
TEST_P(StoreTest, OnlyTheNewestCorrectionsStay) {
  auto digest = [](int n) {
    engine::MessageDigest digest;
    digest.key[0] = static_cast<uint8_t>(n >> 8);
    digest.key[1] = static_cast<uint8_t>(n);
    return digest;
  };
  const std::string keys = engine::PackKeys({1, 2, 3});
  engine::ModelLease model = models_->Open(DatPath(), engine::ModelOpen::kCreate);
  model->BeginWrite(engine::WriteSync::kMayLose);
  auto correct = [&](int n) {
    model->PutMessage(digest(n), {true, false, keys});
    model->PutCorrection(digest(n), keys);
  };
  for (int n = 0; n < engine::kMaxCorrections; ++n) correct(n);
  correct(0);  // corrected again: the newest now
  correct(engine::kMaxCorrections);
  correct(engine::kMaxCorrections + 1);
  model->Commit();
  model->BeginRead();
  const std::vector<engine::Correction> kept = model->Corrections();
  model->Commit();
  model.Keep();
  ASSERT_EQ(static_cast<size_t>(engine::kMaxCorrections), kept.size());
  auto held = [&](int n) {
    return std::any_of(kept.begin(), kept.end(), [&](const auto& c) { return c.digest == digest(n).key; });
  };
  EXPECT_TRUE(held(0));
  EXPECT_FALSE(held(1));
  EXPECT_FALSE(held(2));
  EXPECT_TRUE(held(3));
  EXPECT_TRUE(held(engine::kMaxCorrections + 1));
}

// A token counted in more messages than were learned is damage in either
// store (the file's other damage: bad_file_test.cc), refused when read.
TEST_P(StoreTest, ATokenCountedAboveTheTotalsIsRefused) {
  if (GetParam() == Store::kFile) GTEST_SKIP() << "the file's bucket bytes: bad_file_test.cc";
  BuiltinSpamEngine engine(Options(models_));
  for (int seed = 1; seed <= 3; ++seed) {
    engine.Learn(DatPath(), mail_.Header(true, seed), mail_.Body(true, seed), true);
    engine.Learn(DatPath(), mail_.Header(false, seed), mail_.Body(false, seed), false);
  }
  postgres::Connection::Open(conninfo_)->Exec("UPDATE varnolt_tokens SET ham = ham + 1000");
  try {
    engine.Classify(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1));
    ADD_FAILURE() << "scored over the damage";
  } catch (const ComError& error) {
    EXPECT_EQ(postgres::kPgBadResult, error.number());
    EXPECT_THAT(error.description(), ::testing::HasSubstr("a token counted in more messages than were learned"));
  }
}

INSTANTIATE_TEST_SUITE_P(BothStores, StoreTest, ::testing::Values(Store::kFile, Store::kPostgres), StoreName);

// The same lessons give the same scores, to the last bit, whichever store holds them.
class AcrossStoresTest : public StoreTest {
 protected:
  void SetUp() override { std::filesystem::create_directories(folder_.path() / "example.com"); }
};

TEST_F(AcrossStoresTest, TheSameLessonsScoreAlikeInEitherStore) {
  BuiltinSpamEngine file(Options(Backend(Store::kFile)));
  BuiltinSpamEngine database(Options(Backend(Store::kPostgres)));
  for (int seed = 1; seed <= 12; ++seed) {
    for (bool spam : {false, true}) {
      file.Learn(DatPath("file"), mail_.Header(spam, seed), mail_.Body(spam, seed), spam);
      database.Learn(DatPath("database"), mail_.Header(spam, seed), mail_.Body(spam, seed), spam);
    }
  }
  // The linear fit too: refitted as `train` does after its batch, stored in each, of the same set, read back alike.
  file.Refit(DatPath("file"));
  database.Refit(DatPath("database"));
  const std::shared_ptr<engine::ModelBackend> backends[] = {Backend(Store::kFile),
                                                            std::make_shared<engine::PostgresModelBackend>(conninfo_)};
  const std::string paths[] = {DatPath("file"), DatPath("database")};
  std::shared_ptr<const engine::LinearFit> fits[2];
  for (int i = 0; i < 2; ++i) {
    engine::ModelLease model = backends[i]->Open(paths[i], engine::ModelOpen::kExistingOnly);
    model->BeginRead();
    fits[i] = model->Fit();
    model->Commit();
    model.Keep();
  }
  ASSERT_TRUE(fits[0] && fits[1]);
  EXPECT_EQ(fits[0]->fingerprint, fits[1]->fingerprint);
  EXPECT_EQ(fits[0]->weights, fits[1]->weights);
  for (int seed = 30; seed < 40; ++seed) {
    for (bool spam : {false, true}) {
      EXPECT_EQ(file.Peek(DatPath("file"), mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess,
                database.Peek(DatPath("database"), mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess);
    }
  }
}

TEST(PostgresModelNameTest, UsersByDomainAndFileDomainsByDirectory) {
  const struct {
    const char* path;
    postgres::ModelKind kind;
    const char* name;
  } cases[] = {
      {"/srv/data\\example.com\\alice.dat", postgres::ModelKind::kUser, "example.com\\alice.dat"},
      {"/srv/data/example.com/alice.dat", postgres::ModelKind::kUser, "example.com\\alice.dat"},
      {"/srv/data\\example.com\\@domain.model", postgres::ModelKind::kDomain, "example.com"},
      {"alice.dat", postgres::ModelKind::kUser, "alice.dat"},
  };
  for (const auto& c : cases) {
    const engine::PostgresModelName name = engine::PostgresModelNameOf(c.path);
    EXPECT_EQ(c.kind, name.kind) << c.path;
    EXPECT_EQ(c.name, name.name) << c.path;
  }
}

// Last: it stops the shared server, and starts it again.
class StoppedServerTest : public StoreTest {
 protected:
  void SetUp() override { std::filesystem::create_directories(folder_.path() / "example.com"); }
};

TEST_F(StoppedServerTest, EveryCallFailsClearlyAndAServerBackNeedsNoRepair) {
  BuiltinSpamEngine engine(Options(Backend(Store::kPostgres)));
  engine.Learn(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1), true);
  ASSERT_TRUE(server->Stop());
  for (const auto& call : std::vector<std::function<void()>>{
           [&] { engine.Classify(DatPath(), mail_.Header(true, 2), mail_.Body(true, 2)); },
           [&] { engine.Learn(DatPath(), mail_.Header(false, 2), mail_.Body(false, 2), false); },
           [&] { engine.GetCounts(DatPath()); }}) {
    try {
      call();
      ADD_FAILURE() << "a call succeeded with the server stopped";
    } catch (const ComError& error) {
      EXPECT_EQ(postgres::kPgUnavailable, error.number());
      EXPECT_THAT(error.description(), ::testing::HasSubstr("PostgreSQL"));
    }
  }
  ASSERT_TRUE(server->Restart());
  engine.Learn(DatPath(), mail_.Header(false, 2), mail_.Body(false, 2), false);
  EXPECT_THAT(engine.GetCounts(DatPath()), CountsAre(Counts(1, 1)));
}

}  // namespace
}  // namespace varnolt::testing
