// The journal's counters for alerting (alert_figures.h).
#include "backends/journal/alert_figures.h"

#include <string>

#include "backends/journal/verdict_journal.h"
#include "backends/sqlite/database.h"

namespace varnolt::journal {
namespace {

constexpr const char* kHostVerdictPrefix = "host_verdicts:";

}  // namespace

std::string HostKey(const std::string& host) {
  if (host.empty() || host.size() > 32) return "other";
  for (char c : host) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return "other";
  }
  return host;
}

size_t ScoreBucket(double score) {
  size_t bucket = 0;
  while (bucket < kScoreBuckets.size() && !(score <= kScoreBuckets[bucket])) ++bucket;
  return bucket;
}

// Part of Add's transaction: one more statement per delivery.
void VerdictJournal::CountForAlerts(const VerdictRecord& record, const char* verdict) {
  const std::string host = kHostVerdictPrefix + HostKey(record.host) + ":" + verdict;
  if (!record.score) {
    AddCounter(host, 1);
    return;
  }
  sqlite::Statement(*db_,
                    "INSERT INTO counters(name, value) VALUES(?1, 1), (?2, 1), ('score_sum', ?3) "
                    "ON CONFLICT(name) DO UPDATE SET value = value + excluded.value")
      .Bind(1, host)
      .Bind(2, "score_bucket_" + std::to_string(ScoreBucket(*record.score)))
      .Bind(3, *record.score)
      .Run();
}

AlertFigures VerdictJournal::ForAlerts() {
  AlertFigures figures;
  {
    // The index on the time answers this without a scan.
    sqlite::Statement row(*db_, "SELECT MAX(at) FROM verdicts");
    if (row.Step() && !row.IsNull(0)) figures.last_verdict_time = row.Int(0);
  }
  sqlite::Statement row(*db_,
                        "SELECT name, value FROM counters WHERE name LIKE 'score_%' OR name LIKE 'host_verdicts:%'");
  while (row.Step()) {
    const std::string name = row.Text(0);
    const double value = row.Real(1);
    if (name == "score_sum") {
      figures.score_sum = value;
    } else if (name.rfind("score_bucket_", 0) == 0) {
      const size_t bucket = std::stoul(name.substr(13));
      if (bucket < figures.score_buckets.size()) figures.score_buckets[bucket] = static_cast<int64_t>(value);
    } else if (name.rfind(kHostVerdictPrefix, 0) == 0) {
      const std::string rest = name.substr(std::char_traits<char>::length(kHostVerdictPrefix));
      const size_t colon = rest.find(':');
      if (colon != std::string::npos) {
        figures.host_verdicts[{rest.substr(0, colon), rest.substr(colon + 1)}] = static_cast<int64_t>(value);
      }
    }
  }
  return figures;
}

}  // namespace varnolt::journal
