#include "platform/system/system_clock.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/system/loaded_library.h"

namespace varnolt {
namespace {

TEST(SystemClockTest, LocalDateTimeHasTheLogLayout) {
  LocalClock clock;
  EXPECT_TRUE(std::regex_match(clock.LocalDateTimeText(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
}

TEST(SystemClockTest, TicksDoNotGoBackwards) {
  SteadyTickSource ticks;
  const uint32_t first = ticks.GetTickCount();
  const uint32_t second = ticks.GetTickCount();
  EXPECT_LT(static_cast<uint32_t>(second - first), 1000u);  // modular: correct across a wrap
}

const int kSomethingInThisProgram = 0;

TEST(LoadedLibraryTest, NamesTheFileOfTheCallingProgram) {
  const std::string path = LoadedLibraryPath(&kSomethingInThisProgram);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ('/', path.front());
  EXPECT_NE(std::string::npos, path.find("test_platform_system"));
}

}  // namespace
}  // namespace varnolt
