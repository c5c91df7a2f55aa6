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

}  // namespace
}  // namespace varnolt::engine
