// A message is the same message whatever its line ends: delivered with CR LF,
// read back from a maildir with LF, it is learned once and corrected exactly.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "engine/builtin_spam_engine.h"
#include "engine/feature_hash.h"
#include "test_messages.h"

namespace varnolt {
namespace {

using engine::DigestMessage;
using testing::MailMaker;

std::string ToLf(std::string text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

TEST(MessageDigestTest, LineEndsDoNotChangeTheKey) {
  MailMaker mail;
  const std::string header = mail.Header(true, 3), body = mail.Body(true, 3);
  ASSERT_NE(std::string::npos, header.find("\r\n"));
  const auto crlf = DigestMessage(header, body);
  const auto lf = DigestMessage(ToLf(header), ToLf(body));
  EXPECT_EQ(crlf.key, lf.key);
  // The earlier engines' keys (of the whole LF text, of the CR LF text) are known from either form.
  ASSERT_EQ(2u, lf.earlier.size());
  EXPECT_EQ(crlf.earlier, lf.earlier);
  // Other messages, and a lone CR, still differ.
  EXPECT_NE(crlf.key, DigestMessage(header, body + "x").key);
  EXPECT_NE(DigestMessage("a\rb", "").key, DigestMessage("a\nb", "").key);
}

// What each delivery prepends, as Postfix, Dovecot's LMTP and our own stamp add it.
std::string Delivered(int hop, const std::string& header) {
  const std::string n = std::to_string(hop);
  return "Return-Path: <bounce" + n + "@lists.example.org>\r\nDelivered-To: alice" + n +
         "@example.com\r\nX-Original-To: alice@example.com\r\nReceived: from mx" + n +
         ".example.com\r\n\tby imap.example.com with LMTP id " + n + "; Mon, 7 Dec 2026 10:0" + n +
         ":00 +0000\r\nX-Varnolt: " + std::to_string(hop % 2 + 1) + "\r\n" + header;
}

TEST(MessageDigestTest, FieldsADeliveryAddsDoNotChangeTheKey) {
  MailMaker mail;
  const std::string header = mail.Header(false, 3), body = mail.Body(false, 3);
  const auto plain = DigestMessage(header, body);
  for (int hop = 1; hop <= 3; ++hop) {
    SCOPED_TRACE(hop);
    const auto delivered = DigestMessage(Delivered(hop, header), body);
    EXPECT_EQ(plain.key, delivered.key);
  }
  // The sender's own fields still tell messages apart, however a field's name is written.
  EXPECT_NE(plain.key, DigestMessage("Subject: other\r\n" + header, body).key);
  EXPECT_EQ(plain.key, DigestMessage("RECEIVED: from x\r\n by y\r\n" + header, body).key);
}

TEST(MessageDigestTest, TheSameMessageDeliveredFourTimesTeachesOnce) {
  testing::TempFolder folder;
  const std::string user = folder.path().string() + "\\alice.dat";
  const std::string domain = folder.path().string() + "\\@domain.model";
  EngineOptions options;
  options.domain_learning = true;
  options.domain_consensus = 1;  // one user teaches the domain at once
  BuiltinSpamEngine engine(options);
  MailMaker mail;
  for (int hop = 1; hop <= 4; ++hop) engine.Learn(user, Delivered(hop, mail.Header(false, 9)), mail.Body(false, 9), false);
  EXPECT_EQ(1, engine.GetCounts(user).ham);
  EXPECT_EQ(1, engine.GetCounts(domain).ham);
  // A correction of any of the copies moves the one message.
  engine.Relearn(user, Delivered(7, mail.Header(false, 9)), mail.Body(false, 9), true);
  EXPECT_EQ(0, engine.GetCounts(user).ham);
  EXPECT_EQ(1, engine.GetCounts(user).spam);
}

class LineEndTest : public ::testing::Test {
 protected:
  std::string DatPath() const { return folder_.path().string() + "\\user.dat"; }
  SpamCounts Counts() { return engine_.GetCounts(DatPath()); }
  void Teach(int count) {
    for (int i = 0; i < count; ++i) {
      engine_.Learn(DatPath(), mail_.Header(false, 100 + i), mail_.Body(false, 100 + i), false);
      engine_.Learn(DatPath(), mail_.Header(true, 100 + i), mail_.Body(true, 100 + i), true);
    }
  }
  // Rewrites the key of every learned message with a key an earlier engine
  // gave the message, as a model file it wrote holds them.
  void StoreUnderEarlierKey(const engine::MessageDigest& digest) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((folder_.path() / "user.dat").c_str(), &db));
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "UPDATE messages SET digest = ?1 WHERE digest = ?2", -1, &stmt, nullptr));
    sqlite3_bind_blob(stmt, 1, digest.earlier.front().data(), 16, SQLITE_STATIC);
    sqlite3_bind_blob(stmt, 2, digest.key.data(), 16, SQLITE_STATIC);
    EXPECT_EQ(SQLITE_DONE, sqlite3_step(stmt));
    EXPECT_EQ(1, sqlite3_changes(db));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }

  testing::TempFolder folder_;
  MailMaker mail_;
  BuiltinSpamEngine engine_;
};

TEST_F(LineEndTest, AMessageLearnedWithCrLfIsCorrectedWhenReadBackWithLf) {
  Teach(10);
  const std::string header = mail_.Header(false, 7), body = mail_.Body(false, 7);
  engine_.Learn(DatPath(), header, body, false);
  EXPECT_EQ(11, Counts().ham);
  engine_.Relearn(DatPath(), ToLf(header), ToLf(body), true);
  EXPECT_EQ(10, Counts().ham);
  EXPECT_EQ(11, Counts().spam);
  engine_.Relearn(DatPath(), ToLf(header), ToLf(body), false);
  EXPECT_EQ(11, Counts().ham);
  EXPECT_EQ(10, Counts().spam);
}

TEST_F(LineEndTest, AMessageAnEarlierEngineLearnedIsFoundAndMovedToItsKey) {
  Teach(10);
  // Its first earlier key is the one of the whole header, delivery's fields and all.
  const std::string header = Delivered(1, mail_.Header(true, 7)), body = mail_.Body(true, 7);
  engine_.Learn(DatPath(), header, body, false);
  StoreUnderEarlierKey(DigestMessage(header, body));
  // Read back from a maildir: found under the earlier key, moved, and from then on under the new one.
  for (bool spam : {true, false, true}) {
    SCOPED_TRACE(spam);
    engine_.Relearn(DatPath(), ToLf(header), ToLf(body), spam);
    EXPECT_EQ(spam ? 10 : 11, Counts().ham);
    EXPECT_EQ(spam ? 11 : 10, Counts().spam);
  }
  engine_.Learn(DatPath(), header, body, true);
  EXPECT_EQ(11, Counts().spam);
}

}  // namespace
}  // namespace varnolt
