#include <gtest/gtest.h>

#include "dashboard/action_tokens.h"
#include "dashboard/program_run.h"

namespace varnolt::dashboard {
namespace {

TEST(ActionTokensTest, AFormTokenServesOnlyTheLoginThatGotIt) {
  ActionTokens tokens;
  const std::string helpdesk = tokens.TokenFor("Basic aGVscGRlc2s6czNjcmV0");
  EXPECT_EQ(helpdesk, tokens.TokenFor("Basic aGVscGRlc2s6czNjcmV0"));
  EXPECT_EQ(32u, helpdesk.size());
  EXPECT_TRUE(tokens.Valid("Basic aGVscGRlc2s6czNjcmV0", helpdesk));
  const std::string eve = tokens.TokenFor("Basic ZXZlOnMzY3JldA==");
  EXPECT_NE(helpdesk, eve);
  for (const std::string& wrong : {std::string(), helpdesk.substr(0, 31), helpdesk + "0", eve}) {
    SCOPED_TRACE(wrong);
    EXPECT_FALSE(tokens.Valid("Basic aGVscGRlc2s6czNjcmV0", wrong));
  }
  EXPECT_FALSE(tokens.Valid("Basic bmV3OnMzY3JldA==", helpdesk));  // a login that never saw a form
}

TEST(RunProgramTest, OutputStatusAndTimeLimit) {
  struct Case {
    std::vector<std::string> argv;
    int timeout_ms;
    int status;
    std::string output;
    std::string errors;  // contained
  };
  const Case cases[] = {
      {{"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, 10000, 3, "out\n", "err"},
      // Nothing of the server's files is passed on: only 0, 1, 2 and ls's own.
      {{"/bin/sh", "-c", "ls /proc/self/fd | wc -l"}, 10000, 0, "4\n", ""},
      {{"/bin/sh", "-c", "read line; echo \"[$line]\""}, 10000, 0, "[]\n", ""},
      {{"/bin/sleep", "5"}, 200, -1, "", "did not finish within"},
      {{"/nonexistent/doveadm"}, 10000, 127, "", "cannot execute"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv.back());
    const ProgramResult result = RunProgram(c.argv, c.timeout_ms);
    EXPECT_EQ(c.status, result.exit_status);
    EXPECT_EQ(c.output, result.output);
    EXPECT_NE(std::string::npos, result.errors.find(c.errors)) << result.errors;
  }
}

}  // namespace
}  // namespace varnolt::dashboard
