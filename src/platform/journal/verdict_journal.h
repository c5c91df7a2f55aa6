// The verdict journal: one record per message the filter judged, written by
// the hosts after the event, and the user's later correction joined to it by
// Message-ID. One SQLite file in the home (WAL: readers such as the dashboard
// never hold up a writer, and a reader's crash cannot damage it).
//
// Besides the records, each write keeps hourly figures, daily figures per
// mailbox and all-time counters in the same transaction, so that the dashboard and the
// metrics answer from a few thousand rows however long the journal is.
// Pruning removes records and hourly figures past their age; the all-time
// counters (what a metrics scraper expects never to go down) stay.
//
// Every method throws ComError on failure. Not safe for use from several
// threads at once; several processes may share the file. Each call uses the
// file at the path as it is then: one deleted or replaced since the last
// call is let go and the one now there opened (a writer makes a new one; a
// reader fails while there is none).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/journal/alert_figures.h"
#include "platform/journal/verdict_search.h"

namespace varnolt::sqlite {
class Database;
}

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
  std::string subject;          // only when the home keeps subjects; bounded
  int64_t elapsed_us = 0;       // the filter's time on the event
  bool error = false;           // the engine failed on the message
  // The score's parts as the engine mixed them at delivery: none when the
  // engine was not asked, had too little to mix, or the record is older than
  // these fields.
  std::optional<double> counts_part;    // the token counts' own score
  std::optional<double> linear_part;    // the linear model's, when it was fitted
  std::optional<double> linear_weight;  // the linear part's share of the score
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

// Which file a path named when it was opened.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
};

class VerdictJournal {
 public:
  struct Options {
    bool read_only = false;
    // A writer gives up after this rather than hold up a delivery.
    int busy_timeout_ms = 200;
  };
  // Opens the file, creating it (and its tables) unless read-only: a new
  // file is for its owner and group only, and handed over as new_files.h
  // says. A missing file opened read-only fails.
  static std::unique_ptr<VerdictJournal> Open(const std::string& path, const Options& options);
  // Why the journal at the path cannot serve (not one, unreadable, failing
  // SQLite's quick check); "" when it is sound.
  static std::string Damage(const std::string& path);
  ~VerdictJournal();
  VerdictJournal(const VerdictJournal&) = delete;
  VerdictJournal& operator=(const VerdictJournal&) = delete;

  // Adds the record (its id is ignored) and returns the id it got.
  int64_t Add(const VerdictRecord& record);
  // Adds the records in one transaction (an import, a benchmark's fill).
  void AddAll(const std::vector<VerdictRecord>& records);
  // Marks the newest record of the mailbox with this Message-ID as corrected.
  // False when no record matches (nothing is written then); a record already
  // corrected the same way is not counted twice.
  bool Correct(const std::string& mailbox, const std::string& message_id, Correction correction, int64_t time);
  // Removes records and hourly figures older than the time; returns the records removed.
  int64_t Prune(int64_t before_time);

  Totals TotalsSince(int64_t time);
  // Hours from the time's hour on that hold figures, oldest first.
  std::vector<HourFigures> HoursSince(int64_t time);
  // Each mailbox's figures from the time's day (UTC) on.
  std::vector<MailboxFigures> MailboxesSince(int64_t time);
  // The newest records, newest first; with before_id > 0 those older than
  // that record (the next page).
  std::vector<VerdictRecord> Latest(int limit, int64_t before_id = 0);
  std::optional<VerdictRecord> Find(int64_t id);
  // The records that pass every filter of the query, newest first (verdict_search.h).
  std::vector<VerdictRecord> Search(const VerdictQuery& query);
  Counters AllTime();
  // The figures alerts watch (alert_figures.h).
  AlertFigures ForAlerts();
  int64_t RecordCount();

 private:
  VerdictJournal(std::string path, const Options& options);
  void Reopen();
  void FollowFile();
  std::string RecordColumns() const;
  void CountHour(int64_t time, const std::string& mailbox, const char* column);
  void AddCounter(const std::string& name, double amount);
  void CountForAlerts(const VerdictRecord& record, const char* verdict);

  std::string path_;
  Options options_;
  std::unique_ptr<sqlite::Database> db_;
  std::optional<FileIdentity> identity_;  // of the file db_ has open
  bool has_parts_ = false;  // the file has the score's parts (a reader may open an older one)
};

// The journal's file in a home.
inline constexpr const char* kDefaultJournalFile = "journal.db";

}  // namespace varnolt::journal
