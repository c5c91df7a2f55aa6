// Header blocks as they come from the wild: folding that is not what the
// standard writes.
#include "engine/header_tokens.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/tokenizer.h"

namespace varnolt::engine {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::Not;

TEST(HeaderTokensTest, ContinuationLinesOfBlanksOnlyAreSkipped) {
  for (const std::string blanks : {" ", "\t", "  \t ", " \r"}) {
    SCOPED_TRACE("continuation \"" + blanks + "\"");
    const std::string header = "Subject: cheap\r\n" + blanks + "\n\tpills\r\nFrom: <a@shop.example.org>\r\n\r\n";
    std::vector<std::string> tokens;
    ASSERT_NO_THROW(tokens = Tokenize(header, "", {}));
    EXPECT_THAT(tokens, AllOf(Contains("subj:cheap"), Contains("subj:pills"), Contains("from:domain:shop.example.org")));
  }
  // Before any field: nothing to continue.
  EXPECT_THAT(Tokenize(" \r\nSubject: hello\r\n", "", {}), Contains("subj:hello"));
}

TEST(HeaderTokensTest, FieldsAsRead) {
  struct Case {
    const char* what;
    std::string header;
    std::vector<std::string> present, absent;
  };
  const std::vector<Case> cases = {
      {"lone CR line ends", "From: <a@b.example>\rSubject: old mac\r\r", {"hdr:subject", "subj:old", "from:domain:b.example"},
       {"from:subject"}},
      {"stray line's continuation joins the field before", "Subject: one\r\nno field here\r\n two\r\n",
       {"subj:one", "subj:two"}, {}},
      {"blank before the colon is no field", "Subject : hidden\r\nTo: x@y.example\r\n", {"hdr:to"},
       {"hdr:subject", "subj:hidden"}},
      {"envelope line skipped", "From a@b.example Mon Jan  1 00:00:00 2024\nSubject: hi\n", {"subj:hi"}, {"hdr:from"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> tokens = Tokenize(c.header, "", {});
    for (const std::string& token : c.present) EXPECT_THAT(tokens, Contains(token));
    for (const std::string& token : c.absent) EXPECT_THAT(tokens, Not(Contains(token)));
  }
}

}  // namespace
}  // namespace varnolt::engine
