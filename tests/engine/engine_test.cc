#include "engine/builtin_spam_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/engine_errors.h"
#include "platform/com/com_error.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::MailMaker;

constexpr char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

class EngineTest : public ::testing::Test {
 protected:
  // The path as the filter composes it, with "\" separators.
  std::string DatPath(const std::string& name = "user.dat") const { return folder_.path().string() + "\\" + name; }
  fs::path FilePath(const std::string& name = "user.dat") const { return folder_.path() / name; }

  void Learn(bool spam, int seed) { engine_.Learn(DatPath(), mail_.Header(spam, seed), mail_.Body(spam, seed), spam); }
  double Spamminess(bool spam, int seed) {
    return engine_.Peek(DatPath(), mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess;
  }

  testing::TempFolder folder_;
  MailMaker mail_;
  BuiltinSpamEngine engine_;
};

TEST_F(EngineTest, EmptyModelSaysHamAndClassifyCreatesTheFile) {
  EXPECT_FALSE(fs::exists(FilePath()));
  EXPECT_FALSE(engine_.Classify(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1)).is_spam);
  EXPECT_TRUE(fs::exists(FilePath()));
  const SpamCounts counts = engine_.GetCounts(DatPath());
  EXPECT_EQ(0, counts.ham);
  EXPECT_EQ(0, counts.spam);
}

TEST_F(EngineTest, LearnAndRelearnCreateTheFile) {
  engine_.Learn(DatPath("a.dat"), "", "hello there", false);
  engine_.Relearn(DatPath("b.dat"), "", "hello there", true);
  EXPECT_TRUE(fs::exists(FilePath("a.dat")));
  EXPECT_TRUE(fs::exists(FilePath("b.dat")));
}

TEST_F(EngineTest, MissingFileOrEmptyPathCountsZeroAndCreatesNothing) {
  for (const std::string& path : {std::string(), DatPath()}) {
    const SpamCounts counts = engine_.GetCounts(path);
    EXPECT_EQ(0, counts.ham);
    EXPECT_EQ(0, counts.spam);
  }
  EXPECT_TRUE(fs::is_empty(folder_.path()));
}

TEST_F(EngineTest, PeekAnswersFromAnEmptyModelWithoutCreatingTheFile) {
  const SpamScore score = engine_.Peek(DatPath(), mail_.Header(true, 1), mail_.Body(true, 1));
  EXPECT_FALSE(score.is_spam);
  EXPECT_DOUBLE_EQ(0.5, score.spamminess);
  EXPECT_TRUE(fs::is_empty(folder_.path()));
}

TEST_F(EngineTest, PeekChangesNothingInAnExistingFile) {
  for (int i = 0; i < 5; ++i) Learn(i % 2 == 0, i);
  auto listing = [&] {
    std::vector<fs::path> files(fs::directory_iterator(folder_.path()), fs::directory_iterator());
    std::sort(files.begin(), files.end());
    return files;
  };
  const std::string before = testing::FileBytes(FilePath());
  // The file and the side files of its write-ahead log, which the open model keeps.
  const std::vector<fs::path> files = listing();
  const SpamScore peeked = engine_.Peek(DatPath(), mail_.Header(true, 9), mail_.Body(true, 9));
  EXPECT_EQ(before, testing::FileBytes(FilePath()));
  EXPECT_EQ(files, listing());
  EXPECT_DOUBLE_EQ(peeked.spamminess, engine_.Score(DatPath(), mail_.Header(true, 9), mail_.Body(true, 9)).spamminess);
}

TEST_F(EngineTest, MissingDirectoryIsAnErrorAndIsNotCreated) {
  const std::string path = folder_.path().string() + "\\nodomain\\user.dat";
  for (int op = 0; op < 3; ++op) {
    SCOPED_TRACE(op);
    try {
      if (op == 0) engine_.Classify(path, "", "x");
      if (op == 1) engine_.Learn(path, "", "x", true);
      if (op == 2) engine_.Relearn(path, "", "x", true);
      ADD_FAILURE() << "no error";
    } catch (const ComError& e) {
      EXPECT_EQ(kPathNotFound, e.number());
      EXPECT_EQ("Path not found", e.description());
    }
  }
  EXPECT_FALSE(fs::exists(folder_.path() / "nodomain"));
}

