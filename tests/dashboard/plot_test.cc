#include <gtest/gtest.h>

#include <cmath>

#include "dashboard/svg_plot.h"
#include "dashboard/time_range.h"

namespace varnolt {
namespace {

using dashboard::TimeRange;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(PlotScaleTest, CountsGetWholeTicksAndTheScaleCoversTheHighest) {
  struct Case {
    double max;
    bool whole;
    double top, step;
  } cases[] = {
      {0, true, 1, 1},        // nothing yet: one tick, not 0.25 messages
      {3, true, 3, 1},        // not steps of 0.75 or 2.5
      {5, true, 5, 1},
      {7, true, 8, 2},
      {10, true, 10, 2},
      {11, true, 15, 5},
      {1234, true, 1500, 500},
      {0.3, false, 0.3, 0.1},  // a rate may have fractional ticks
      {0.3, true, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.max) + (c.whole ? " whole" : ""));
    const dashboard::AxisScale scale = dashboard::NiceScale(c.max, c.whole);
    EXPECT_DOUBLE_EQ(c.top, scale.top);
    EXPECT_DOUBLE_EQ(c.step, scale.step);
    EXPECT_LE(scale.top / scale.step, 5.0 + 1e-9);
  }
}

TEST(TimeRangeTest, HoursLandInTheirBucketsAndTheLastHoldsNow) {
  const int64_t now = 1796637900;  // 2026-12-07 10:05 UTC, a Monday
  const int64_t hour = now / 3600;
  struct Case {
    dashboard::TimeRange range;
    int64_t first_start;
    std::string last_label;
  } cases[] = {
      {TimeRange::k24Hours, (hour - 23) * 3600, "7 Dec 10:00"},
      {TimeRange::k7Days, (now / 21600 - 27) * 21600, "7 Dec 06:00"},
      {TimeRange::k30Days, (now / 86400 - 29) * 86400, "7 Dec"},
      {TimeRange::k1Year, (now / 86400 - 52 * 7) * 86400, "7 Dec 2026"},  // weeks start on Mondays
  };
  const std::vector<journal::HourFigures> hours = {
      {hour, {2, 1, 0, 0, 1, 0}},         // now: counted
      {hour - 24 * 400, {5, 0, 0, 0, 0, 0}},  // before every range: dropped
      {hour + 24 * 8, {7, 0, 0, 0, 0, 0}},  // a clock far ahead: dropped, not put in the last bar
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(dashboard::LayoutOf(c.range).key);
    const std::vector<dashboard::Bucket> buckets = dashboard::BucketHours(hours, c.range, now);
    ASSERT_EQ(static_cast<size_t>(dashboard::LayoutOf(c.range).buckets), buckets.size());
    EXPECT_EQ(c.first_start, buckets.front().start);
    EXPECT_EQ(c.first_start, dashboard::RangeStart(c.range, now));
    EXPECT_EQ(c.last_label, dashboard::BucketLabel(buckets.back().start, c.range));
    int64_t ham = 0;
    for (const dashboard::Bucket& bucket : buckets) ham += bucket.totals.ham;
    EXPECT_EQ(2, ham);
    EXPECT_EQ(1, buckets.back().totals.from_junk);
  }
  EXPECT_EQ(TimeRange::k1Year, dashboard::ParseRange("1y"));
  EXPECT_FALSE(dashboard::ParseRange("2y").has_value());
  EXPECT_FALSE(dashboard::ParseRange("").has_value());
}

TEST(SvgPlotTest, ALineBreaksWhereThereIsNoValueAndTheAxesHaveTitles) {
  const double gap = std::nan("");
  dashboard::PlotOptions options;
  options.id = "p";
  options.width = 400;
  options.label_every = 1;
  options.x_title = "date (UTC)";
  options.y_title = "corrections per day";
  options.line_title = "error rate (% of verdicts)";
  const std::string svg =
      dashboard::SvgStackedBars({"1 Dec", "2 Dec", "3 Dec", "4 Dec", "5 Dec"}, {{"rescued", "#00f", {1, 0, 0, 2, 1}}},
                                dashboard::PlotSeries{"error rate", "#f0f", {0.5, gap, gap, 0.25, 0.1}}, options);
  EXPECT_EQ(3, Count(svg, "<circle class=\"point\""));  // none for the days without mail
  EXPECT_EQ(2, Count(svg, "<polyline"));                // one run before the gap, one after
  EXPECT_EQ(3, Count(svg, "class=\"axis-title\""));
  EXPECT_NE(std::string::npos, svg.find(">2 Dec</text>"));
  EXPECT_EQ(std::string::npos, svg.find(">1.5</text>"));  // whole counts: no tick between 1 and 2
  EXPECT_NE(std::string::npos, svg.find(">50%</text>"));
}

}  // namespace
}  // namespace varnolt
