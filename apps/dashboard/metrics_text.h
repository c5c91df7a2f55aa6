// /metrics in Prometheus' text exposition format: the journal's all-time
// counters (which never go down, pruning or not) with the host that judged,
// the histograms of the filter's time per event and of the scores, the time
// of the last verdict, the build, each domain's model size and, on request,
// each mailbox's model and whitelist sizes.
#pragma once

#include <string>
#include <vector>

#include "dashboard/dashboard_data.h"

namespace varnolt::dashboard {

struct MetricsInput {
  journal::Counters counters;
  journal::AlertFigures alerts;
  int64_t records = 0;
  std::string version;
  std::string server;  // [journal] server: the label of this server's counts
  std::vector<DomainModelRow> domains;
  bool mailbox_metrics = false;     // [serve] mailbox_metrics
  std::vector<MailboxRow> mailboxes;  // read only when mailbox_metrics is on
};

std::string MetricsText(const MetricsInput& input);

// A label value escaped as the format wants: backslash, double quote, line
// feed; always valid UTF-8 (a scraper refuses the whole page otherwise).
std::string LabelValue(const std::string& text);

// The text with each byte that starts no well-formed UTF-8 character
// replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

}  // namespace varnolt::dashboard