TEST_F(EngineTest, EmptyPathIsAnErrorForOperationsThatStore) {
  EXPECT_THROW(engine_.Classify("", "", "x"), ComError);
  EXPECT_THROW(engine_.Learn("", "", "x", true), ComError);
  EXPECT_FALSE(engine_.Peek("", "", "x").is_spam);
}

TEST_F(EngineTest, GtubeIsSpamWhateverTheModelSays) {
  for (int i = 0; i < 20; ++i) Learn(false, i);
  const std::string hammy = mail_.Body(false, 100);
  EXPECT_FALSE(engine_.Classify(DatPath(), mail_.Header(false, 100), hammy).is_spam);
  EXPECT_TRUE(engine_.Classify(DatPath(), mail_.Header(false, 100), hammy + "\r\n" + kGtube + "\r\n").is_spam);
  EXPECT_TRUE(engine_.Classify(DatPath(), "X-Test: " + std::string(kGtube) + "\r\n" + mail_.Header(false, 100), hammy).is_spam);
  const SpamScore peeked = engine_.Peek(DatPath("absent.dat"), "", kGtube);
  EXPECT_TRUE(peeked.is_spam);
  EXPECT_DOUBLE_EQ(1.0, peeked.spamminess);
}

TEST_F(EngineTest, ScoresAreTheSameWhateverTheOrderOfLearning) {
  struct Order {
    const char* name;
    std::function<void(const std::string&)> train;
  };
  const auto learn = [&](const std::string& path, bool spam, int seed) {
    engine_.Learn(path, mail_.Header(spam, seed), mail_.Body(spam, seed), spam);
  };
  const auto relearn = [&](const std::string& path, bool spam, int seed, bool as) {
    engine_.Relearn(path, mail_.Header(spam, seed), mail_.Body(spam, seed), as);
  };
  const Order orders[] = {
      {"interleaved", [&](const std::string& path) {
         for (int i = 0; i < 24; ++i) learn(path, true, i), learn(path, false, i);
       }},
      // What `varnolt train --ham DIR` then `--spam DIR` would do, and the other way round.
      {"all HAM first", [&](const std::string& path) {
         for (int i = 0; i < 24; ++i) learn(path, false, i);
         for (int i = 0; i < 24; ++i) learn(path, true, i);
       }},
      {"all SPAM first, backwards", [&](const std::string& path) {
         for (int i = 23; i >= 0; --i) learn(path, true, i);
         for (int i = 23; i >= 0; --i) learn(path, false, i);
       }},
      // Corrections: learned as the wrong class first, moved later; some twice.
      {"corrected and repeated", [&](const std::string& path) {
         for (int i = 0; i < 24; ++i) relearn(path, true, i, i % 3 == 0 ? false : true);
         for (int i = 0; i < 24; ++i) relearn(path, false, i, i % 4 == 0);
         for (int i = 0; i < 24; ++i) relearn(path, true, i, true), relearn(path, false, i, false);
         for (int i = 0; i < 24; i += 5) learn(path, false, i), learn(path, true, i);
       }},
  };
  std::vector<double> first;
  for (const Order& order : orders) {
    SCOPED_TRACE(order.name);
    const std::string path = DatPath(std::string(order.name) + ".dat");
    order.train(path);
    // The weights are refitted every few changes: once refitted, every order holds one set's.
    engine_.Refit(path);
    const SpamCounts counts = engine_.GetCounts(path);
    EXPECT_EQ(24, counts.ham);
    EXPECT_EQ(24, counts.spam);
    std::vector<double> scores;
    double lowest_spam = 1, highest_ham = 0;
    for (int seed = 1000; seed < 1010; ++seed) {
      for (const bool spam : {true, false}) {
        const double score = engine_.Peek(path, mail_.Header(spam, seed), mail_.Body(spam, seed)).spamminess;
        scores.push_back(score);
        (spam ? lowest_spam : highest_ham) = spam ? std::min(lowest_spam, score) : std::max(highest_ham, score);
      }
    }
    if (first.empty()) first = scores;
    EXPECT_EQ(first, scores) << "to the last bit";
    EXPECT_GT(lowest_spam, kSpamThreshold);
    EXPECT_LT(highest_ham, 0.5);
  }
}

