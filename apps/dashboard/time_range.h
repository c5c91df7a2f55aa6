// The span of time the dashboard's plots cover, chosen on the page
// (?range=24h, 7d, 30d or 1y), and the journal's hourly figures gathered into
// the bars of that span: short spans by the hour, long ones by the day or week.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backends/journal/verdict_journal.h"

namespace varnolt::dashboard {

enum class TimeRange { k24Hours, k7Days, k30Days, k1Year };

struct RangeLayout {
  TimeRange range;
  const char* key;     // the query parameter's value: "24h"
  const char* title;   // "last 24 hours"
  int64_t bucket_seconds;
  int buckets;
  const char* per;     // the unit of a bar, for the axis titles: "hour"
};

inline constexpr TimeRange kDefaultRange = TimeRange::k7Days;

const std::vector<RangeLayout>& Ranges();
const RangeLayout& LayoutOf(TimeRange range);
// Null for anything but the keys of Ranges().
std::optional<TimeRange> ParseRange(const std::string& key);

struct Bucket {
  int64_t start = 0;  // seconds since the epoch, UTC
  journal::Totals totals;
};

// The range's buckets, oldest first, the last holding now; a bucket starts on
// a whole hour, day, or Monday (UTC).
std::vector<Bucket> BucketHours(const std::vector<journal::HourFigures>& hours, TimeRange range, int64_t now);

void AddTotals(journal::Totals& sum, const journal::Totals& more);

// The first second the range's buckets cover.
int64_t RangeStart(TimeRange range, int64_t now);

// A bucket's label under its bar, with the month: "7 Dec 14:00", "7 Dec".
std::string BucketLabel(int64_t start, TimeRange range);

}  // namespace varnolt::dashboard
