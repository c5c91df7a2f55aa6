// The verdict journal: one record per message the filter judged, written by
// the hosts after the event, and the user's later correction joined to it by
// Message-ID; with figures by hour, by day and mailbox, and all-time counters
// kept as records are added, so that the dashboard and the metrics answer
// from a few thousand rows however long the journal is.
//
// Two backends: a SQLite file in the home (verdict_journal.h) and tables in
// the models' PostgreSQL, shared by several servers (postgres_journal.h).
// Every method throws ComError on failure; an object serves one thread.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backends/journal/alert_figures.h"
#include "backends/journal/audited_action.h"
#include "backends/journal/verdict_search.h"
#include "platform/names/score_clue.h"

namespace varnolt::journal {

// What a correction did: the user moved the message into the junk folder
// (missed spam) or out of it (rescued mail).
enum class Correction { kToJunk, kFromJunk };
const char* CorrectionName(Correction correction);  // "to_junk", "from_junk"

struct VerdictRecord {
  int64_t id = 0;            // given by the journal
  int64_t time = 0;          // seconds since the epoch, UTC
  std::string mailbox;       // user@domain
  std::string message_id;    // without angle brackets; may be empty; bounded (bounded_field.h)
  std::string sender_domain;  // bounded
  int64_t size = 0;
  std::optional<double> score;  // the engine's spamminess; none when it was not asked
  std::string verdict;          // "ham", "spam" or "none"
  std::string action;           // "filed", "hidden", "left" (in place) or "removed"
  bool learned = false;         // the engine learned the message from its own verdict
  std::string decided_by;       // "engine", "whitelist", "internal", or "" without a verdict
  std::string host;             // "varnolt" or "dovecot"
  std::string server;           // the server that judged ([journal] server)
  std::string subject;          // only when the home keeps subjects; bounded
  int64_t elapsed_us = 0;       // the filter's time on the event
  bool error = false;           // the engine failed on the message
  // The score's parts as the engine mixed them at delivery: none when the
  // engine was not asked, had too little to mix, or the record is older than
  // these fields.
  std::optional<double> counts_part;    // the token counts' own score
  std::optional<double> linear_part;    // the linear model's, when it was fitted
  std::optional<double> linear_weight;  // the linear part's share of the score
  std::string sender;                   // the From address, lower case; bounded
  std::vector<ScoreClue> clues;         // the strongest of each part at delivery (clue_text.h)
  // Filled when read back.
  std::string correction;       // "", "to_junk" or "from_junk"
  int64_t corrected_at = 0;
};

// Figures of a span of time.
struct Totals {
  int64_t ham = 0, spam = 0, none = 0;
  int64_t to_junk = 0, from_junk = 0;
  int64_t errors = 0;
  int64_t Verdicts() const { return ham + spam + none; }
  int64_t Corrections() const { return to_junk + from_junk; }
};

struct HourFigures {
  int64_t hour = 0;  // hours since the epoch
  Totals totals;
};

struct MailboxFigures {
  std::string mailbox;
  Totals totals;
};

// Upper bounds in seconds of the filter's time per event, for the histogram.
inline constexpr std::array<double, 11> kTimeBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                        0.1,   0.25,   0.5,   1.0,  2.5};

// All-time counters, never pruned.
struct Counters {
  Totals totals;
  std::array<int64_t, kTimeBuckets.size() + 1> time_buckets{};  // per bucket, not cumulative; last: +Inf
  double time_sum_seconds = 0;
  int64_t time_count = 0;
};

// The counters from their stored rows (name, value), as both journals keep them.
Counters CountersFromRows(const std::map<std::string, double>& values);

class Journal {
 public:
  virtual ~Journal() = default;

  // Adds the record (its id is ignored) and returns the id it got.
  virtual int64_t Add(const VerdictRecord& record) = 0;
  // Adds the records in one transaction (an import, a benchmark's fill).
  virtual void AddAll(const std::vector<VerdictRecord>& records) = 0;
  // Marks the newest record of the mailbox with this Message-ID as corrected.
  // False when no record matches (nothing is written then); a record already
  // corrected the same way is not counted twice.
  virtual bool Correct(const std::string& mailbox, const std::string& message_id, Correction correction,
                       int64_t time) = 0;
  // Removes this server's records and figures older than the time; returns the records removed.
  virtual int64_t Prune(int64_t before_time) = 0;

  // The figures of every server the journal holds.
  virtual Totals TotalsSince(int64_t time) = 0;
  // Hours from the time's hour on that hold figures, oldest first.
  virtual std::vector<HourFigures> HoursSince(int64_t time) = 0;
  // Each mailbox's figures from the time's day (UTC) on.
  virtual std::vector<MailboxFigures> MailboxesSince(int64_t time) = 0;
  // The newest records, newest first; with before_id > 0 those older than
  // that record (the next page).
  virtual std::vector<VerdictRecord> Latest(int limit, int64_t before_id = 0) = 0;
  virtual std::optional<VerdictRecord> Find(int64_t id) = 0;
  // The records that pass every filter of the query, newest first (verdict_search.h).
  virtual std::vector<VerdictRecord> Search(const VerdictQuery& query) = 0;
  virtual int64_t RecordCount() = 0;
  // This server's all-time counters and the figures alerts watch
  // (alert_figures.h): a scraper asks each server for its own.
  virtual Counters AllTime() = 0;
  virtual AlertFigures ForAlerts() = 0;

  // The dashboard's audit trail (audited_action.h). Recording works on a
  // journal opened for reading too: the dashboard only reads records.
  virtual void RecordAction(const AuditedAction& action) = 0;
  // The actions on one record, oldest first.
  virtual std::vector<AuditedAction> ActionsOn(int64_t record_id) = 0;
};

}  // namespace varnolt::journal
