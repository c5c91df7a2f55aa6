// CountersFromRows (journal.h).
#include "backends/journal/journal.h"

namespace varnolt::journal {

Counters CountersFromRows(const std::map<std::string, double>& values) {
  auto count = [&values](const std::string& name) {
    const auto found = values.find(name);
    return found == values.end() ? int64_t{0} : static_cast<int64_t>(found->second);
  };
  Counters counters;
  counters.totals.ham = count("verdicts_ham");
  counters.totals.spam = count("verdicts_spam");
  counters.totals.none = count("verdicts_none");
  counters.totals.to_junk = count("corrections_to_junk");
  counters.totals.from_junk = count("corrections_from_junk");
  counters.totals.errors = count("errors");
  for (size_t i = 0; i < counters.time_buckets.size(); ++i) {
    counters.time_buckets[i] = count("time_bucket_" + std::to_string(i));
    counters.time_count += counters.time_buckets[i];
  }
  const auto sum = values.find("time_sum");
  counters.time_sum_seconds = sum == values.end() ? 0 : sum->second;
  return counters;
}

}  // namespace varnolt::journal
