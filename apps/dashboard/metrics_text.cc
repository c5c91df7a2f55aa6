#include "dashboard/metrics_text.h"

#include <cstdio>

namespace varnolt::cli {
namespace {

std::string Float(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
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

std::string MetricsText(const journal::Counters& counters, int64_t records, const std::vector<MailboxRow>& mailboxes,
                        const std::vector<DomainModelRow>& domains) {
  std::string out;
  const journal::Totals& t = counters.totals;
  Header(out, "varnolt_verdicts_total", "counter", "Messages judged, by the verdict they were left with.");
  out += "varnolt_verdicts_total{verdict=\"ham\"} " + std::to_string(t.ham) + "\n";
  out += "varnolt_verdicts_total{verdict=\"spam\"} " + std::to_string(t.spam) + "\n";
  out += "varnolt_verdicts_total{verdict=\"none\"} " + std::to_string(t.none) + "\n";
  Header(out, "varnolt_corrections_total", "counter",
         "Users' corrections: messages moved into the junk folder (missed spam) or out of it (rescued).");
  out += "varnolt_corrections_total{direction=\"to_junk\"} " + std::to_string(t.to_junk) + "\n";
  out += "varnolt_corrections_total{direction=\"from_junk\"} " + std::to_string(t.from_junk) + "\n";
  Header(out, "varnolt_errors_total", "counter", "Events on which the spam engine failed.");
  out += "varnolt_errors_total " + std::to_string(t.errors) + "\n";
  Header(out, "varnolt_filter_event_duration_seconds", "histogram", "The filter's time per delivery event.");
  int64_t cumulative = 0;
  for (size_t i = 0; i < journal::kTimeBuckets.size(); ++i) {
    cumulative += counters.time_buckets[i];
    char bound[32];
    std::snprintf(bound, sizeof bound, "%g", journal::kTimeBuckets[i]);
    out += std::string("varnolt_filter_event_duration_seconds_bucket{le=\"") + bound + "\"} " +
           std::to_string(cumulative) + "\n";
  }
  cumulative += counters.time_buckets.back();
  out += "varnolt_filter_event_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(cumulative) + "\n";
  out += "varnolt_filter_event_duration_seconds_sum " + Float(counters.time_sum_seconds) + "\n";
  out += "varnolt_filter_event_duration_seconds_count " + std::to_string(cumulative) + "\n";
  Header(out, "varnolt_model_messages", "gauge", "Messages each user's model has learned, by class.");
  for (const MailboxRow& row : mailboxes) {
    const std::string mailbox = LabelValue(row.mailbox);
    out += "varnolt_model_messages{mailbox=\"" + mailbox + "\",class=\"ham\"} " + std::to_string(row.model.ham) + "\n";
    out += "varnolt_model_messages{mailbox=\"" + mailbox + "\",class=\"spam\"} " + std::to_string(row.model.spam) +
           "\n";
  }
  Header(out, "varnolt_domain_model_messages", "gauge", "Messages each domain's shared model has learned, by class.");
  for (const DomainModelRow& row : domains) {
    const std::string domain = LabelValue(row.domain);
    out += "varnolt_domain_model_messages{domain=\"" + domain + "\",class=\"ham\"} " + std::to_string(row.model.ham) +
           "\n";
    out += "varnolt_domain_model_messages{domain=\"" + domain + "\",class=\"spam\"} " +
           std::to_string(row.model.spam) + "\n";
  }
  Header(out, "varnolt_whitelist_entries", "gauge", "Entries of each user's whitelist.");
  for (const MailboxRow& row : mailboxes) {
    out += "varnolt_whitelist_entries{mailbox=\"" + LabelValue(row.mailbox) + "\"} " + std::to_string(row.whitelist) +
           "\n";
  }
  Header(out, "varnolt_journal_records", "gauge", "Records in the verdict journal (after pruning).");
  out += "varnolt_journal_records " + std::to_string(records) + "\n";
  return out;
}

}  // namespace varnolt::cli