TEST_F(EngineTest, ConfidentVerdictsAreLearnedWhenAskedAndCorrectedExactly) {
  EngineOptions options;
  options.auto_learn.enabled = true;
  options.auto_learn.min_learned = 5;
  options.thin_model.min_each_class = 5;
  options.auto_learn.spam_above = 0.85;  // a model this small is seldom surer
  BuiltinSpamEngine learning(options);
  for (int i = 0; i < 8; ++i) Learn(true, i), Learn(false, i);

  const std::string header = mail_.Header(true, 50), body = mail_.Body(true, 50);
  const SpamScore score = learning.Score(DatPath(), header, body);
  ASSERT_TRUE(score.is_spam);
  EXPECT_TRUE(score.learned);
  EXPECT_EQ(9, engine_.GetCounts(DatPath()).spam);
  EXPECT_FALSE(learning.Score(DatPath(), header, body).learned) << "already known";
  EXPECT_EQ(9, engine_.GetCounts(DatPath()).spam);

  // The user says otherwise: the message moves, as if it had been taught so at once.
  engine_.Relearn(DatPath(), header, body, false);
  for (int i = 0; i < 8; ++i) Learn(true, i), Learn(false, i);
  engine_.Learn(DatPath("direct.dat"), header, body, false);
  for (int i = 0; i < 8; ++i) {
    engine_.Learn(DatPath("direct.dat"), mail_.Header(true, i), mail_.Body(true, i), true);
    engine_.Learn(DatPath("direct.dat"), mail_.Header(false, i), mail_.Body(false, i), false);
  }
  engine_.Refit(DatPath());
  engine_.Refit(DatPath("direct.dat"));
  // The models alike (the user's word aside, which decides the corrected mailbox).
  EngineOptions models_only;
  models_only.corrections_stick = false;
  BuiltinSpamEngine plain(models_only);
  EXPECT_EQ(plain.Peek(DatPath("direct.dat"), header, body).spamminess, plain.Peek(DatPath(), header, body).spamminess);
  EXPECT_EQ(ScoreRule::kCorrection, engine_.PeekScore(DatPath(), header, body).rule);
  // And the engine's own verdict never moves it back.
  EXPECT_FALSE(learning.Score(DatPath(), header, body).learned);
  EXPECT_EQ(1, engine_.GetCounts(DatPath()).ham - 8);
}

