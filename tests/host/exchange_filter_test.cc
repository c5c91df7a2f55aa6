#include "host/exchange_filter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "host/fake_construct_string.h"
#include "platform/com/com_error.h"
#include "support/fake_platform.h"

namespace varnolt {
namespace {

class ExchangeFilterTest : public ::testing::Test {
 protected:
  ExchangeFilterTest() : filter_(new ExchangeFilter(platform_)) {}
  ~ExchangeFilterTest() override { filter_->Release(); }

  HRESULT Construct(const std::string& text, int failing_reads = 0) {
    auto ctor = ComPtr<FakeConstructString>::Attach(new FakeConstructString(text, failing_reads));
    return filter_->Construct(ctor.get());
  }
  // The data folder of the fake platform as a constructor string names it.
  std::string Folder() const { return platform_.dir().substr(0, platform_.dir().size() - 1); }
  std::string LogText() const {
    const std::string path = platform_.dir() + "Varnolt.log";
    return platform_.Exists(path) ? platform_.ReadFile(path) : "";
  }

  testing::FakePlatform platform_;
  ExchangeFilter* filter_;
};

TEST_F(ExchangeFilterTest, ConstructorStringNamesTheDataFolder) {
  const struct {
    const char* text;
    const char* folder;
  } cases[] = {
      {"D:\\Data", "D:\\Data\\"},
      {"D:\\Data\\", "D:\\Data\\"},
      {"   D:\\Data", "D:\\Data\\"},
      {"D:\\Data ;more;fields", "D:\\Data\\"},
      {"D:\\Data/", "D:\\Data/\\"},
      {" ", "\\"},
      {";", "\\"},
      {"\tD:\\Data", "\tD:\\Data\\"},
      {"/srv/varnolt/data", "/srv/varnolt/data\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    filter_->SetDebugLevel(3);
    EXPECT_EQ(S_OK, Construct(c.text));
    EXPECT_EQ(c.folder, filter_->DataFolder());
    EXPECT_EQ(0, filter_->DebugLevel());
  }
  EXPECT_EQ("", LogText());
}

TEST_F(ExchangeFilterTest, EmptyConstructorStringKeepsTheFolderAndReports) {
  ASSERT_EQ(S_OK, Construct(Folder()));
  filter_->SetDebugLevel(2);
  EXPECT_EQ(S_OK, Construct(""));
  EXPECT_EQ(Folder() + "\\", filter_->DataFolder());
  EXPECT_EQ(0, filter_->DebugLevel());
  EXPECT_EQ("2026-12-07 10:00:00 1000 Err: Parsing constructor string failed: Subscript out of range 0x9 Source: \r\n",
            LogText());
}

TEST_F(ExchangeFilterTest, NewObjectWithoutFolderLogsInTheCurrentDirectory) {
  char previous[4096];
  ASSERT_NE(nullptr, ::getcwd(previous, sizeof previous));
  ASSERT_EQ(0, ::chdir(platform_.dir().c_str()));
  const HRESULT hr = Construct("");
  const std::string log = LogText();
  ASSERT_EQ(0, ::chdir(previous));
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ("", filter_->DataFolder());
  EXPECT_NE(std::string::npos, log.find("Err: Parsing constructor string failed: Subscript out of range 0x9"));
}

TEST_F(ExchangeFilterTest, UnreadableConstructorString) {
  ASSERT_EQ(S_OK, Construct(Folder()));
  // Read again by the handler: the failure is reported with the string as source.
  EXPECT_EQ(S_OK, Construct("E:\\Other", 1));
  EXPECT_EQ(Folder() + "\\", filter_->DataFolder());
  EXPECT_NE(std::string::npos,
            LogText().find("Err: Parsing constructor string failed: Permission denied 0x46 Source: E:\\Other\r\n"));

  // Not readable at all: the failure goes back to the caller.
  const HRESULT hr = Construct("E:\\Other", 2);
  EXPECT_EQ(HResultFromErrorNumber(kPermissionDenied), hr);
  EXPECT_EQ(E_POINTER, filter_->Construct(nullptr));
  auto not_a_ctor = ComPtr<ExchangeFilter>::Attach(new ExchangeFilter(platform_));
  EXPECT_EQ(E_NOINTERFACE, filter_->Construct(static_cast<IExchangeFilter*>(not_a_ctor.get())));
  const std::string log = LogText();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), '\n'));
}

