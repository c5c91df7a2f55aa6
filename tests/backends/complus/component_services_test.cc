#include "backends/complus/in_process_services.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/com/com_error.h"

namespace varnolt {
namespace {

std::shared_ptr<SharedPropertyGroup> OpenGroup(ComponentServices& services, const std::string& name,
                                               int32_t isolation, int32_t release, bool* exists,
                                               int32_t* stored_isolation = nullptr) {
  auto manager = services.CreateSharedPropertyGroupManager();
  auto group = manager->CreatePropertyGroup(name, &isolation, &release, exists);
  if (stored_isolation) *stored_isolation = isolation;
  return group;
}

TEST(ComponentServicesTest, OutsideTheApplicationTheManagerCannotBeCreated) {
  InProcessComponentServices services;
  try {
    services.CreateSharedPropertyGroupManager();
    ADD_FAILURE() << "created outside the application";
  } catch (const ComError& e) {
    EXPECT_EQ(CONTEXT_E_NOCONTEXT, e.number());
    EXPECT_FALSE(e.description().empty());
  }
  services.SetInsideApplication(true);
  EXPECT_NE(nullptr, services.CreateSharedPropertyGroupManager());
}

TEST(ComponentServicesTest, ManagersShareGroupsAndPropertiesOfOneServicesObject) {
  InProcessComponentServices services;
  services.SetInsideApplication(true);
  bool exists = true;
  auto group = OpenGroup(services, "SPGVarnolt", LockSetGet, Process, &exists);
  EXPECT_FALSE(exists);
  auto property = group->CreateProperty("DebugLevel", &exists);
  EXPECT_FALSE(exists);
  EXPECT_TRUE(property->Value().IsEmpty());
  property->SetValue(Variant::Int32(2));

  int32_t isolation = -1;
  auto again = OpenGroup(services, "SPGVarnolt", LockMethod, Standard, &exists, &isolation);
  EXPECT_TRUE(exists);
  EXPECT_EQ(LockSetGet, isolation);  // the modes it was created with
  EXPECT_EQ(Variant::Int32(2), again->CreateProperty("DebugLevel", &exists)->Value());
  EXPECT_TRUE(exists);

  InProcessComponentServices other;
  other.SetInsideApplication(true);
  OpenGroup(other, "SPGVarnolt", LockSetGet, Process, &exists);
  EXPECT_FALSE(exists);
}

TEST(ComponentServicesTest, ReleaseModeDecidesHowLongAGroupLives) {
  InProcessComponentServices services;
  services.SetInsideApplication(true);
  bool exists = false;
  OpenGroup(services, "process", LockSetGet, Process, &exists)->CreateProperty("p", &exists);
  OpenGroup(services, "standard", LockSetGet, Standard, &exists)->CreateProperty("p", &exists);
  OpenGroup(services, "process", LockSetGet, Process, &exists);
  EXPECT_TRUE(exists);
  OpenGroup(services, "standard", LockSetGet, Standard, &exists);
  EXPECT_FALSE(exists);  // went with its last reference
}

TEST(ComponentServicesTest, OnlyOneCallerCreatesAProperty) {
  InProcessComponentServices services;
  services.SetInsideApplication(true);
  bool exists = false;
  auto group = OpenGroup(services, "g", LockSetGet, Process, &exists);
  std::atomic<int> creators{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      bool found = true;
      auto property = group->CreateProperty("setting", &found);
      if (!found) ++creators;
      for (int n = 0; n < 1000; ++n) property->SetValue(Variant::Text(std::to_string(n)));
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(1, creators.load());
  EXPECT_EQ(Variant::Text("999"), group->CreateProperty("setting", &exists)->Value());
}

}  // namespace
}  // namespace varnolt
