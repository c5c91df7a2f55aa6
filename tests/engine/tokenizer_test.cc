#include "engine/tokenizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/html_text.h"

namespace varnolt {
namespace {

using engine::Tokenize;
using engine::TokenizerOptions;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::Not;

std::vector<std::string> BodyTokens(const std::string& body, TokenizerOptions options = {}) {
  return Tokenize("", body, options);
}

struct BodyCase {
  const char* name;
  std::string body;
  std::vector<std::string> present;
  std::vector<std::string> absent;
};

void ExpectTokens(const BodyCase& c) {
  SCOPED_TRACE(c.name);
  const auto tokens = BodyTokens(c.body);
  for (const auto& t : c.present) EXPECT_THAT(tokens, Contains(t));
  for (const auto& t : c.absent) EXPECT_THAT(tokens, Not(Contains(t)));
}

TEST(TokenizerTest, BodyWords) {
  const BodyCase cases[] = {
      {"case folded", "FREE Free free", {"free"}, {"FREE", "Free"}},
      {"latin-1 capitals in utf-8", "\xc3\x89T\xc3\x89 caf\xc3\xa9", {"\xc3\xa9t\xc3\xa9", "caf\xc3\xa9"}, {}},
      {"inner punctuation kept, ends trimmed", "don't e-mail 'quoted' $19.95.", {"don't", "e-mail", "quoted", "$19.95"},
       {"'quoted'", "$19.95."}},
      {"no-break space separates", "free\xc2\xa0money", {"free", "money"}, {"free\xc2\xa0money"}},
      {"unicode punctuation separates", "win\xe2\x80\x94now \xe2\x80\x9cprize\xe2\x80\x9d", {"win", "now", "prize"}, {}},
      {"single characters dropped", "a b c word", {"word"}, {"a", "b"}},
      {"invalid utf-8 kept as bytes", "caf\xe9 cr\xe8me \xff\xfe", {"caf\xe9", "cr\xe8me", "\xff\xfe"}, {}},
      {"truncated utf-8 sequence at the end", "ok \xe2\x82", {"ok"}, {}},
      {"decoded base64 text is just words", "Dear friend, this offer ends today", {"dear", "friend", "offer", "today"},
       {}},
      {"encoded blob becomes a length token", "ZGVhciBmcmllbmQgdGhpcyBvZmZlciBlbmRzIHRvZGF5IGFuZCBtb3JlIHRleHQ=",
       {"long:a6"}, {}},
  };
  for (const BodyCase& c : cases) ExpectTokens(c);
}

TEST(TokenizerTest, HtmlBodies) {
  const BodyCase cases[] = {
      {"numeric entities decode", "<html><body>&#86;&#x69;agra</body></html>", {"viagra", "html:body"}, {}},
      {"named entities and nbsp", "<p>free&nbsp;money &amp; more</p>", {"free", "money", "more"},
       {"free money", "&nbsp", "nbsp"}},
      {"inline tags do not split words", "<html><p>V<b></b>ia<font color=red>gra</font></p>", {"viagra"}, {"gra"}},
      {"block tags split words", "<html><p>one</p><p>two</p>", {"one", "two"}, {"onetwo"}},
      {"comments vanish without a blank", "<html>vi<!-- junk -->agra", {"viagra", "html:comment"}, {"junk"}},
      {"scripts and styles are not text", "<html><script>var secret=1;</script><style>.x{}</style>shown",
       {"shown", "html:script"}, {"secret"}},
      {"link and image hosts", "<a href=\"http://Offers.Example.com/x\"><img src='https://203.0.113.9/a.gif'>",
       {"url:offers.example.com", "url:example.com", "url:ip", "url:203.0.113.9"}, {}},
      {"attribute hints", "<html><font size=7 color=\"#FF0000\">big</font><div style=\"display: none\">x</div>",
       {"html:fontsize:7", "html:color:#ff0000", "html:hidden"}, {}},
      {"broken markup stays text", "<html>a < b and 3<4 done", {"done"}, {}},
      {"entity out of range", "<html>xx&#99999999;yy", {"xx", "yy"}, {"xxyy"}},
  };
  for (const BodyCase& c : cases) ExpectTokens(c);
}

TEST(TokenizerTest, UrlHostsInText) {
  const auto tokens = BodyTokens(
      "Go to www.Shop.Example.co now, or http://paypal.example@198.51.100.7/login or ftp://files.example.net");
  EXPECT_THAT(tokens, AllOf(Contains("url:www.shop.example.co"), Contains("url:shop.example.co"),
                            Contains("url:example.co"), Contains("url:userinfo"), Contains("url:198.51.100.7"),
                            Contains("url:198.51.100"), Contains("url:files.example.net"), Contains("url:count:3")));
  EXPECT_THAT(tokens, Not(Contains("url:paypal.example")));
}

TEST(TokenizerTest, HeaderTokensAreTagged) {
  const std::string header =
      "Return-Path: <bounce@mailer.example.net>\r\n"
      "Received: from relay.example.org (relay.example.org [192.0.2.44])\r\n"
      "\tby mx.example.com (Postfix) with ESMTP id 1234\r\n"
      "From: \"Best Deals\" <deals@shop.example.org>\r\n"
      "Subject: =?utf-8?B?RnJlZSBtb25leQ==?= NOW!\r\n"
      "Message-ID: <abc123@bulk.example.biz>\r\n"
      "Content-Type: text/html; charset=\"windows-1252\"\r\n"
      "X-Mailer: Mass Mailer 5.0\r\n"
      "\r\n"
      "Subject: not a header, the body started\r\n";
  const auto tokens = Tokenize(header, "", {});
  EXPECT_THAT(tokens, AllOf(Contains("subj:free"), Contains("subj:money"), Contains("subj:now"), Contains("subj:!"),
                            Contains("subj:charset:utf-8"), Contains("from:deals"), Contains("from:domain:shop.example.org"),
                            Contains("from:domain:example.org"), Contains("return-path:domain:mailer.example.net")));
  EXPECT_THAT(tokens, AllOf(Contains("rcvd:relay.example.org"), Contains("rcvd:192.0.2.44"), Contains("rcvd:192.0.2"),
                            Contains("rcvd:with:esmtp"), Contains("mid:bulk.example.biz"), Contains("ct:text/html"),
                            Contains("ct:charset:windows-1252"), Contains("mailer:mass"), Contains("hdr:x-mailer")));
  EXPECT_THAT(tokens, Not(Contains("subj:body")));
}

TEST(TokenizerTest, EncodedWordsOfAnyCharsetGiveTheSameWordsAsUtf8) {
  const char* subjects[] = {
      "Subject: =?iso-8859-1?Q?Gr=FC=DFe_aus_M=FCnchen?=\r\n",
      "Subject: =?utf-8?B?R3LDvMOfZSBhdXMgTcO8bmNoZW4=?=\r\n",
      "Subject: =?windows-1252?Q?Gr=FC=DFe?= =?windows-1252?Q?_aus_M=FCnchen?=\r\n",
  };
  for (const char* subject : subjects) {
    SCOPED_TRACE(subject);
    const auto tokens = Tokenize(std::string(subject) + "\r\n", "", {});
    EXPECT_THAT(tokens, AllOf(Contains("subj:grüße"), Contains("subj:münchen")));
  }
}

TEST(TokenizerTest, VeryLongTokensBecomeOneLengthToken) {
  const std::string body = std::string(50000, 'x') + " tail";
  const auto tokens = BodyTokens(body);
  EXPECT_THAT(tokens, AllOf(Contains("long:a20"), Contains("tail")));
  for (const auto& t : tokens) EXPECT_LE(t.size(), 40u) << t.substr(0, 50);
}

TEST(TokenizerTest, WorkIsBoundedForHugeBodies) {
  TokenizerOptions options;
  options.max_body_bytes = 1000;
  std::string body;
  for (int i = 0; body.size() < 5000; ++i) body += "w" + std::to_string(i) + " ";
  const auto tokens = BodyTokens(body + "faraway", options);
  EXPECT_THAT(tokens, Contains("w1"));
  EXPECT_THAT(tokens, Not(Contains("faraway")));
  EXPECT_THAT(tokens, Not(Contains("w999")));

  options.max_body_bytes = 1 << 20;
  options.max_tokens = 50;
  EXPECT_EQ(50u, BodyTokens(body, options).size());
}

TEST(TokenizerTest, PrefixCutNeverSplitsAUtf8Character) {
  TokenizerOptions options;
  options.max_body_bytes = 5;  // falls inside the third "é"
  EXPECT_THAT(BodyTokens("\xc3\xa9\xc3\xa9\xc3\xa9", options), Contains("\xc3\xa9\xc3\xa9"));
}

TEST(TokenizerTest, FeatureIdsAreSortedAndDistinct) {
  const auto ids = engine::FeatureIds("Subject: hello\r\n", "hello hello world", {});
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(ids.end(), std::adjacent_find(ids.begin(), ids.end()));
  EXPECT_EQ(Tokenize("Subject: hello\r\n", "hello hello world", {}).size(), ids.size());
}

TEST(HtmlTextTest, DetectsHtml) {
  EXPECT_TRUE(engine::LooksLikeHtml("<HTML><BODY>x"));
  EXPECT_TRUE(engine::LooksLikeHtml("text <br> more"));
  EXPECT_FALSE(engine::LooksLikeHtml("if a < b and c > d"));
}

}  // namespace
}  // namespace varnolt
