// /metrics in Prometheus' text exposition format: the journal's all-time
// counters (which never go down, pruning or not), the histogram of the
// filter's time per event, and each mailbox's model and whitelist sizes.
#pragma once

#include <string>
#include <vector>

#include "dashboard/dashboard_data.h"

namespace varnolt::cli {

std::string MetricsText(const journal::Counters& counters, int64_t records, const std::vector<MailboxRow>& mailboxes,
                        const std::vector<DomainModelRow>& domains);

// A label value escaped as the format wants: backslash, double quote, line
// feed; always valid UTF-8 (a scraper refuses the whole page otherwise).
std::string LabelValue(const std::string& text);

// The text with each byte that starts no well-formed UTF-8 character
// replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

}  // namespace varnolt::cli
