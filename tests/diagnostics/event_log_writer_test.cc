#include "diagnostics/event_log_writer.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace varnolt {
namespace {

TEST(EventLogWriterTest, WritesOneEntryWithTheMessageAsStringAndData) {
  const struct {
    std::string message;
    uint16_t type;
    int32_t id;
  } cases[] = {
      {"Database for Exchange Domain example.com successfully created.", EVENTLOG_INFORMATION_TYPE, 0},
      {"", EVENTLOG_INFORMATION_TYPE, 0},
      {"twenty characters!!!", EVENTLOG_ERROR_TYPE, -3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    testing::RecordingEventLog log;
    ReportToEventLog(log, c.message, c.type, c.id);
    ASSERT_EQ(1u, log.entries.size());
    const auto& entry = log.entries[0];
    EXPECT_EQ("", entry.server);
    EXPECT_EQ("VarnoltFilter", entry.source);
    EXPECT_EQ(c.type, entry.type);
    EXPECT_EQ(0, entry.category);
    EXPECT_EQ(static_cast<uint32_t>(c.id), entry.event_id);
    EXPECT_EQ(std::vector<std::string>{c.message}, entry.strings);
    std::vector<uint8_t> data(c.message.begin(), c.message.end());
    data.push_back(0);
    EXPECT_EQ(data, entry.data);
    EXPECT_EQ(c.message.size() + 1, entry.data.size());
    EXPECT_EQ(0, log.open_sources);
  }
}

}  // namespace
}  // namespace varnolt
