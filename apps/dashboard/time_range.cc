#include "dashboard/time_range.h"

#include <ctime>

namespace varnolt::dashboard {
namespace {

constexpr int64_t kOneHour = 3600;
constexpr int64_t kOneDay = 24 * kOneHour;
constexpr int64_t kOneWeek = 7 * kOneDay;
// 1970-01-05, the first Monday after the epoch: weeks start on Mondays.
constexpr int64_t kWeekOrigin = 4 * kOneDay;

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int64_t BucketStart(int64_t time, int64_t bucket_seconds) {
  const int64_t origin = bucket_seconds == kOneWeek ? kWeekOrigin : 0;
  return FloorDiv(time - origin, bucket_seconds) * bucket_seconds + origin;
}

}  // namespace

void AddTotals(journal::Totals& sum, const journal::Totals& more) {
  sum.ham += more.ham;
  sum.spam += more.spam;
  sum.none += more.none;
  sum.to_junk += more.to_junk;
  sum.from_junk += more.from_junk;
  sum.errors += more.errors;
}

const std::vector<RangeLayout>& Ranges() {
  static const std::vector<RangeLayout> ranges = {
      {TimeRange::k24Hours, "24h", "last 24 hours", kOneHour, 24, "hour"},
      {TimeRange::k7Days, "7d", "last 7 days", 6 * kOneHour, 28, "6 hours"},
      {TimeRange::k30Days, "30d", "last 30 days", kOneDay, 30, "day"},
      {TimeRange::k1Year, "1y", "last year", kOneWeek, 53, "week"},
  };
  return ranges;
}

const RangeLayout& LayoutOf(TimeRange range) {
  for (const RangeLayout& layout : Ranges()) {
    if (layout.range == range) return layout;
  }
  return Ranges().front();
}

std::optional<TimeRange> ParseRange(const std::string& key) {
  for (const RangeLayout& layout : Ranges()) {
    if (key == layout.key) return layout.range;
  }
  return std::nullopt;
}

int64_t RangeStart(TimeRange range, int64_t now) {
  const RangeLayout& layout = LayoutOf(range);
  return BucketStart(now, layout.bucket_seconds) - (layout.buckets - 1) * layout.bucket_seconds;
}

std::vector<Bucket> BucketHours(const std::vector<journal::HourFigures>& hours, TimeRange range, int64_t now) {
  const RangeLayout& layout = LayoutOf(range);
  const int64_t first = RangeStart(range, now);
  std::vector<Bucket> buckets(static_cast<size_t>(layout.buckets));
  for (size_t i = 0; i < buckets.size(); ++i) buckets[i].start = first + static_cast<int64_t>(i) * layout.bucket_seconds;
  for (const journal::HourFigures& hour : hours) {
    const int64_t index = FloorDiv(hour.hour * kOneHour - first, layout.bucket_seconds);
    if (index >= 0 && index < layout.buckets) AddTotals(buckets[static_cast<size_t>(index)].totals, hour.totals);
  }
  return buckets;
}

std::string BucketLabel(int64_t start, TimeRange range) {
  const std::time_t t = static_cast<std::time_t>(start);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  const bool with_hour = LayoutOf(range).bucket_seconds < kOneDay;
  std::strftime(text, sizeof text, with_hour ? "%e %b %H:00" : (range == TimeRange::k1Year ? "%e %b %Y" : "%e %b"), &tm);
  std::string label = text;
  return label.front() == ' ' ? label.substr(1) : label;
}

}  // namespace varnolt::dashboard
