// Settings shared by the processes of one server run through a file: each
// services object stands for one process.
#include "backends/complus/file_shared_properties.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace varnolt {
namespace {

class FileSharedPropertiesTest : public ::testing::Test {
 protected:
  FileSharedPropertiesTest() {
    folder_ = std::filesystem::temp_directory_path() /
              ("varnolt-props-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  ~FileSharedPropertiesTest() override { std::filesystem::remove_all(folder_); }

  std::string Path() const { return (folder_ / "settings.cache").string(); }

  // Opens the property in the settings group; *exists tells whether any process had made it.
  static std::shared_ptr<SharedProperty> Open(ComponentServices& process, const std::string& name, bool* exists) {
    int32_t isolation = LockSetGet, release = Process;
    bool group_exists = false;
    auto group = process.CreateSharedPropertyGroupManager()->CreatePropertyGroup("SPGVarnolt", &isolation, &release,
                                                                                  &group_exists);
    return group->CreateProperty(name, exists);
  }

  std::filesystem::path folder_;
};

TEST_F(FileSharedPropertiesTest, AnotherProcessOfTheSameRunFindsWhatTheFirstStored) {
  FileComponentServices first(Path(), "run 1");
  bool exists = true;
  Open(first, "UseJunkMailFolder", &exists)->SetValue(Variant::Text("Junk\tE-Mail\nx\\"));
  EXPECT_FALSE(exists);
  Open(first, "HideSpam", &exists);  // created, never assigned
  Open(first, "DebugLevel", &exists)->SetValue(Variant::Int32(2));

  FileComponentServices second(Path(), "run 1");
  struct Row {
    const char* name;
    Variant value;
  };
  const Row rows[] = {{"UseJunkMailFolder", Variant::Text("Junk\tE-Mail\nx\\")},
                      {"HideSpam", Variant()},
                      {"DebugLevel", Variant::Int32(2)}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto property = Open(second, row.name, &exists);
    EXPECT_TRUE(exists);
    EXPECT_EQ(row.value, property->Value());
  }
}

TEST_F(FileSharedPropertiesTest, AProcessMeetingAPropertyBeingLoadedWaitsForItsValue) {
  FileComponentServices maker(Path(), "run 1");
  FileComponentServices other(Path(), "run 1");
  bool made_exists = true;
  auto loading = Open(maker, "UseJunkMailFolder", &made_exists);  // made, its value being read
  EXPECT_FALSE(made_exists);
  bool other_exists = false;
  Variant seen;
  std::thread reader([&] { seen = Open(other, "UseJunkMailFolder", &other_exists)->Value(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  loading->SetValue(Variant::Text("Junk E-Mail"));
  reader.join();
  EXPECT_TRUE(other_exists);
  EXPECT_EQ(Variant::Text("Junk E-Mail"), seen);
  // One left unassigned is found so once its maker is done with it.
  Open(maker, "HideSpam", &made_exists);
  EXPECT_EQ(Variant(), Open(other, "HideSpam", &other_exists)->Value());
  EXPECT_TRUE(other_exists);
}

TEST_F(FileSharedPropertiesTest, AnotherRunStartsEmptyAndReplacesTheFile) {
  FileComponentServices before(Path(), "run 1");
  bool exists = false;
  Open(before, "HideSpam", &exists)->SetValue(Variant::Int32(1));
  FileComponentServices after(Path(), "run 2");
  EXPECT_EQ(Variant(), Open(after, "HideSpam", &exists)->Value());
  EXPECT_FALSE(exists);
  FileComponentServices late(Path(), "run 1");
  Open(late, "HideSpam", &exists);
  EXPECT_FALSE(exists);
}

TEST_F(FileSharedPropertiesTest, ADamagedOrUnusableFileOnlyCostsTheCache) {
  {
    std::ofstream garbage(Path());
    garbage << "run 1\nno tabs here\nSPGVarnolt\tDebugLevel\tz\t1\nSPGVarnolt\tHideSpam\ti\t";
  }
  FileComponentServices damaged(Path(), "run 1");
  bool exists = true;
  Open(damaged, "DebugLevel", &exists);
  EXPECT_FALSE(exists);
  FileComponentServices nowhere((folder_ / "missing" / "settings.cache").string(), "run 1");
  auto property = Open(nowhere, "DebugLevel", &exists);
  EXPECT_FALSE(exists);
  property->SetValue(Variant::Int32(3));
  EXPECT_EQ(Variant::Int32(3), property->Value());
  Open(nowhere, "DebugLevel", &exists);
  EXPECT_TRUE(exists);
}

}  // namespace
}  // namespace varnolt
