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

#include "backends/journal/journal.h"

namespace varnolt::sqlite {
class Database;
}

namespace varnolt::journal {

// Which file a path named when it was opened.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
};

// The journal in a SQLite file (journal.h).
class VerdictJournal : public Journal {
 public:
  struct Options {
    bool read_only = false;
    // A writer gives up after this rather than hold up a delivery.
    int busy_timeout_ms = 200;
    // A writer builds an older file's missing indexes (a long wait on a large
    // one: `varnolt journal migrate`, never a delivery).
    bool build_indexes = false;
  };
  // Opens the file, creating it (and its tables) unless read-only: a new
  // file is for its owner and group only, and handed over as new_files.h
  // says. A missing file opened read-only fails.
  static std::unique_ptr<VerdictJournal> Open(const std::string& path, const Options& options);
  // Why the journal at the path cannot serve (not one, unreadable, failing
  // SQLite's quick check); "" when it is sound.
  static std::string Damage(const std::string& path);
  ~VerdictJournal() override;
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
  // In the file's own table (action_audit.h).
  void RecordAction(const AuditedAction& action);
  std::vector<AuditedAction> ActionsOn(int64_t record_id);
  // The file's format: below the current one until its indexes are built.
  int64_t Format();

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
  bool has_later_ = false;  // the file has the columns added since format 3 (a reader may open an older one)
  // The records whose subjects hold the phrase's trigrams, if only a few (few enough to sort them all).
  std::optional<std::vector<int64_t>> FewWithSubject(const std::string& phrase);
  bool has_subject_index_ = false;  // verdicts_subject: a file written before format 6 lacks it until migrated
};

// The journal's file in a home.
inline constexpr const char* kDefaultJournalFile = "journal.db";

}  // namespace varnolt::journal