TEST_F(EngineTest, HamIsLearnedFromItsOwnVerdictOnlyWhenHeaderAndBodyAgree) {
  EngineOptions options;
  options.auto_learn.enabled = true;
  options.auto_learn.min_learned = 5;
  options.thin_model.min_each_class = 5;
  options.auto_learn.ham_below = 0.5;  // the guard alone decides here
  options.auto_learn.part_ham_below = 0.5;
  BuiltinSpamEngine learning(options);
  for (int i = 0; i < 12; ++i) Learn(true, i), Learn(false, i);

  struct Case {
    const char* name;
    std::string header, body;
    bool learned;
  };
  const Case cases[] = {
      {"HAM all through", mail_.Header(false, 60), mail_.Body(false, 60), true},
      // A spammer's header with a body padded with the user's HAM words.
      {"SPAM header, HAM body", mail_.Header(true, 61), mail_.Body(false, 61) + mail_.Body(false, 62), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SpamScore score = learning.Score(DatPath(), c.header, c.body);
    EXPECT_FALSE(score.is_spam);
    EXPECT_EQ(c.learned, score.learned);
  }
}

TEST_F(EngineTest, OwnHamVerdictsAreLearnedOnlyWhileHamIsUnderTwicePerSpam) {
  EngineOptions options;
  options.auto_learn.enabled = true;
  options.auto_learn.min_learned = 5;
  options.thin_model.min_each_class = 5;
  options.auto_learn.ham_below = 0.5;  // the balance alone decides here
  options.auto_learn.part_ham_below = 0.5;
  options.auto_learn.max_ham_per_spam = 2;
  BuiltinSpamEngine learning(options);
  struct Case {
    int ham, spam;
    bool learned;
  };
  const Case cases[] = {{8, 8, true}, {15, 8, true}, {16, 8, false}, {20, 8, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ham) + " HAM, " + std::to_string(c.spam) + " SPAM");
    const std::string path = DatPath(std::to_string(c.ham) + ".dat");
    for (int i = 0; i < c.ham; ++i) engine_.Learn(path, mail_.Header(false, i), mail_.Body(false, i), false);
    for (int i = 0; i < c.spam; ++i) engine_.Learn(path, mail_.Header(true, i), mail_.Body(true, i), true);
    const SpamScore score = learning.Score(path, mail_.Header(false, 70), mail_.Body(false, 70));
    ASSERT_FALSE(score.is_spam);
    EXPECT_EQ(c.learned, score.learned);
    EXPECT_EQ(c.ham + (c.learned ? 1 : 0), engine_.GetCounts(path).ham);
  }
}

TEST_F(EngineTest, TheVerdictsThresholdIsTheAutoLearnersWhileItLearns) {
  // A message of unknown words scores 0.5 against a model that knows other mail.
  for (int i = 0; i < 6; ++i) Learn(true, i), Learn(false, i);
  const std::string header = "Subject: zqxv wobbleflange\n", body = "grintlewhorp snoffbuckle quarvendish";
  ASSERT_EQ(0.5, engine_.Peek(DatPath(), header, body).spamminess);
  for (const bool auto_learn : {false, true}) {
    SCOPED_TRACE(auto_learn ? "learning from itself" : "taught only");
    EngineOptions options;
    options.threshold = 0.6;
    options.auto_learn.enabled = auto_learn;
    options.auto_learn.threshold = 0.4;
    options.auto_learn.min_learned = 100;  // nothing learned: the verdict alone is tested
    EXPECT_EQ(auto_learn, BuiltinSpamEngine(options).Score(DatPath(), header, body).is_spam);
  }
}