TEST_F(ExchangeFilterTest, LogFailsButLogErrNeverDoes) {
  ASSERT_EQ(S_OK, Construct(platform_.dir() + "missing"));
  try {
    ThrowIfFailed(filter_->Log("x"));
    ADD_FAILURE() << "no failure";
  } catch (const ComError& e) {
    EXPECT_EQ(kPathNotFound, e.number());
    EXPECT_EQ("Path not found", e.description());
  }
  EXPECT_EQ(S_OK, filter_->Log_Err("Something failed: x", 5, "source"));
  EXPECT_FALSE(platform_.Exists(platform_.dir() + "missing"));

  ASSERT_EQ(S_OK, Construct(Folder()));
  platform_.ticks.now = 0x80000000u;
  EXPECT_EQ(S_OK, filter_->Log_Err("Varnolt Extension failed: Unspecified", -2147467259, ""));
  EXPECT_EQ("2026-12-07 10:00:00 -2147483648 Err: Varnolt Extension failed: Unspecified 0x80004005 Source: \r\n",
            LogText());
}

TEST_F(ExchangeFilterTest, SystemEventsWriteOnlyWithDebugLevel) {
  ASSERT_EQ(S_OK, Construct(platform_.dir() + "missing"));
  EXPECT_EQ(S_OK, filter_->OnMDBShutdown("{guid}", 0));
  filter_->SetDebugLevel(1);
  const HRESULT hr = filter_->OnMDBShutdown("{guid}", 0);
  EXPECT_EQ(HResultFromErrorNumber(kPathNotFound), hr);
  EXPECT_TRUE(Failed(filter_->OnMDBStartup("{guid}", "First Storage Group", 0)));

  ASSERT_EQ(S_OK, Construct(Folder()));
  EXPECT_EQ(S_OK, filter_->OnMDBStartup("{guid}", "First Storage Group", 0));
  EXPECT_EQ("", LogText());  // Construct reset the level
  filter_->SetDebugLevel(-1);
  EXPECT_EQ(S_OK, filter_->OnMDBStartup("{guid}", "First Storage Group", 0));
  EXPECT_EQ(S_OK, filter_->OnMDBShutdown("{guid}", 0));
  EXPECT_EQ(S_OK, filter_->OnTimer("file://./x", 7));
  EXPECT_EQ(S_OK, filter_->OnSyncDelete(nullptr, "file://./x", 0x01000008));
  const std::string log = LogText();
  EXPECT_EQ(2, std::count(log.begin(), log.end(), '\n'));
}

TEST_F(ExchangeFilterTest, SaveEventAlwaysSucceeds) {
  ASSERT_EQ(S_OK, Construct(platform_.dir() + "missing"));
  platform_.SetInsideApplication(false);
  for (int32_t flags : {0x01000008, 0x01000100, 0, -1}) {
    EXPECT_EQ(S_OK, filter_->OnSyncSave(nullptr, "file://./backofficestorage/example.com/MBX/alice/Inbox/x.EML", flags));
  }
}

TEST_F(ExchangeFilterTest, SettingsComeThroughTheObjectsDebugLevel) {
  ASSERT_EQ(S_OK, Construct(Folder()));
  platform_.SetSettingDword("DebugLevel", 4);
  filter_->SetDebugLevel(1);
  Variant value;
  EXPECT_EQ(S_OK, filter_->GetSharedProp("DebugLevel", &value));
  EXPECT_EQ(Variant::Int32(4), value);
  EXPECT_EQ("2026-12-07 10:00:00 1000 Loading DebugLevel(4) from registry.\r\n", LogText());
}

}  // namespace
}  // namespace varnolt
