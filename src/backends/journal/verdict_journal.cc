#include "backends/journal/verdict_journal.h"

#include <sys/stat.h>

#include <cstring>
#include <limits>

#include "backends/journal/action_audit.h"
#include "backends/journal/bounded_field.h"
#include "backends/journal/clue_text.h"
#include "backends/sqlite/database.h"
#include "backends/system/new_files.h"
#include "platform/com/com_error.h"

namespace varnolt::journal {
namespace {

constexpr int64_t kApplicationId = 0x564E4A4C;  // "VNJL"
// 2: the search indexes; 3: the score's parts; 4: the sender's address, the
// clues at delivery and the server, with their indexes; 5: the mailbox's domain's index; 6: the
// subject's trigram index. A writer adds an older file's
// missing columns (cheap) but never its indexes: `varnolt journal migrate`
// builds those, as its own step, so that no delivery waits for it.
constexpr int64_t kFormat = 6;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS verdicts(
  id INTEGER PRIMARY KEY, at INTEGER NOT NULL, mailbox TEXT NOT NULL, message_id TEXT NOT NULL,
  sender_domain TEXT NOT NULL, size INTEGER NOT NULL, score REAL, verdict TEXT NOT NULL,
  action TEXT NOT NULL, learned INTEGER NOT NULL, decided_by TEXT NOT NULL, host TEXT NOT NULL,
  subject TEXT NOT NULL, elapsed_us INTEGER NOT NULL, error INTEGER NOT NULL,
  correction TEXT NOT NULL DEFAULT '', corrected_at INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS verdicts_at ON verdicts(at);
CREATE INDEX IF NOT EXISTS verdicts_message ON verdicts(mailbox, message_id);
CREATE TABLE IF NOT EXISTS hourly(
  hour INTEGER PRIMARY KEY, ham INTEGER NOT NULL DEFAULT 0, spam INTEGER NOT NULL DEFAULT 0,
  none INTEGER NOT NULL DEFAULT 0, to_junk INTEGER NOT NULL DEFAULT 0, from_junk INTEGER NOT NULL DEFAULT 0,
  errors INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS daily(
  day INTEGER NOT NULL, mailbox TEXT NOT NULL, ham INTEGER NOT NULL DEFAULT 0,
  spam INTEGER NOT NULL DEFAULT 0, none INTEGER NOT NULL DEFAULT 0, to_junk INTEGER NOT NULL DEFAULT 0,
  from_junk INTEGER NOT NULL DEFAULT 0, errors INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(day, mailbox)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value REAL NOT NULL) WITHOUT ROWID;
)sql";

constexpr const char* kRecordColumns =
    "id, at, mailbox, message_id, sender_domain, size, score, verdict, action, learned, decided_by, host, "
    "subject, elapsed_us, error, correction, corrected_at";
// Added since format 3, nullable: older records read as without them.
struct LaterColumn {
  const char* name;
  const char* type;
};
constexpr LaterColumn kLaterColumns[] = {
    {"counts_part", "REAL"}, {"linear_part", "REAL"}, {"linear_weight", "REAL"}, {"sender", "TEXT"}, {"clues", "TEXT"},
    {"server", "TEXT"}};

constexpr const char* kTotalsColumns =
    "COALESCE(SUM(ham),0), COALESCE(SUM(spam),0), COALESCE(SUM(none),0), COALESCE(SUM(to_junk),0), "
    "COALESCE(SUM(from_junk),0), COALESCE(SUM(errors),0)";

[[noreturn]] void Throw(int code, const std::string& message) {
  throw ComError(E_FAIL, "verdict journal: " + message + " (SQLite " + std::to_string(code) + ")");
}

VerdictRecord ReadRecord(sqlite::Statement& row) {
  VerdictRecord record;
  record.id = row.Int(0);
  record.time = row.Int(1);
  record.mailbox = row.Text(2);
  // Bounded on reading too: records written before the bound came in.
  record.message_id = BoundedField(row.Text(3), kMessageIdBytes);
  record.sender_domain = BoundedField(row.Text(4), kDomainBytes);
  record.size = row.Int(5);
  if (!row.IsNull(6)) record.score = row.Real(6);
  record.verdict = row.Text(7);
  record.action = row.Text(8);
  record.learned = row.Int(9) != 0;
  record.decided_by = row.Text(10);
  record.host = row.Text(11);
  record.subject = BoundedField(row.Text(12), kSubjectBytes);
  record.elapsed_us = row.Int(13);
  record.error = row.Int(14) != 0;
  record.correction = row.Text(15);
  record.corrected_at = row.Int(16);
  if (!row.IsNull(17)) record.counts_part = row.Real(17);
  if (!row.IsNull(18)) record.linear_part = row.Real(18);
  if (!row.IsNull(19)) record.linear_weight = row.Real(19);
  if (!row.IsNull(20)) record.sender = BoundedField(row.Text(20), kAddressBytes);
  if (!row.IsNull(21)) record.clues = DecodeClues(row.Text(21));
  if (!row.IsNull(22)) record.server = row.Text(22);
  return record;
}

Totals ReadTotals(sqlite::Statement& row, int first) {
  Totals totals;
  totals.ham = row.Int(first);
  totals.spam = row.Int(first + 1);
  totals.none = row.Int(first + 2);
  totals.to_junk = row.Int(first + 3);
  totals.from_junk = row.Int(first + 4);
  totals.errors = row.Int(first + 5);
  return totals;
}

const char* VerdictColumn(const std::string& verdict) {
  if (verdict == "ham") return "ham";
  if (verdict == "spam") return "spam";
  return "none";
}

bool HasTable(sqlite::Database& db) {
  sqlite::Statement row(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'verdicts'");
  return row.Step();
}

bool HasSubjectIndex(sqlite::Database& db) {
  sqlite::Statement row(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'verdicts_subject'");
  return row.Step();
}

bool HasColumn(sqlite::Database& db, const char* column) {
  sqlite::Statement row(db, "SELECT 1 FROM pragma_table_info('verdicts') WHERE name = ?1");
  row.Bind(1, std::string_view(column));
  return row.Step();
}

int64_t HourOf(int64_t time) { return time >= 0 ? time / 3600 : (time - 3599) / 3600; }
int64_t DayOf(int64_t time) { return time >= 0 ? time / 86400 : (time - 86399) / 86400; }

}  // namespace

const char* CorrectionName(Correction correction) {
  return correction == Correction::kToJunk ? "to_junk" : "from_junk";
}

VerdictJournal::VerdictJournal(std::string path, const Options& options) : path_(std::move(path)), options_(options) {}
VerdictJournal::~VerdictJournal() = default;

namespace {

std::unique_ptr<sqlite::Database> OpenDatabase(const std::string& path, const VerdictJournal::Options& options) {
  if (!options.read_only) {
    // Made here: SQLite would make it readable by everyone, and root's would
    // stay closed to the mail server that writes it too.
    const int error = CreateFileIfMissing(path);
    if (error != 0) Throw(0, path + ": " + std::strerror(error));
  }
  sqlite::OpenOptions open;
  open.read_only = options.read_only;
  open.create_if_missing = !options.read_only;
  open.busy_timeout_ms = options.busy_timeout_ms;
  std::unique_ptr<sqlite::Database> db = sqlite::Database::Open(path, open, Throw);
  if (!options.read_only && db->QueryInt("PRAGMA user_version") != kFormat) {
    // WAL: the dashboard reads while deliveries write. NORMAL: a commit is
    // not synced, yet a crash of any process loses nothing committed.
    db->Exec("PRAGMA journal_mode=WAL");
    sqlite::WriteTransaction write(*db);
    const int64_t format = db->QueryInt("PRAGMA user_version");
    if (format > kFormat) Throw(0, path + " was written by a newer version");
    const int64_t application = db->QueryInt("PRAGMA application_id");
    if (application != 0 && application != kApplicationId) Throw(0, path + " is not a verdict journal");
    const bool fresh = !HasTable(*db);
    db->Exec(kSchema);
    // Adding a nullable column rewrites nothing, however long the table.
    for (const LaterColumn& column : kLaterColumns) {
      if (!HasColumn(*db, column.name)) {
        db->Exec(std::string("ALTER TABLE verdicts ADD COLUMN ") + column.name + " " + column.type);
      }
    }
    // Indexes over an empty table cost nothing; over an older file's records
    // they wait for `varnolt journal migrate` (searches work meanwhile, slower).
    if (fresh || options.build_indexes) {
      db->Exec(kSearchIndexes);
      const bool had_subject_index = HasSubjectIndex(*db);
      db->Exec(kSubjectIndex);
      if (!had_subject_index && !fresh) db->Exec("INSERT INTO verdicts_subject(verdicts_subject) VALUES('rebuild')");
      db->Exec("PRAGMA user_version=" + std::to_string(kFormat));
    }
    db->Exec("PRAGMA application_id=" + std::to_string(kApplicationId));
    write.Commit();
  }
  db->Exec("PRAGMA synchronous=NORMAL");
  if (options.read_only && db->QueryInt("PRAGMA application_id") != kApplicationId) {
    Throw(0, path + " is not a verdict journal");
  }
  return db;
}

// The file now at the path; nullopt when there is none.
std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

std::unique_ptr<VerdictJournal> VerdictJournal::Open(const std::string& path, const Options& options) {
  std::unique_ptr<VerdictJournal> journal(new VerdictJournal(path, options));
  journal->Reopen();
  return journal;
}

void VerdictJournal::Reopen() {
  if (db_) {
    // The connection's write-ahead log and index are found by name, and
    // those names are the new file's now: closing must neither fold into
    // nor delete them. (A failed opening below leaves none: the next use
    // tries again.)
    db_->KeepSideFilesOnClose();
    db_.reset();
  }
  const std::optional<FileIdentity> before = IdentityOf(path_);
  db_ = OpenDatabase(path_, options_);
  identity_ = before ? before : IdentityOf(path_);
  has_later_ = HasColumn(*db_, kLaterColumns[std::size(kLaterColumns) - 1].name);
  has_subject_index_ = HasSubjectIndex(*db_);
}

std::string VerdictJournal::RecordColumns() const {
  std::string columns = kRecordColumns;
  for (const LaterColumn& column : kLaterColumns) columns += std::string(", ") + (has_later_ ? column.name : "NULL");
  return columns;
}

void VerdictJournal::RecordAction(const AuditedAction& action) { AuditAction(path_, action); }

std::vector<AuditedAction> VerdictJournal::ActionsOn(int64_t record_id) { return AuditedActionsOf(path_, record_id); }

int64_t VerdictJournal::Format() {
  FollowFile();
  return db_->QueryInt("PRAGMA user_version");
}

// A long-lived process (the dashboard, a mail server's delivery process)
// keeps the journal open, while an administrator may delete it or put
// another file in its place: each use first makes sure it is still the file
// at the path, else opens that one (a writer makes a new one).
void VerdictJournal::FollowFile() {
  if (db_ && db_->InTransaction()) return;
  const std::optional<FileIdentity> now = IdentityOf(path_);
  const bool same = db_ && now && identity_ && now->device == identity_->device && now->inode == identity_->inode;
  if (same) {
    // A reader of an older file sees the later columns once a writer has added them.
    if (!has_later_) has_later_ = HasColumn(*db_, kLaterColumns[std::size(kLaterColumns) - 1].name);
    // ...and the subject's index once the file is migrated.
    if (!has_subject_index_) has_subject_index_ = HasSubjectIndex(*db_);
    return;
  }
  if (!now && options_.read_only) Throw(0, path_ + " is missing");
  Reopen();
}

std::string VerdictJournal::Damage(const std::string& path) {
  try {
    sqlite::OpenOptions open;
    open.create_if_missing = false;
    std::unique_ptr<sqlite::Database> db = sqlite::Database::Open(path, open, Throw);
    if (db->QueryInt("PRAGMA application_id") != kApplicationId) {
      // An empty file is what a writer killed before its first commit leaves: the next one fills it.
      return db->QueryInt("PRAGMA page_count") == 0 ? "" : "it is not a verdict journal";
    }
    sqlite::Statement check(*db, "PRAGMA quick_check");
    const std::string verdict = check.Step() ? check.Text(0) : "no answer to a check";
    return verdict == "ok" ? "" : verdict;
  } catch (const ComError& error) {
    return error.description();
  }
}

// Counted twice: by hour for the whole home (the plots, the totals) and by
// day for each mailbox (the mailbox table), so that neither needs to group
// more than a few thousand rows.
void VerdictJournal::CountHour(int64_t time, const std::string& mailbox, const char* column) {
  const std::string name(column);
  sqlite::Statement(*db_, "INSERT INTO hourly(hour, " + name + ") VALUES(?1, 1) " +
                              "ON CONFLICT(hour) DO UPDATE SET " + name + " = " + name + " + 1")
      .Bind(1, HourOf(time))
      .Run();
  sqlite::Statement(*db_, "INSERT INTO daily(day, mailbox, " + name + ") VALUES(?1, ?2, 1) " +
                              "ON CONFLICT(day, mailbox) DO UPDATE SET " + name + " = " + name + " + 1")
      .Bind(1, DayOf(time))
      .Bind(2, mailbox)
      .Run();
}

void VerdictJournal::AddCounter(const std::string& name, double amount) {
  sqlite::Statement(*db_,
                    "INSERT INTO counters(name, value) VALUES(?1, ?2) "
                    "ON CONFLICT(name) DO UPDATE SET value = value + ?2")
      .Bind(1, name)
      .Bind(2, amount)
      .Run();
}

int64_t VerdictJournal::Add(const VerdictRecord& record) {
  FollowFile();
  sqlite::WriteTransaction write(*db_);
  sqlite::Statement insert(*db_,
                           "INSERT INTO verdicts(at, mailbox, message_id, sender_domain, size, score, verdict, "
                           "action, learned, decided_by, host, subject, elapsed_us, error, counts_part, linear_part, "
                           "linear_weight, sender, clues, server) "
                           "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, "
                           "?20)");
  insert.Bind(1, record.time).Bind(2, record.mailbox).Bind(3, BoundedField(record.message_id, kMessageIdBytes));
  insert.Bind(4, BoundedField(record.sender_domain, kDomainBytes));
  insert.Bind(5, record.size);
  if (record.score) {
    insert.Bind(6, *record.score);
  } else {
    insert.BindNull(6);
  }
  const char* verdict = VerdictColumn(record.verdict);
  insert.Bind(7, std::string_view(verdict)).Bind(8, record.action).Bind(9, int64_t{record.learned});
  insert.Bind(10, record.decided_by).Bind(11, record.host).Bind(12, BoundedField(record.subject, kSubjectBytes));
  insert.Bind(13, record.elapsed_us).Bind(14, int64_t{record.error});
  int index = 15;
  for (const std::optional<double>* part : {&record.counts_part, &record.linear_part, &record.linear_weight}) {
    if (*part) {
      insert.Bind(index++, **part);
    } else {
      insert.BindNull(index++);
    }
  }
  insert.Bind(18, BoundedField(record.sender, kAddressBytes));
  if (record.clues.empty()) {
    insert.BindNull(19);
  } else {
    insert.Bind(19, EncodeClues(record.clues));
  }
  insert.Bind(20, record.server);
  insert.Run();
  const int64_t id = db_->LastInsertId();

  CountHour(record.time, record.mailbox, verdict);
  if (record.error) CountHour(record.time, record.mailbox, "errors");
  if (record.error) AddCounter("errors", 1);
  const double seconds = static_cast<double>(record.elapsed_us) / 1e6;
  size_t bucket = 0;
  while (bucket < kTimeBuckets.size() && seconds > kTimeBuckets[bucket]) ++bucket;
  // The counters of every record in one statement: each costs a delivery.
  sqlite::Statement(*db_,
                    "INSERT INTO counters(name, value) VALUES(?1, 1), ('records', 1), (?2, 1), ('time_sum', ?3) "
                    "ON CONFLICT(name) DO UPDATE SET value = value + excluded.value")
      .Bind(1, std::string("verdicts_") + verdict)
      .Bind(2, "time_bucket_" + std::to_string(bucket))
      .Bind(3, seconds)
      .Run();
  CountForAlerts(record, verdict);
  write.Commit();
  return id;
}

void VerdictJournal::AddAll(const std::vector<VerdictRecord>& records) {
  FollowFile();
  sqlite::WriteTransaction write(*db_);
  for (const VerdictRecord& record : records) Add(record);
  write.Commit();
}

bool VerdictJournal::Correct(const std::string& mailbox, const std::string& message_id, Correction correction,
                             int64_t time) {
  if (message_id.empty()) return false;
  FollowFile();
  sqlite::WriteTransaction write(*db_);
  int64_t id = 0;
  std::string before;
  {
    sqlite::Statement find(*db_,
                           "SELECT id, correction FROM verdicts WHERE mailbox = ?1 AND message_id = ?2 "
                           "ORDER BY id DESC LIMIT 1");
    find.Bind(1, mailbox).Bind(2, BoundedField(message_id, kMessageIdBytes));  // as it was stored
    if (!find.Step()) return false;
    id = find.Int(0);
    before = find.Text(1);
  }
  const char* name = CorrectionName(correction);
  if (before == name) {
    write.Commit();
    return true;
  }
  sqlite::Statement(*db_, "UPDATE verdicts SET correction = ?1, corrected_at = ?2 WHERE id = ?3")
      .Bind(1, std::string_view(name))
      .Bind(2, time)
      .Bind(3, id)
      .Run();
  CountHour(time, mailbox, name);
  AddCounter(std::string("corrections_") + name, 1);
  write.Commit();
  return true;
}

int64_t VerdictJournal::Prune(int64_t before_time) {
  FollowFile();
  sqlite::WriteTransaction write(*db_);
  sqlite::Statement(*db_, "DELETE FROM verdicts WHERE at < ?1").Bind(1, before_time).Run();
  const int64_t removed = db_->Changes();
  sqlite::Statement(*db_, "DELETE FROM hourly WHERE hour < ?1").Bind(1, HourOf(before_time)).Run();
  sqlite::Statement(*db_, "DELETE FROM daily WHERE day < ?1").Bind(1, DayOf(before_time)).Run();
  if (removed > 0) AddCounter("records", -static_cast<double>(removed));
  write.Commit();
  return removed;
}

Totals VerdictJournal::TotalsSince(int64_t time) {
  FollowFile();
  sqlite::Statement row(*db_, std::string("SELECT ") + kTotalsColumns + " FROM hourly WHERE hour >= ?1");
  row.Bind(1, HourOf(time));
  return row.Step() ? ReadTotals(row, 0) : Totals{};
}

std::vector<HourFigures> VerdictJournal::HoursSince(int64_t time) {
  FollowFile();
  sqlite::Statement row(*db_, std::string("SELECT hour, ") + kTotalsColumns +
                                  " FROM hourly WHERE hour >= ?1 GROUP BY hour ORDER BY hour");
  row.Bind(1, HourOf(time));
  std::vector<HourFigures> hours;
  while (row.Step()) hours.push_back({row.Int(0), ReadTotals(row, 1)});
  return hours;
}

std::vector<MailboxFigures> VerdictJournal::MailboxesSince(int64_t time) {
  FollowFile();
  sqlite::Statement row(*db_, std::string("SELECT mailbox, ") + kTotalsColumns +
                                  " FROM daily WHERE day >= ?1 GROUP BY mailbox ORDER BY mailbox");
  row.Bind(1, DayOf(time));
  std::vector<MailboxFigures> mailboxes;
  while (row.Step()) mailboxes.push_back({row.Text(0), ReadTotals(row, 1)});
  return mailboxes;
}

std::vector<VerdictRecord> VerdictJournal::Latest(int limit, int64_t before_id) {
  FollowFile();
  sqlite::Statement row(*db_, "SELECT " + RecordColumns() +
                                  " FROM verdicts WHERE id < ?2 ORDER BY id DESC LIMIT ?1");
  row.Bind(1, int64_t{limit}).Bind(2, before_id > 0 ? before_id : std::numeric_limits<int64_t>::max());
  std::vector<VerdictRecord> records;
  while (row.Step()) records.push_back(ReadRecord(row));
  return records;
}

std::optional<VerdictRecord> VerdictJournal::Find(int64_t id) {
  FollowFile();
  sqlite::Statement row(*db_, "SELECT " + RecordColumns() + " FROM verdicts WHERE id = ?1");
  row.Bind(1, id);
  if (!row.Step()) return std::nullopt;
  return ReadRecord(row);
}

Counters VerdictJournal::AllTime() {
  FollowFile();
  std::map<std::string, double> values;
  sqlite::Statement row(*db_, "SELECT name, value FROM counters");
  while (row.Step()) values[row.Text(0)] = row.Real(1);
  return CountersFromRows(values);
}

int64_t VerdictJournal::RecordCount() {
  FollowFile();
  sqlite::Statement row(*db_, "SELECT value FROM counters WHERE name = 'records'");
  return row.Step() ? static_cast<int64_t>(row.Real(0)) : 0;
}

}  // namespace varnolt::journal
