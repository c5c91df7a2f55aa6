// What alerting wants from the verdict journal beyond its totals: when the
// filter last judged, how its scores spread, and which host judged. Kept as
// all-time counters beside the others, so that pruning never makes them go
// down.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace varnolt::journal {

// Upper bounds of the score histogram's buckets (the engine's spamminess,
// 0..1): finer near both ends, where the verdicts fall.
inline constexpr std::array<double, 12> kScoreBuckets = {0.01, 0.05, 0.1, 0.2, 0.3, 0.4,
                                                         0.5,  0.6,  0.7, 0.8, 0.9, 0.95};

struct AlertFigures {
  std::optional<int64_t> last_verdict_time;  // none: no record in the journal
  std::array<int64_t, kScoreBuckets.size() + 1> score_buckets{};  // per bucket, not cumulative; last: +Inf
  double score_sum = 0;
  // (host, verdict) -> messages, counted since the journal kept the host apart.
  std::map<std::pair<std::string, std::string>, int64_t> host_verdicts;
};

// The host as a counter keeps it: lower-case letters and digits, at most 32,
// else "other" (a label value never grows from what a caller passes).
std::string HostKey(const std::string& host);

// The bucket a score is counted in: the first whose bound it does not exceed.
size_t ScoreBucket(double score);

}  // namespace varnolt::journal
