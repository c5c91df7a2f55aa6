// The figures `varnolt serve` shows, read from the home: the verdict journal
// (opened read-only, so a crash of the server cannot harm it), the store's
// mailboxes, each user's model size and whitelist, and the settings.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/journal/journal.h"
#include "dashboard/time_range.h"
#include "platform/spam_engine.h"
#include "varnolt/session.h"

namespace varnolt::dashboard {

struct MailboxRow {
  std::string mailbox;  // user@domain
  SpamCounts model;     // messages the user's model learned
  int64_t whitelist = 0;
  journal::Totals totals;  // of the last 30 days
};

struct DomainModelRow {
  std::string domain;
  SpamCounts model;  // messages the domain's shared model learned
};

struct DayFigures {
  int64_t day = 0;  // days since the epoch (UTC)
  journal::Totals totals;
};

struct SettingRow {
  std::string name;
  std::string value;    // as stored, or "(unset: default ...)"
  std::string allowed;
  std::string meaning;
};

struct DashboardData {
  int64_t now = 0;
  bool journal_found = false;
  int64_t records = 0;
  journal::Totals today, week, month;  // today: since midnight UTC
  std::vector<journal::HourFigures> hours;  // the last 48 hours, every hour
  std::vector<DayFigures> days;             // the last 30 days, every day
  TimeRange range = kDefaultRange;          // what the plots cover
  std::vector<Bucket> buckets;              // the range's bars
  std::vector<MailboxRow> mailboxes;           // the most eventful, by name
  int64_t mailbox_count = 0;                   // of all the home knows
  std::vector<journal::VerdictRecord> latest;  // a page of them, newest first
  journal::VerdictQuery filters;               // what the records on the page were searched by
  int64_t latest_before = 0;                   // the page's start: older than this record; 0: the newest
  bool more_latest = false;                    // older records follow
  std::vector<SettingRow> settings;
};

// Error rate: corrections per verdict, 0 without verdicts.
double ErrorRate(const journal::Totals& totals);

class DashboardSource {
 public:
  explicit DashboardSource(cli::Session& session) : session_(session) {}

  // latest: records on the page that pass the filters, older than the
  // record filters.before_id (0: the newest).
  DashboardData Collect(int64_t now, int latest, const journal::VerdictQuery& filters = {},
                        TimeRange range = kDefaultRange);
  // with_models false: names and journal figures only, no model read per user.
  // since: the start of the figures (default: 30 days ago).
  std::vector<MailboxRow> Mailboxes(int64_t now, bool with_models = true, std::optional<int64_t> since = {});
  // Reads each row's model counts and whitelist size.
  void AddModels(std::vector<MailboxRow>& rows);
  // The shared model of each domain the mailboxes belong to.
  std::vector<DomainModelRow> DomainModels(const std::vector<MailboxRow>& mailboxes);
  std::optional<journal::VerdictRecord> Find(int64_t id);
  // The journal, opened read-only on first use; null while there is none.
  journal::Journal* Journal();

 private:
  cli::Session& session_;
  std::unique_ptr<journal::Journal> journal_;
};

}  // namespace varnolt::dashboard
