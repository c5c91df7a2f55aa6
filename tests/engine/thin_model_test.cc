// A model that knows too little of one class: no certainty from one-sided
// counts, no runaway from its own verdicts, and the user's first lesson still
// heeded for the same promotion.
#include <gtest/gtest.h>

#include <string>

#include "engine/builtin_spam_engine.h"
#include "test_messages.h"

namespace varnolt {
namespace {

using testing::MailMaker;

// A promotion as one sender sends it again and again: new hops, date and id,
// the same offer in slightly other words.
std::string PromotionHeader(int round, const std::string& sender = "deals@shop.example.biz") {
  return "Received: from mta" + std::to_string(round) + ".shop.example.biz (mta" + std::to_string(round) +
         ".shop.example.biz [198.51.100." + std::to_string(round) + "])\r\n\tby mx.example.org with ESMTP\r\n"
         "From: \"Shop Deals\" <" + sender + ">\r\n"
         "To: alice@example.org\r\n"
         "Subject: Weekend sale: up to 70% off, round " + std::to_string(round) + "\r\n"
         "Message-ID: <promo" + std::to_string(round) + "@shop.example.biz>\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n\r\n";
}

std::string PromotionBody(int round) {
  return "Dear customer, our weekend sale starts now. Up to 70% off sneakers, jackets, watches and "
         "sunglasses. Free shipping on every order over 20 euros. Click here to shop the sale: "
         "http://shop.example.biz/sale?c=" + std::to_string(round) + " Offer valid while stocks last. "
         "To unsubscribe from our newsletter reply STOP. Code WEEKEND" + std::to_string(round);
}

class ThinModelTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "user.dat") const { return folder_.path().string() + "\\" + name; }

  testing::TempFolder folder_;
  MailMaker mail_;
};

TEST_F(ThinModelTest, OneSidedModelsAnswerAMiddleScoreAndFileNothing) {
  BuiltinSpamEngine engine;
  struct Case {
    int ham, spam;
  };
  // Below ten of either class nothing is certain; from ten of each the counts speak.
  const Case cases[] = {{0, 1}, {0, 9}, {3, 9}, {9, 30}, {1, 0}, {30, 2}};
  // Mail unlike any one message taught: its own sender, its own wording.
  const std::string spam_header = PromotionHeader(7, "win@lottery.example.info");
  const std::string spam_body = mail_.Body(true, 100) + " lottery jackpot";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ham) + " HAM, " + std::to_string(c.spam) + " SPAM");
    const std::string path = Path(std::to_string(c.ham) + "-" + std::to_string(c.spam) + ".dat");
    for (int i = 0; i < c.ham; ++i) engine.Learn(path, mail_.Header(false, i), mail_.Body(false, i), false);
    for (int i = 0; i < c.spam; ++i) engine.Learn(path, mail_.Header(true, i), mail_.Body(true, i), true);
    for (const SpamScore& score : {engine.Peek(path, mail_.Header(false, 100), mail_.Body(false, 100)),
                                   engine.Peek(path, spam_header, spam_body)}) {
      EXPECT_FALSE(score.is_spam);
      EXPECT_DOUBLE_EQ(0.5, score.spamminess);
    }
  }
  const std::string both = Path("both.dat");
  for (int i = 0; i < 10; ++i) {
    engine.Learn(both, mail_.Header(false, i), mail_.Body(false, i), false);
    engine.Learn(both, mail_.Header(true, i), mail_.Body(true, i), true);
  }
  EXPECT_TRUE(engine.Peek(both, mail_.Header(true, 100), mail_.Body(true, 100)).is_spam);
  EXPECT_FALSE(engine.Peek(both, mail_.Header(false, 100), mail_.Body(false, 100)).is_spam);
}

TEST_F(ThinModelTest, OwnVerdictsNeverRunAwayAfterOneCorrection) {
  EngineOptions options;
  options.auto_learn.enabled = true;
  BuiltinSpamEngine engine(options);
  engine.Relearn(Path(), PromotionHeader(1), PromotionBody(1), true);
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(engine.Score(Path(), mail_.Header(false, i), mail_.Body(false, i)).is_spam);
    EXPECT_FALSE(engine.Score(Path(), mail_.Header(true, i), mail_.Body(true, i)).is_spam);
  }
  // HAM grows from its own verdicts only up to the minimum, SPAM not at all.
  const SpamCounts counts = engine.GetCounts(Path());
  EXPECT_EQ(1, counts.spam);
  EXPECT_EQ(options.thin_model.min_each_class, counts.ham);
}

TEST_F(ThinModelTest, AModelOfOneClassAloneLearnsNothingFromItself) {
  EngineOptions options;
  options.auto_learn.enabled = true;
  BuiltinSpamEngine engine(options);
  for (const bool spam : {false, true}) {
    SCOPED_TRACE(spam ? "SPAM only" : "HAM only");
    const std::string path = Path(spam ? "spam.dat" : "ham.dat");
    for (int i = 0; i < 6; ++i) engine.Relearn(path, mail_.Header(spam, i), mail_.Body(spam, i), spam);
    // Mail like what it holds is never learned as more of the same (with HAM
    // alone, nor is any other mail: there is no SPAM to tell it from).
    for (int i = 50; i < 60; ++i) {
      EXPECT_FALSE(engine.Score(path, mail_.Header(spam, i), mail_.Body(spam, i)).learned);
      if (!spam) {
        EXPECT_FALSE(engine.Score(path, PromotionHeader(i), PromotionBody(i)).learned);
      }
    }
    const SpamCounts counts = engine.GetCounts(path);
    EXPECT_EQ(6, spam ? counts.spam : counts.ham);
    EXPECT_EQ(0, spam ? counts.ham : counts.spam);
  }
}

TEST_F(ThinModelTest, TheResentPromotionIsStillSpamWithoutAnyHam) {
  BuiltinSpamEngine engine;
  // Taught, not moved by the user: a user's move decides the whole campaign
  // in that mailbox, whoever sends it (corrections_test.cc).
  engine.LearnMessage(Path(), PromotionHeader(1), PromotionBody(1), true);
  struct Case {
    const char* name;
    std::string header, body;
    bool is_spam;
  };
  const Case cases[] = {
      {"the same promotion again", PromotionHeader(2), PromotionBody(2), true},
      {"and again, a week later", PromotionHeader(9), PromotionBody(9), true},
      {"its text from another sender", PromotionHeader(3, "offers@other.example.net"), PromotionBody(3), false},
      {"the sender with other mail", PromotionHeader(4), mail_.Body(false, 4), false},
      {"unrelated mail", mail_.Header(false, 5), mail_.Body(false, 5), false},
      {"unrelated spam", mail_.Header(true, 6), mail_.Body(true, 6), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.is_spam, engine.Peek(Path(), c.header, c.body).is_spam);
  }
}

}  // namespace
}  // namespace varnolt
