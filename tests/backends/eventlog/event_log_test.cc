#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backends/eventlog/file_event_log.h"
#include "backends/eventlog/syslog_event_log.h"
#include "platform/com/com_error.h"
#include "support/fake_platform.h"

namespace varnolt {
namespace {

using ::testing::MatchesRegex;

TEST(FileEventLogTest, WritesOneLinePerEntry) {
  testing::FakePlatform platform;
  const std::string path = platform.dir() + "events.log";
  platform.WriteFile(path, "an older line without ending");
  FileEventLog log(path);
  const EventSourceHandle handle = log.RegisterEventSource("", "VarnoltFilter");
  ASSERT_NE(0u, handle);
  EXPECT_TRUE(log.ReportEvent(handle, EVENTLOG_INFORMATION_TYPE, 0, 0,
                              {"Database for Exchange Domain example.com successfully created."}, {}));
  EXPECT_TRUE(log.ReportEvent(handle, EVENTLOG_ERROR_TYPE, 0, 17, {"two\r\nlines"}, {}));
  EXPECT_TRUE(log.DeregisterEventSource(handle));
  EXPECT_FALSE(log.ReportEvent(handle, EVENTLOG_ERROR_TYPE, 0, 1, {"after"}, {}));
  EXPECT_FALSE(log.DeregisterEventSource(handle));

  const std::string date = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}";
  EXPECT_THAT(platform.ReadFile(path),
              MatchesRegex("an older line without ending\n" + date +
                           " VarnoltFilter type=4 id=0 Database for Exchange Domain example.com successfully "
                           "created.\n" +
                           date + " VarnoltFilter type=1 id=17 two  lines\n"));
}

TEST(FileEventLogTest, FailsWhenTheFolderIsMissing) {
  testing::FakePlatform platform;
  FileEventLog log(platform.dir() + "missing/events.log");
  const EventSourceHandle handle = log.RegisterEventSource("", "VarnoltFilter");
  EXPECT_FALSE(log.ReportEvent(handle, EVENTLOG_INFORMATION_TYPE, 0, 0, {"x"}, {}));
}

TEST(EventLogFactoryTest, ChoosesTheTargetByItsText) {
  EXPECT_NE(nullptr, dynamic_cast<SyslogEventLog*>(MakeEventLog("syslog").get()));
  auto file = MakeEventLog("file:/var/log/varnolt-events.log");
  ASSERT_NE(nullptr, dynamic_cast<FileEventLog*>(file.get()));
  EXPECT_EQ("/var/log/varnolt-events.log", static_cast<FileEventLog&>(*file).path());
  for (const char* bad : {"", "file:", "Syslog", "journal"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(MakeEventLog(bad), ComError);
  }
}

}  // namespace
}  // namespace varnolt
