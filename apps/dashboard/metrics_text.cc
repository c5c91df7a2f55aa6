#include "dashboard/metrics_text.h"

#include <array>
#include <cstdio>
#include <map>
#include <utility>

namespace varnolt::dashboard {
namespace {

std::string Float(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// The length of the well-formed UTF-8 sequence at text[i] (no overlong form,
// no surrogate, nothing beyond U+10FFFF), 0 when there is none.
size_t SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string ValidUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = SequenceLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for each byte that starts no character
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : ValidUtf8(text)) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

// Upper bounds as the format writes them: "0.05", "+Inf".
template <size_t N>
void Histogram(std::string& out, const char* name, const std::array<double, N>& bounds,
               const std::array<int64_t, N + 1>& per_bucket, double sum) {
  int64_t cumulative = 0;
  for (size_t i = 0; i < bounds.size(); ++i) {
    cumulative += per_bucket[i];
    char bound[32];
    std::snprintf(bound, sizeof bound, "%g", bounds[i]);
    out += std::string(name) + "_bucket{le=\"" + bound + "\"} " + std::to_string(cumulative) + "\n";
  }
  cumulative += per_bucket.back();
  out += std::string(name) + "_bucket{le=\"+Inf\"} " + std::to_string(cumulative) + "\n";
  out += std::string(name) + "_sum " + Float(sum) + "\n";
  out += std::string(name) + "_count " + std::to_string(cumulative) + "\n";
}

// One sample per host and verdict; what was counted before the journal kept
// the host apart shows as host="unknown", so that the hosts add up to the total.
void VerdictsByHost(std::string& out, const journal::Counters& counters, const journal::AlertFigures& alerts,
                    const std::string& server) {
  const std::pair<const char*, int64_t> verdicts[] = {
      {"ham", counters.totals.ham}, {"spam", counters.totals.spam}, {"none", counters.totals.none}};
  std::map<std::string, std::map<std::string, int64_t>> hosts;  // host -> verdict -> count
  for (const auto& [key, count] : alerts.host_verdicts) hosts[key.first][key.second] += count;
  for (const auto& [verdict, total] : verdicts) {
    int64_t known = 0;
    for (const auto& [host, counts] : hosts) {
      const auto found = counts.find(verdict);
      known += found == counts.end() ? 0 : found->second;
    }
    if (total > known || hosts.empty()) hosts["unknown"][verdict] = total - known;
  }
  for (auto& [host, counts] : hosts) {
    for (const auto& [verdict, total] : verdicts) {
      out += "varnolt_verdicts_total{host=\"" + LabelValue(host) + "\",server=\"" + LabelValue(server) +
             "\",verdict=\"" + verdict + "\"} " +
             std::to_string(counts[verdict]) + "\n";
    }
  }
}

}  // namespace

std::string MetricsText(const MetricsInput& input) {
  std::string out;
  const journal::Counters& counters = input.counters;
  const journal::Totals& t = counters.totals;
  Header(out, "varnolt_build_info", "gauge", "Always 1; the labels name the build that serves.");
  out += "varnolt_build_info{version=\"" + LabelValue(input.version) + "\"} 1\n";
  Header(out, "varnolt_verdicts_total", "counter",
         "Messages judged, by the host that judged them (varnolt or dovecot), the server ([journal] server) and the "
         "verdict they were left with.");
  VerdictsByHost(out, counters, input.alerts, input.server);
  Header(out, "varnolt_last_verdict_timestamp_seconds", "gauge",
         "When the newest message in the journal was judged (seconds since the epoch); 0 when none is.");
  out += "varnolt_last_verdict_timestamp_seconds " + std::to_string(input.alerts.last_verdict_time.value_or(0)) + "\n";
  Header(out, "varnolt_corrections_total", "counter",
         "Users' corrections: messages moved into the junk folder (missed spam) or out of it (rescued).");
  out += "varnolt_corrections_total{direction=\"to_junk\"} " + std::to_string(t.to_junk) + "\n";
  out += "varnolt_corrections_total{direction=\"from_junk\"} " + std::to_string(t.from_junk) + "\n";
  Header(out, "varnolt_errors_total", "counter", "Events on which the spam engine failed.");
  out += "varnolt_errors_total " + std::to_string(t.errors) + "\n";
  Header(out, "varnolt_filter_event_duration_seconds", "histogram", "The filter's time per delivery event.");
  Histogram(out, "varnolt_filter_event_duration_seconds", journal::kTimeBuckets, counters.time_buckets,
            counters.time_sum_seconds);
  Header(out, "varnolt_score", "histogram", "The engine's spamminess (0: HAM .. 1: SPAM) of the messages it scored.");
  Histogram(out, "varnolt_score", journal::kScoreBuckets, input.alerts.score_buckets, input.alerts.score_sum);
  if (input.mailbox_metrics) {
    Header(out, "varnolt_model_messages", "gauge", "Messages each user's model has learned, by class.");
    for (const MailboxRow& row : input.mailboxes) {
      const std::string mailbox = LabelValue(row.mailbox);
      out += "varnolt_model_messages{mailbox=\"" + mailbox + "\",class=\"ham\"} " + std::to_string(row.model.ham) +
             "\n";
      out += "varnolt_model_messages{mailbox=\"" + mailbox + "\",class=\"spam\"} " + std::to_string(row.model.spam) +
             "\n";
    }
  }
  Header(out, "varnolt_domain_model_messages", "gauge", "Messages each domain's shared model has learned, by class.");
  for (const DomainModelRow& row : input.domains) {
    const std::string domain = LabelValue(row.domain);
    out += "varnolt_domain_model_messages{domain=\"" + domain + "\",class=\"ham\"} " + std::to_string(row.model.ham) +
           "\n";
    out += "varnolt_domain_model_messages{domain=\"" + domain + "\",class=\"spam\"} " +
           std::to_string(row.model.spam) + "\n";
  }
  if (input.mailbox_metrics) {
    Header(out, "varnolt_whitelist_entries", "gauge", "Entries of each user's whitelist.");
    for (const MailboxRow& row : input.mailboxes) {
      out += "varnolt_whitelist_entries{mailbox=\"" + LabelValue(row.mailbox) + "\"} " +
             std::to_string(row.whitelist) + "\n";
    }
  }
  Header(out, "varnolt_journal_records", "gauge", "Records in the verdict journal (after pruning).");
  out += "varnolt_journal_records " + std::to_string(input.records) + "\n";
  return out;
}

}  // namespace varnolt::dashboard
