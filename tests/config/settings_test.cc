#include "config/settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/shared_settings.h"
#include "platform/com/com_error.h"
#include "support/fake_platform.h"

namespace varnolt {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What the settings cache reports, recorded.
class RecordingFilter final : public Reporter {
 public:
  void LogLine(const std::string& line) override {
    if (log_fails) throw RuntimeError(kPathNotFound);
    logs.push_back(line);
  }
  void LogError(const std::string& sErr, int32_t nErr, const std::string& source) override {
    errors.push_back(sErr + " | " + std::to_string(nErr) + " | " + source);
  }

  bool log_fails = false;
  std::vector<std::string> logs;
  std::vector<std::string> errors;
};

class SettingsTest : public ::testing::Test {
 protected:
  Variant Get(const std::string& name) { return GetSharedSetting(filter_, platform_, debug_level_, name); }

  testing::FakePlatform platform_;
  RecordingFilter filter_;
  int32_t debug_level_ = 0;
};

TEST_F(SettingsTest, FirstAndLaterResultsByKindOfValue) {
  platform_.SetSettingDword("DebugLevel", 2);
  platform_.SetSettingDword("HideSpam", 0);
  platform_.SetSettingText("UseJunkMailFolder", "Junk E-Mail;Spam");
  platform_.SetSettingText("ProviderMode", "1");
  platform_.SetSettingText("UseWhiteList", "");
  platform_.SetSettingText("Zero", "0");
  platform_.SetSettingOfType("AutoWhiteList", REG_EXPAND_SZ, {'1', 0});
  platform_.SetSettingOfType("Binary", REG_BINARY, {1, 0, 0, 0});
  platform_.SetSettingDword("Negative", 0xFFFFFFFFu);

  const struct {
    const char* name;
    Variant first;
    Variant later;
  } cases[] = {
      {"DebugLevel", Variant::Int32(2), Variant::Int32(2)},
      {"HideSpam", Variant::Int16(0), Variant()},
      {"UseJunkMailFolder", Variant::Text("Junk E-Mail;Spam"), Variant::Text("Junk E-Mail;Spam")},
      {"ProviderMode", Variant::Text("1"), Variant::Text("1")},
      {"UseWhiteList", Variant::Int16(0), Variant()},
      {"Zero", Variant::Text("0"), Variant::Text("0")},
      {"AutoWhiteList", Variant::Int16(0), Variant()},
      {"Binary", Variant::Int16(0), Variant()},
      {"Negative", Variant::Int32(-1), Variant::Int32(-1)},
      {"Missing", Variant::Int16(0), Variant()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.first, Get(c.name));
    platform_.SetSettingDword(c.name, 99);  // read once per process: later changes go unseen
    EXPECT_EQ(c.later, Get(c.name));
    EXPECT_EQ(c.later, Get(c.name));
  }
  EXPECT_THAT(filter_.logs, IsEmpty());
  EXPECT_THAT(filter_.errors, IsEmpty());
}

TEST_F(SettingsTest, MissingKeyReadsAsNothingWithoutAnError) {
  EXPECT_EQ(Variant::Int16(0), Get("DebugLevel"));
  EXPECT_EQ(Variant(), Get("DebugLevel"));
  EXPECT_THAT(filter_.errors, IsEmpty());
}

TEST_F(SettingsTest, LoadingLineAtNonZeroDebugLevel) {
  debug_level_ = 1;
  platform_.SetSettingDword("DebugLevel", 3);
  platform_.SetSettingText("UseJunkMailFolder", "Junk E-Mail");
  Get("DebugLevel");
  Get("UseJunkMailFolder");
  Get("AutoWhiteList");
  Get("AutoWhiteList");
  EXPECT_THAT(filter_.logs, ElementsAre("Loading DebugLevel(3) from registry.",
                                        "Loading UseJunkMailFolder(Junk E-Mail) from registry.",
                                        "Loading AutoWhiteList() from registry."));
}

TEST_F(SettingsTest, FailingLoadingLineIsReportedAndTheValueIsLostForTheProcess) {
  debug_level_ = 1;
  filter_.log_fails = true;
  platform_.SetSettingDword("HideSpam", 1);
  EXPECT_EQ(Variant::Int16(0), Get("HideSpam"));
  EXPECT_THAT(filter_.errors, ElementsAre("Get Settings for HideSpam failed: Path not found | 76 | "));
  filter_.log_fails = false;
  EXPECT_EQ(Variant(), Get("HideSpam"));
}

TEST_F(SettingsTest, OutsideTheApplicationEveryCallReportsAndAnswersZero) {
  platform_.SetInsideApplication(false);
  platform_.SetSettingDword("DebugLevel", 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Variant::Int16(0), Get("DebugLevel"));
  ASSERT_EQ(2u, filter_.errors.size());
  EXPECT_THAT(filter_.errors[0], ::testing::StartsWith("Get Settings for DebugLevel failed: "));
  EXPECT_THAT(filter_.errors[0], ::testing::EndsWith(" | " + std::to_string(CONTEXT_E_NOCONTEXT) + " | "));
  platform_.SetInsideApplication(true);
  EXPECT_EQ(Variant::Int32(2), Get("DebugLevel"));  // the registry was never read before
}

// A registry that answers from a script, for the two-step reads.
class ScriptedRegistry final : public Registry {
 public:
  int32_t RegOpenKeyEx(HKEY, const std::string&, uint32_t, uint32_t, HKEY* result) override {
    *result = 1;
    return open_status;
  }
  int32_t RegQueryValueEx(HKEY, const std::string&, uint32_t* type, uint8_t* data, uint32_t* size) override {
    *type = value_type;
    if (!data) {
      *size = static_cast<uint32_t>(bytes.size());
      return 0;
    }
    ++data_reads;
    if (*size < bytes.size()) {
      *size = static_cast<uint32_t>(bytes.size());
      return ERROR_MORE_DATA;
    }
    std::copy(bytes.begin(), bytes.end(), data);
    *size = static_cast<uint32_t>(bytes.size());
    return second_status;
  }
  int32_t RegCloseKey(HKEY) override {
    ++closes;
    return 0;
  }
  int32_t RegCreateKeyEx(HKEY, const std::string&, uint32_t, HKEY*) override { return ERROR_ACCESS_DENIED; }
  int32_t RegSetValueEx(HKEY, const std::string&, uint32_t, const uint8_t*, uint32_t) override {
    return ERROR_ACCESS_DENIED;
  }
  int32_t RegDeleteValue(HKEY, const std::string&) override { return ERROR_ACCESS_DENIED; }
  int32_t RegDeleteTree(HKEY, const std::string&) override { return ERROR_ACCESS_DENIED; }

