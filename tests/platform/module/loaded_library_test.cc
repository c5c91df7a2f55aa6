#include "platform/module/loaded_library.h"

#include <gtest/gtest.h>

#include <string>

namespace varnolt {
namespace {

const int kSomethingInThisProgram = 0;

TEST(LoadedLibraryTest, NamesTheFileOfTheCallingProgram) {
  const std::string path = LoadedLibraryPath(&kSomethingInThisProgram);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ('/', path.front());
  EXPECT_NE(std::string::npos, path.find("test_platform_module"));
}

}  // namespace
}  // namespace varnolt