TEST_F(EngineTest, AVerdictIsOnlyLearnedAsWhatItSaid) {
  // Learning bounds that overlap the verdict's threshold must not teach the
  // model the opposite of what the user was shown.
  for (int i = 0; i < 6; ++i) Learn(true, i), Learn(false, i);
  const std::string header = "Subject: zqxv wobbleflange\n", body = "grintlewhorp snoffbuckle quarvendish";
  ASSERT_EQ(0.5, engine_.Peek(DatPath(), header, body).spamminess);
  struct Case {
    const char* name;
    double threshold, spam_above, ham_below;
    bool is_spam;
  };
  const Case cases[] = {
      {"called HAM, above the SPAM bound", 0.6, 0.4, 0.0, false},
      {"called SPAM, below the HAM bound", 0.4, 1.0, 0.7, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = DatPath(std::string(c.name) + ".dat");
    for (int i = 0; i < 6; ++i) {
      engine_.Learn(path, mail_.Header(true, i), mail_.Body(true, i), true);
      engine_.Learn(path, mail_.Header(false, i), mail_.Body(false, i), false);
    }
    EngineOptions options;
    options.auto_learn.enabled = true;
    options.auto_learn.min_learned = 5;
    options.thin_model.min_each_class = 5;
    options.auto_learn.threshold = c.threshold;
    options.auto_learn.spam_above = c.spam_above;
    options.auto_learn.ham_below = c.ham_below;
    options.auto_learn.part_ham_below = 1.0;
    const SpamScore score = BuiltinSpamEngine(options).Score(path, header, body);
    EXPECT_EQ(c.is_spam, score.is_spam);
    EXPECT_FALSE(score.learned);
    const SpamCounts counts = engine_.GetCounts(path);
    EXPECT_EQ(6, counts.ham);
    EXPECT_EQ(6, counts.spam);
  }
}

TEST_F(EngineTest, LearnsFromErrorsWithoutAnyHam) {
  // The filter's regime: only corrections at first, here all of them SPAM.
  for (int i = 0; i < 12; ++i) {
    if (!engine_.Classify(DatPath(), mail_.Header(true, i), mail_.Body(true, i)).is_spam) {
      engine_.Relearn(DatPath(), mail_.Header(true, i), mail_.Body(true, i), true);
    }
  }
  EXPECT_TRUE(engine_.Classify(DatPath(), mail_.Header(true, 500), mail_.Body(true, 500)).is_spam);
  EXPECT_EQ(0, engine_.GetCounts(DatPath()).ham);
  EXPECT_GT(engine_.GetCounts(DatPath()).spam, 0);
}

TEST_F(EngineTest, RelearnMovesTheMessageAndIsIdempotent) {
  for (int i = 0; i < 6; ++i) Learn(i % 2 == 0, i);
  const std::string header = mail_.Header(false, 77), body = mail_.Body(false, 77);
  engine_.Learn(DatPath(), header, body, false);
  const double as_ham = engine_.Peek(DatPath(), header, body).spamminess;
  EXPECT_EQ(4, engine_.GetCounts(DatPath()).ham);
  EXPECT_EQ(3, engine_.GetCounts(DatPath()).spam);

  engine_.Relearn(DatPath(), header, body, true);
  const double as_spam = engine_.Peek(DatPath(), header, body).spamminess;
  EXPECT_GT(as_spam, as_ham);
  EXPECT_EQ(3, engine_.GetCounts(DatPath()).ham);
  EXPECT_EQ(4, engine_.GetCounts(DatPath()).spam);

  engine_.Relearn(DatPath(), header, body, true);
  engine_.Learn(DatPath(), header, body, true);
  EXPECT_EQ(as_spam, engine_.Peek(DatPath(), header, body).spamminess);
  EXPECT_EQ(3, engine_.GetCounts(DatPath()).ham);
  EXPECT_EQ(4, engine_.GetCounts(DatPath()).spam);
}

TEST_F(EngineTest, RelearnUndoesWhatTheEarlierLearnTaught) {
  // Learned as HAM, then corrected: the same model as learning it as SPAM directly.
  const std::string header = mail_.Header(true, 3), body = mail_.Body(true, 3);
  engine_.Learn(DatPath("a.dat"), header, body, false);
  engine_.Relearn(DatPath("a.dat"), header, body, true);
  engine_.Learn(DatPath("b.dat"), header, body, true);
  for (int seed = 10; seed < 14; ++seed) {
    EXPECT_NEAR(engine_.Peek(DatPath("b.dat"), mail_.Header(true, seed), mail_.Body(true, seed)).spamminess,
                engine_.Peek(DatPath("a.dat"), mail_.Header(true, seed), mail_.Body(true, seed)).spamminess, 1e-12);
  }
  const SpamCounts counts = engine_.GetCounts(DatPath("a.dat"));
  EXPECT_EQ(0, counts.ham);
  EXPECT_EQ(1, counts.spam);
}

TEST_F(EngineTest, RelearnOfAnUnknownMessageLearnsIt) {
  engine_.Relearn(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), false);
  EXPECT_EQ(1, engine_.GetCounts(DatPath()).ham);
  EXPECT_EQ(0, engine_.GetCounts(DatPath()).spam);
}

}  // namespace
}  // namespace varnolt
