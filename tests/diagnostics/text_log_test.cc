#include "diagnostics/text_log.h"

#include <gtest/gtest.h>

#include "platform/com/com_error.h"
#include "support/fake_platform.h"

namespace varnolt {
namespace {

TEST(TextLogTest, ErrorMessageShowsTheNumberInUpperCaseHex) {
  const struct {
    int32_t number;
    const char* hex;
  } cases[] = {
      {0, "0"}, {76, "4C"}, {-1, "FFFFFFFF"}, {-2147467259, "80004005"}, {-2147217895, "80040E19"}, {255, "FF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(std::string("Err: Something failed: Boom 0x") + c.hex + " Source: file://./x",
              ErrorLogMessage("Something failed: Boom", c.number, "file://./x"));
  }
  EXPECT_EQ("Err: Parsing constructor string failed: Subscript out of range 0x9 Source: ",
            ErrorLogMessage("Parsing constructor string failed: Subscript out of range", 9, ""));
}

class AppendLogLineTest : public ::testing::Test {
 protected:
  testing::FakePlatform platform_;
};

TEST_F(AppendLogLineTest, LineIsDateTimeSignedTickAndMessage) {
  const std::string folder = platform_.dir() + "data\\";
  ASSERT_TRUE(platform_.Files().CreateDirectory(folder).created);
  const struct {
    uint32_t tick;
    std::string message;
    std::string line;
  } cases[] = {
      {1000, "Loading DebugLevel(1) from registry.", "2026-12-07 10:00:00 1000 Loading DebugLevel(1) from registry."},
      {0x80000000u, "", "2026-12-07 10:00:00 -2147483648 "},
      {0xFFFFFFFFu, "two\r\nlines", "2026-12-07 10:00:00 -1 two\r\nlines"},
      {0, "wrapped", "2026-12-07 10:00:00 0 wrapped"},
  };
  std::string expected;
  for (const auto& c : cases) {
    platform_.ticks.now = c.tick;
    AppendLogLine(platform_, folder, c.message);
    expected += c.line + "\r\n";
  }
  EXPECT_EQ(expected, platform_.ReadFile(platform_.dir() + "data/Varnolt.log"));
}

TEST_F(AppendLogLineTest, MissingFolderFailsAndCreatesNothing) {
  try {
    AppendLogLine(platform_, platform_.dir() + "missing\\", "x");
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(kPathNotFound, e.number());
    EXPECT_EQ("Path not found", e.description());
  }
  EXPECT_FALSE(platform_.Exists(platform_.dir() + "missing"));
}

}  // namespace
}  // namespace varnolt
