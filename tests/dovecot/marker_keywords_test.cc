#include "dovecot/marker_keywords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backends/mailstore/raw_headers.h"

namespace varnolt::dovecot {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

TEST(MarkerKeywordsTest, OurKeywordCarriesTheMarker) {
  EXPECT_EQ(std::nullopt, MarkerOfKeywords({}));
  EXPECT_EQ(std::nullopt, MarkerOfKeywords({"$Junk", "$NotJunk", "$VarnoltMarker", "$VarnoltMarkerX"}));
  EXPECT_EQ(2, MarkerOfKeywords({"$Junk", "$VarnoltMarker2"}));
  EXPECT_EQ(1, MarkerOfKeywords({"$varnoltmarker1"}));
  EXPECT_EQ(-3, MarkerOfKeywords({"$VarnoltMarker-3"}));
}

TEST(MarkerKeywordsTest, ClientsSeeTheVerdict) {
  EXPECT_THAT(KeywordsOfMarker(2), ElementsAre("$VarnoltMarker2", "$Junk"));
  EXPECT_THAT(KeywordsOfMarker(1), ElementsAre("$VarnoltMarker1", "$NotJunk"));
  EXPECT_THAT(KeywordsOfMarker(0), ElementsAre("$VarnoltMarker0"));
}

TEST(MarkerKeywordsTest, AnotherMarkersKeywordsAreStale) {
  const std::vector<std::string> keywords{"$VarnoltMarker1", "$NotJunk", "$Forwarded", "$VarnoltHidden"};
  EXPECT_THAT(StaleMarkerKeywords(keywords, 2), UnorderedElementsAre("$VarnoltMarker1", "$NotJunk"));
  EXPECT_THAT(StaleMarkerKeywords(keywords, 1), ElementsAre());
  EXPECT_THAT(StaleMarkerKeywords({"$junk", "$VarnoltMarker2"}, 1), UnorderedElementsAre("$junk", "$VarnoltMarker2"));
}

TEST(StampMessageTest, TheFiltersLineReplacesAnySendersLines) {
  struct Case {
    const char* name;
    std::string in;
    int32_t marker;
    std::string out;
  };
  const Case cases[] = {
      {"crlf", "From: a\r\nSubject: s\r\n\r\nbody\r\n", 2, "From: a\r\nSubject: s\r\nX-Varnolt: 2\r\n\r\nbody\r\n"},
      {"lf", "From: a\nSubject: s\n\nbody\n", 1, "From: a\nSubject: s\nX-Varnolt: 1\n\nbody\n"},
      {"forged, folded", "X-Varnolt: 1\r\n 1\r\nFrom: a\r\nx-varnolt:2\r\n\r\nX-Varnolt: in body\r\n", 2,
       "From: a\r\nX-Varnolt: 2\r\n\r\nX-Varnolt: in body\r\n"},
      {"no body", "From: a\r\nSubject: s\r\n", 2, "From: a\r\nSubject: s\r\nX-Varnolt: 2\r\n"},
      {"no line end", "Subject: s", 2, "Subject: s\nX-Varnolt: 2\n"},
      {"no header", "\r\nbody\r\n", 2, "X-Varnolt: 2\r\n\r\nbody\r\n"},
      {"unjudged", "X-Varnolt: 2\r\nFrom: a\r\n\r\nbody\r\n", 0, "From: a\r\n\r\nbody\r\n"},
      // Dovecot reads on to the blank line: what it would show as a header goes.
      {"behind a malformed line", "From: a\r\nno colon\r\nX-Varnolt: 1\r\n\r\nbody\r\n", 2,
       "From: a\r\nX-Varnolt: 2\r\nno colon\r\n\r\nbody\r\n"},
      {"behind an envelope line", "From a@b Mon Dec  7 10:00:00 2026\nX-Varnolt: 1\nSubject: s\n\nbody\n", 0,
       "From a@b Mon Dec  7 10:00:00 2026\nSubject: s\n\nbody\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.out, StampMessage(c.in, c.marker));
  }
}

// The plugin stamps a delivery from its first bytes and streams the rest: at
// every length the start is read to, stamping the part the split names and
// appending the rest must give the stamp of the whole.
TEST(StampMessageTest, TheStampOfTheHeaderSectionIsTheStampOfTheWhole) {
  const std::string messages[] = {
      "From: a\r\nX-Varnolt: 1\r\n 1\r\nSubject: s\r\n\r\nX-Varnolt: in body\r\n\r\nmore\r\n",
      "From: a\nno colon\nX-Varnolt: 1\n\nbody\n",
      "Subject: s\r\n \r\n folded after a blank-only line\r\n\r\nbody",
      "From: a\rX-Varnolt: 1\r\rbody with an LF\n",  // lines ending in a lone CR until the body
      "\r\nno header at all\r\n",
      "From: a\r\nSubject: no blank line, no end",
      "From a@b Mon Dec  7 10:00:00 2026\nSubject: s\n\n\nbody\n",
  };
  for (const std::string& whole : messages) {
    SCOPED_TRACE(whole);
    for (int32_t marker : {0, 2}) {
      const std::string stamped = StampMessage(whole, marker);
      for (size_t read = 0; read <= whole.size(); ++read) {
        const size_t split = mailstore::CompleteHeaderSectionLength(std::string_view(whole).substr(0, read));
        if (split == 0) continue;
        ASSERT_LE(split, read);
        EXPECT_EQ(stamped, StampMessage(whole.substr(0, split), marker) + whole.substr(split)) << read;
      }
    }
  }
  EXPECT_EQ(0u, mailstore::CompleteHeaderSectionLength("From: a\r\nSubject: s\r\n"));
  EXPECT_EQ(0u, mailstore::CompleteHeaderSectionLength("From: a\r\n\r"));
  EXPECT_EQ(11u, mailstore::CompleteHeaderSectionLength("From: a\r\n\r\nbody"));
  EXPECT_EQ(0u, mailstore::CompleteHeaderSectionLength("From: a\r\rbody"));
}

}  // namespace
}  // namespace varnolt::dovecot
