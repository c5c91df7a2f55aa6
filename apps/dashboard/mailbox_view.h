// What the pages of one mailbox and of one domain show, read from the home
// as the `stats`, `whitelist list` and `stats --domain` commands read it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backends/journal/verdict_journal.h"
#include "dashboard/dashboard_data.h"
#include "dashboard/time_range.h"

namespace varnolt::dashboard {

struct ModelFigures {
  SpamCounts counts;
  std::optional<int64_t> bytes;  // the file's size; none in PostgreSQL or before the first lesson
};

// A page of verdict records as a search found them.
struct VerdictPage {
  journal::VerdictQuery query;
  std::vector<journal::VerdictRecord> records;
  bool more = false;  // older records follow
};

struct MailboxView {
  std::string mailbox;  // user@domain as the filter names its files
  std::string domain;
  bool in_store = false;  // else known by its model or only by the journal
  TimeRange range = kDefaultRange;
  journal::Totals totals;  // over the range (whole days)
  ModelFigures model, domain_model;
  std::vector<std::string> whitelist;
  std::string whitelist_error;  // why it could not be read
  std::vector<journal::VerdictRecord> corrections;  // the latest
  VerdictPage verdicts;
};

struct DomainView {
  std::string domain;
  TimeRange range = kDefaultRange;
  journal::Totals totals;  // of its mailboxes, over the range
  ModelFigures model;
  int64_t waiting = 0;  // users' lessons waiting for others to agree
  std::vector<MailboxRow> mailboxes;  // a page of them, by name, figures over the range
  int64_t mailbox_count = 0;
  int64_t offset = 0;
  VerdictPage verdicts;
};

// A page of all mailboxes by name, figures of the last 30 days.
struct MailboxList {
  std::vector<MailboxRow> mailboxes;
  int64_t mailbox_count = 0;
  int64_t offset = 0;
};

inline constexpr int kMailboxesPerPage = 200;
inline constexpr int kCorrectionsShown = 20;

// Each throws cli::UsageError for a name no mailbox or domain could have;
// none when the home knows nothing of it. query: the filters of the
// verdicts shown (the mailbox or domain is set here).
std::optional<MailboxView> ReadMailboxView(cli::Session& session, DashboardSource& source, const std::string& text,
                                           TimeRange range, journal::VerdictQuery query, int64_t now);
std::optional<DomainView> ReadDomainView(cli::Session& session, DashboardSource& source, const std::string& text,
                                         TimeRange range, journal::VerdictQuery query, int64_t offset, int64_t now);
MailboxList ReadMailboxList(DashboardSource& source, int64_t offset, int64_t now);

}  // namespace varnolt::dashboard
