#include <gtest/gtest.h>

#include "dashboard/http/client_address.h"
#include "dashboard/http/request_frame.h"
#include "dashboard/metrics_text.h"

namespace varnolt {
namespace {

TEST(MetricsLabelTest, LabelValuesAreAlwaysValidUtf8AndEscaped) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string raw, expected;
  } cases[] = {
      {"alice@example.com", "alice@example.com"},
      {"j\xC3\xBCrgen@example.de", "j\xC3\xBCrgen@example.de"},   // ü stays
      {"\xF0\x9F\x98\x80@x", "\xF0\x9F\x98\x80@x"},               // four bytes stay
      {"b\xFFz@x", "b" + fffd + "z@x"},                           // a byte that is never UTF-8
      {"\xC3", fffd},                                             // cut short at the end
      {"\xC3(", fffd + "("},                                      // a lead without its continuation
      {"\xC0\xAF", fffd + fffd},                                  // overlong "/"
      {"\xED\xA0\x80", fffd + fffd + fffd},                       // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},            // beyond U+10FFFF
      {"\x80x", fffd + "x"},                                      // a stray continuation byte
      {"a\"b\\c\nd", "a\\\"b\\\\c\\nd"},                          // the format's escapes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(c.expected, dashboard::LabelValue(c.raw));
  }
}

TEST(MetricsTextTest, HostsAddUpToTheTotalsAndMailboxesOnlyOnRequest) {
  dashboard::MetricsInput input;
  input.counters.totals.ham = 10;
  input.counters.totals.spam = 4;
  input.alerts.host_verdicts = {{{"dovecot", "ham"}, 6}, {{"varnolt", "spam"}, 4}};
  input.alerts.score_buckets[0] = 3;
  input.alerts.score_buckets.back() = 2;
  input.version = "1.2.3";
  input.server = "mx1";
  input.mailboxes = {{"alice@example.com", {5, 6}, 7, {}}};
  struct Case {
    bool mailbox_metrics;
    std::vector<std::string> present, absent;
  } cases[] = {
      {false,
       {"varnolt_verdicts_total{host=\"dovecot\",server=\"mx1\",verdict=\"ham\"} 6\n",
        "varnolt_verdicts_total{host=\"varnolt\",server=\"mx1\",verdict=\"spam\"} 4\n",
        // counted before the journal kept hosts apart
        "varnolt_verdicts_total{host=\"unknown\",server=\"mx1\",verdict=\"ham\"} 4\n",
        "varnolt_build_info{version=\"1.2.3\"} 1\n", "varnolt_last_verdict_timestamp_seconds 0\n",
        "varnolt_score_bucket{le=\"0.01\"} 3\n", "varnolt_score_bucket{le=\"0.95\"} 3\n",
        "varnolt_score_bucket{le=\"+Inf\"} 5\n", "varnolt_score_count 5\n"},
       {"alice", "varnolt_whitelist_entries"}},
      {true,
       {"varnolt_model_messages{mailbox=\"alice@example.com\",class=\"spam\"} 6\n",
        "varnolt_whitelist_entries{mailbox=\"alice@example.com\"} 7\n"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mailbox_metrics);
    input.mailbox_metrics = c.mailbox_metrics;
    const std::string text = dashboard::MetricsText(input);
    for (const std::string& line : c.present) EXPECT_NE(std::string::npos, text.find(line)) << line;
    for (const std::string& part : c.absent) EXPECT_EQ(std::string::npos, text.find(part)) << part;
  }
}

TEST(RequestFrameTest, ARequestIsHandedOnOnlyWhenWhole) {
  using http::Frame;
  const std::string big_head = "GET / HTTP/1.1\r\nX: " + std::string(http::kMaxRequestHead, 'a') + "\r\n\r\n";
  struct Case {
    std::string received;
    Frame expected;
  } cases[] = {
      {"", Frame::kIncomplete},
      {"GET / HTTP/1.1\r\nHost: x\r\n", Frame::kIncomplete},  // a slow client between two lines
      {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", Frame::kComplete},
      {"GET / HTTP/1.1\nHost: x\n\n", Frame::kComplete},  // bare line feeds
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nab", Frame::kIncomplete},
      {"POST / HTTP/1.1\r\ncontent-length:5\r\n\r\nabcde", Frame::kComplete},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n", Frame::kComplete},  // refused by the HTTP code
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", Frame::kComplete},
      {"GET / HTTP/1.1\r\n\r\nGET /next", Frame::kComplete},  // the next request waits its turn
      {std::string(http::kMaxRequestHead + 1, 'a'), Frame::kTooLarge},
      {big_head, Frame::kTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.received.substr(0, 60));
    EXPECT_EQ(c.expected, http::FrameRequest(c.received));
  }
}

TEST(ClientAddressTest, AnIpv6ClientIsItsSlash64) {
  struct Case {
    const char* address;
    const char* client;
  } cases[] = {
      {"192.0.2.7", "192.0.2.7"},
      {"2001:db8:1:2:aaaa:bbbb:cccc:7", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::8", "2001:db8:1:2::/64"},
      {"::1", "::/64"},
      {"not an address", "not an address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(c.client, http::ClientOf(c.address));
  }
}

}  // namespace
}  // namespace varnolt