  int32_t open_status = 0;
  int32_t second_status = 0;
  uint32_t value_type = REG_SZ;
  std::vector<uint8_t> bytes;
  int data_reads = 0;
  int closes = 0;
};

TEST(ReadRegistryValueTest, TwoStepReadsByType) {
  const struct {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> bytes;
    int32_t second_status;
    int32_t status;
    Variant value;
  } cases[] = {
      {"text", REG_SZ, {'a', ';', 'b', 0}, 0, 0, Variant::Text("a;b")},
      // Only the ending NUL goes: a value written without one keeps its last byte.
      {"text without its NUL", REG_SZ, {'1', '2'}, 0, 0, Variant::Text("12")},
      {"text holding a NUL", REG_SZ, {'1', 0, '2', 0}, 0, 0, Variant::Text(std::string("1\0" "2", 3))},
      {"text failing", REG_SZ, {'a', 0}, 5, 5, Variant()},
      {"no data at all", REG_SZ, {}, 0, 0, Variant::Text("untouched")},
      {"dword", REG_DWORD, {0x0a, 0, 0, 0x80}, 0, 0, Variant::Int32(-2147483638)},
      {"dword failing", REG_DWORD, {1, 0, 0, 0}, 5, 5, Variant::Text("untouched")},
      {"oversized dword", REG_DWORD, {1, 0, 0, 0, 9, 9, 9, 9}, 0, ERROR_MORE_DATA, Variant::Text("untouched")},
      {"multi string", REG_MULTI_SZ, {'a', 0, 0}, 0, -1, Variant::Text("untouched")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRegistry registry;
    registry.value_type = c.type;
    registry.bytes = c.bytes;
    registry.second_status = c.second_status;
    Variant value = Variant::Text("untouched");
    EXPECT_EQ(c.status, ReadRegistryValue(registry, 1, "Name", &value));
    EXPECT_EQ(c.value, value);
  }
}

TEST(ReadRegistrySettingTest, AnswersEmptyWhenTheKeyOrValueCannotBeRead) {
  ScriptedRegistry registry;
  registry.open_status = ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(Variant(), ReadRegistrySetting(registry, "DebugLevel"));
  EXPECT_EQ(0, registry.closes);

  registry.open_status = 0;
  registry.value_type = REG_BINARY;
  registry.bytes = {1};
  EXPECT_EQ(Variant(), ReadRegistrySetting(registry, "DebugLevel"));
  EXPECT_EQ(1, registry.closes);

  registry.value_type = REG_DWORD;
  registry.bytes = {7, 0, 0, 0};
  EXPECT_EQ(Variant::Int32(7), ReadRegistrySetting(registry, "DebugLevel"));
  EXPECT_EQ(2, registry.closes);
}

}  // namespace
}  // namespace varnolt
