#include "backends/journal/postgres_journal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>

#include "backends/journal/bounded_field.h"
#include "backends/journal/clue_text.h"
#include "backends/journal/verdict_search.h"
#include "backends/postgres/connection.h"
#include "backends/postgres/journal_schema.h"
#include "backends/postgres/pg_errors.h"

namespace varnolt::journal {
namespace {

using postgres::Param;
using postgres::Result;
using postgres::ResultFormat;

constexpr const char* kRecordColumns =
    "id, at, mailbox, message_id, sender_domain, size, score, verdict, action, learned, decided_by, host, subject, "
    "elapsed_us, error, correction, corrected_at, counts_part, linear_part, linear_weight, sender, clues, server";

constexpr const char* kTotalsColumns =
    "COALESCE(SUM(ham),0)::bigint, COALESCE(SUM(spam),0)::bigint, COALESCE(SUM(none),0)::bigint, "
    "COALESCE(SUM(to_junk),0)::bigint, COALESCE(SUM(from_junk),0)::bigint, COALESCE(SUM(errors),0)::bigint";

// Doubles travel as text (exact with 17 digits) and are cast by the statement.
Param Real(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return Param(std::string_view(text));
}
Param Real(const std::optional<double>& value) { return value ? Real(*value) : Param::Null(); }

double RealAt(const Result& rows, int row, int column) { return std::strtod(rows.Text(row, column).c_str(), nullptr); }
std::optional<double> OptionalReal(const Result& rows, int row, int column) {
  if (rows.IsNull(row, column)) return std::nullopt;
  return RealAt(rows, row, column);
}

VerdictRecord ReadRecord(const Result& rows, int row) {
  VerdictRecord record;
  record.id = rows.Int(row, 0);
  record.time = rows.Int(row, 1);
  record.mailbox = rows.Text(row, 2);
  record.message_id = rows.Text(row, 3);
  record.sender_domain = rows.Text(row, 4);
  record.size = rows.Int(row, 5);
  record.score = OptionalReal(rows, row, 6);
  record.verdict = rows.Text(row, 7);
  record.action = rows.Text(row, 8);
  record.learned = rows.Bool(row, 9);
  record.decided_by = rows.Text(row, 10);
  record.host = rows.Text(row, 11);
  record.subject = rows.Text(row, 12);
  record.elapsed_us = rows.Int(row, 13);
  record.error = rows.Bool(row, 14);
  record.correction = rows.Text(row, 15);
  record.corrected_at = rows.Int(row, 16);
  record.counts_part = OptionalReal(rows, row, 17);
  record.linear_part = OptionalReal(rows, row, 18);
  record.linear_weight = OptionalReal(rows, row, 19);
  record.sender = rows.Text(row, 20);
  if (!rows.IsNull(row, 21)) record.clues = DecodeClues(rows.Text(row, 21));
  record.server = rows.Text(row, 22);
  return record;
}

Totals ReadTotals(const Result& rows, int row, int first) {
  Totals totals;
  totals.ham = rows.Int(row, first);
  totals.spam = rows.Int(row, first + 1);
  totals.none = rows.Int(row, first + 2);
  totals.to_junk = rows.Int(row, first + 3);
  totals.from_junk = rows.Int(row, first + 4);
  totals.errors = rows.Int(row, first + 5);
  return totals;
}

const char* VerdictColumn(const std::string& verdict) {
  if (verdict == "ham") return "ham";
  if (verdict == "spam") return "spam";
  return "none";
}

int64_t HourOf(int64_t time) { return time >= 0 ? time / 3600 : (time - 3599) / 3600; }
int64_t DayOf(int64_t time) { return time >= 0 ? time / 86400 : (time - 86399) / 86400; }

}  // namespace

PostgresJournal::PostgresJournal(std::string conninfo, std::string server)
    : conninfo_(std::move(conninfo)), server_(std::move(server)) {}
PostgresJournal::~PostgresJournal() = default;

postgres::Connection& PostgresJournal::Db() {
  if (db_ && db_->Broken()) db_.reset();
  if (!db_) {
    db_ = postgres::Connection::Open(conninfo_);
    postgres::CheckJournalSchema(*db_);
    // Each statement planned for its values: after a few runs a kept statement's
    // generic plan reads the whole time index for a server or mailbox without
    // records (seconds at ten million), where its own index answers at once.
    // (A server before 12 has no such setting and keeps its plans.)
    db_->Query("SELECT set_config(name, 'force_custom_plan', false) FROM pg_settings WHERE name = 'plan_cache_mode'");
  }
  return *db_;
}

void PostgresJournal::Count(int64_t time, const std::string& mailbox, const std::string& column) {
  postgres::Connection& db = Db();
  db.Query("INSERT INTO varnolt_journal_hourly(server, hour, " + column + ") VALUES($1, $2, 1) " +
               "ON CONFLICT(server, hour) DO UPDATE SET " + column + " = varnolt_journal_hourly." + column + " + 1",
           {Param(std::string_view(server_)), Param(HourOf(time))});
  db.Query("INSERT INTO varnolt_journal_daily(server, day, mailbox, " + column + ") VALUES($1, $2, $3, 1) " +
               "ON CONFLICT(server, day, mailbox) DO UPDATE SET " + column + " = varnolt_journal_daily." + column +
               " + 1",
           {Param(std::string_view(server_)), Param(DayOf(time)), Param(std::string_view(mailbox))});
}

void PostgresJournal::AddCounter(const std::string& name, double amount) {
  Db().Query("INSERT INTO varnolt_journal_counters(server, name, value) VALUES($1, $2, $3::float8) "
             "ON CONFLICT(server, name) DO UPDATE SET value = varnolt_journal_counters.value + excluded.value",
             {Param(std::string_view(server_)), Param(std::string_view(name)), Real(amount)});
}

void PostgresJournal::AddOne(const VerdictRecord& record, int64_t* id) {
  postgres::Connection& db = Db();
  const char* verdict = VerdictColumn(record.verdict);
  const std::string message_id = BoundedField(record.message_id, kMessageIdBytes);
  const std::string sender = BoundedField(record.sender, kAddressBytes);
  const std::string domain = BoundedField(record.sender_domain, kDomainBytes);
  const std::string subject = BoundedField(record.subject, kSubjectBytes);
  const std::string clues = EncodeClues(record.clues);
  Result inserted = db.Query(
      "INSERT INTO varnolt_verdicts(server, at, mailbox, message_id, sender, sender_domain, size, score, verdict, "
      "action, learned, decided_by, host, subject, elapsed_us, error, counts_part, linear_part, linear_weight, clues) "
      "VALUES($1, $2, $3, $4, $5, $6, $7, $8::float8, $9, $10, $11, $12, $13, $14, $15, $16, $17::float8, "
      "$18::float8, $19::float8, $20) RETURNING id",
      {Param(std::string_view(record.server.empty() ? server_ : record.server)), Param(record.time),
       Param(std::string_view(record.mailbox)),
       Param(std::string_view(message_id)), Param(std::string_view(sender)), Param(std::string_view(domain)),
       Param(record.size), Real(record.score), Param(verdict), Param(std::string_view(record.action)),
       Param(record.learned), Param(std::string_view(record.decided_by)), Param(std::string_view(record.host)),
       Param(std::string_view(subject)), Param(record.elapsed_us), Param(record.error), Real(record.counts_part),
       Real(record.linear_part), Real(record.linear_weight),
       clues.empty() ? Param::Null() : Param(std::string_view(clues))},
      ResultFormat::kText);
  if (id != nullptr) *id = inserted.Int(0, 0);
  Count(record.time, record.mailbox, verdict);
  if (record.error) {
    Count(record.time, record.mailbox, "errors");
    AddCounter("errors", 1);
  }
  const double seconds = static_cast<double>(record.elapsed_us) / 1e6;
  size_t bucket = 0;
  while (bucket < kTimeBuckets.size() && seconds > kTimeBuckets[bucket]) ++bucket;
  std::vector<std::pair<std::string, double>> counters = {
      {std::string("verdicts_") + verdict, 1},
      {"records", 1},
      {"time_bucket_" + std::to_string(bucket), 1},
      {"time_sum", seconds},
      {"host_verdicts:" + HostKey(record.host) + ":" + verdict, 1}};
  if (record.score) {
    counters.emplace_back("score_bucket_" + std::to_string(ScoreBucket(*record.score)), 1);
    counters.emplace_back("score_sum", *record.score);
  }
  // One statement for them all: each round trip costs a delivery.
  std::string sql = "INSERT INTO varnolt_journal_counters(server, name, value) VALUES";
  std::vector<Param> params = {Param(std::string_view(server_))};
  for (const auto& [name, amount] : counters) {
    sql += std::string(params.size() > 1 ? "," : "") + "($1, $" + std::to_string(params.size() + 1) + ", $" +
           std::to_string(params.size() + 2) + "::float8)";
    params.push_back(Param(std::string_view(name)));
    params.push_back(Real(amount));
  }
  db.Query(sql + " ON CONFLICT(server, name) DO UPDATE SET value = varnolt_journal_counters.value + excluded.value",
           params);
}

int64_t PostgresJournal::Add(const VerdictRecord& record) {
  postgres::Transaction transaction(Db());
  int64_t id = 0;
  AddOne(record, &id);
  transaction.Commit();
  return id;
}

void PostgresJournal::AddAll(const std::vector<VerdictRecord>& records) {
  postgres::Transaction transaction(Db());
  for (const VerdictRecord& record : records) AddOne(record, nullptr);
  transaction.Commit();
}

// The user's move on this server corrects this server's copy of the message
// (each server delivered its own); another's only when this one has none.
bool PostgresJournal::Correct(const std::string& mailbox, const std::string& message_id, Correction correction,
                              int64_t time) {
  if (message_id.empty()) return false;
  postgres::Connection& db = Db();
  postgres::Transaction transaction(db);
  Result found = db.Query(
      "SELECT id, correction FROM varnolt_verdicts WHERE mailbox = $1 AND message_id = $2 "
      "ORDER BY server = $3 DESC, at DESC, id DESC LIMIT 1 FOR UPDATE",
      {Param(std::string_view(mailbox)), Param(std::string_view(BoundedField(message_id, kMessageIdBytes))),
       Param(std::string_view(server_))},
      ResultFormat::kText);
  if (found.rows() == 0) return false;
  const char* name = CorrectionName(correction);
  if (found.Text(0, 1) != name) {
    db.Query("UPDATE varnolt_verdicts SET correction = $1, corrected_at = $2 WHERE id = $3",
             {Param(name), Param(time), Param(found.Int(0, 0))});
    Count(time, mailbox, name);
    AddCounter(std::string("corrections_") + name, 1);
  }
  transaction.Commit();
  return true;
}

int64_t PostgresJournal::Prune(int64_t before_time) {
  postgres::Connection& db = Db();
  postgres::Transaction transaction(db);
  const Param server{std::string_view(server_)};
  const int64_t removed =
      db.Query("DELETE FROM varnolt_verdicts WHERE server = $1 AND at < $2", {server, Param(before_time)})
          .affected_rows();
  db.Query("DELETE FROM varnolt_journal_hourly WHERE server = $1 AND hour < $2", {server, Param(HourOf(before_time))});
  db.Query("DELETE FROM varnolt_journal_daily WHERE server = $1 AND day < $2", {server, Param(DayOf(before_time))});
  if (removed > 0) AddCounter("records", -static_cast<double>(removed));
  transaction.Commit();
  return removed;
}

Totals PostgresJournal::TotalsSince(int64_t time) {
  Result rows = Db().Query(std::string("SELECT ") + kTotalsColumns + " FROM varnolt_journal_hourly WHERE hour >= $1",
                           {Param(HourOf(time))}, ResultFormat::kText);
  return ReadTotals(rows, 0, 0);
}

std::vector<HourFigures> PostgresJournal::HoursSince(int64_t time) {
  Result rows = Db().Query(std::string("SELECT hour, ") + kTotalsColumns +
                               " FROM varnolt_journal_hourly WHERE hour >= $1 GROUP BY hour ORDER BY hour",
                           {Param(HourOf(time))}, ResultFormat::kText);
  std::vector<HourFigures> hours;
  for (int row = 0; row < rows.rows(); ++row) hours.push_back({rows.Int(row, 0), ReadTotals(rows, row, 1)});
  return hours;
}

std::vector<MailboxFigures> PostgresJournal::MailboxesSince(int64_t time) {
  Result rows = Db().Query(std::string("SELECT mailbox, ") + kTotalsColumns +
                               " FROM varnolt_journal_daily WHERE day >= $1 GROUP BY mailbox ORDER BY mailbox",
                           {Param(DayOf(time))}, ResultFormat::kText);
  std::vector<MailboxFigures> mailboxes;
  for (int row = 0; row < rows.rows(); ++row) mailboxes.push_back({rows.Text(row, 0), ReadTotals(rows, row, 1)});
  return mailboxes;
}

std::vector<VerdictRecord> PostgresJournal::Latest(int limit, int64_t before_id) {
  Result rows = Db().Query(std::string("SELECT ") + kRecordColumns +
                               " FROM varnolt_verdicts WHERE id < $2 ORDER BY id DESC LIMIT $1",
                           {Param(int64_t{limit}), Param(before_id > 0 ? before_id : std::numeric_limits<int64_t>::max())},
                           ResultFormat::kText);
  std::vector<VerdictRecord> records;
  for (int row = 0; row < rows.rows(); ++row) records.push_back(ReadRecord(rows, row));
  return records;
}

std::optional<VerdictRecord> PostgresJournal::Find(int64_t id) {
  Result rows = Db().Query(std::string("SELECT ") + kRecordColumns + " FROM varnolt_verdicts WHERE id = $1",
                           {Param(id)}, ResultFormat::kText);
  if (rows.rows() == 0) return std::nullopt;
  return ReadRecord(rows, 0);
}

std::vector<VerdictRecord> PostgresJournal::Search(const VerdictQuery& query) {
  // As the file's search: newest first by (at, id), each filter an index's leading column.
  std::string where = "TRUE";
  std::vector<Param> params;
  auto add = [&](const std::string& condition, Param value, const char* cast = "") {
    params.push_back(std::move(value));
    where += " AND " + condition + "$" + std::to_string(params.size()) + cast;
  };
  if (query.before_id > 0) {
    const std::optional<VerdictRecord> last = Find(query.before_id);
    if (!last) return {};  // pruned meanwhile: the pages past it are gone too
    params.push_back(Param(last->time));
    params.push_back(Param(last->id));
    where += " AND (at, id) < ($1, $2)";
  }
  if (query.from) add("at >= ", Param(*query.from));
  if (query.to) add("at < ", Param(*query.to));
  if (!query.mailbox.empty()) add("mailbox = ", Param(std::string_view(LowerAscii(query.mailbox))));
  if (!query.domain.empty()) {
    // Found through the index on the part after the '@'; the pattern keeps out a mailbox without one.
    add("substr(mailbox, strpos(mailbox, '@') + 1) = ", Param(std::string_view(LowerAscii(query.domain))));
    add("mailbox LIKE ", Param(std::string_view(MailboxDomainPattern(query.domain))));
    where += " ESCAPE '\\'";
  }
  if (!query.subject.empty()) {
    // LIKE, not strpos: the shape the subject's trigram index answers.
    add("lower(subject) LIKE ", Param(std::string_view(SubjectPattern(query.subject))));
  }
  if (!query.sender.empty()) add("sender = ", Param(std::string_view(BoundedField(LowerAscii(query.sender), kAddressBytes))));
  if (!query.sender_domain.empty()) {
    add("sender_domain = ", Param(std::string_view(BoundedField(LowerAscii(query.sender_domain), kDomainBytes))));
  }
  if (!query.message_id.empty()) {
    add("message_id = ", Param(std::string_view(BoundedField(query.message_id, kMessageIdBytes))));
  }
  if (!query.server.empty()) add("server = ", Param(std::string_view(query.server)));
  if (!query.verdict.empty()) add("verdict = ", Param(std::string_view(query.verdict)));
  if (!query.action.empty()) add("action = ", Param(std::string_view(query.action)));
  if (query.min_score) add("score >= ", Real(*query.min_score), "::float8");
  if (query.max_score) add("score <= ", Real(*query.max_score), "::float8");
  if (query.corrected) where += *query.corrected ? " AND correction <> ''" : " AND correction = ''";
  params.push_back(Param(int64_t{std::max(query.limit, 0)}));
  Result rows = Db().Query(std::string("SELECT ") + kRecordColumns + " FROM varnolt_verdicts WHERE " + where +
                               " ORDER BY at DESC, id DESC LIMIT $" + std::to_string(params.size()),
                           params, ResultFormat::kText);
  std::vector<VerdictRecord> records;
  for (int row = 0; row < rows.rows(); ++row) records.push_back(ReadRecord(rows, row));
  return records;
}

int64_t PostgresJournal::RecordCount() {
  Result rows = Db().Query("SELECT COALESCE(SUM(value), 0)::bigint FROM varnolt_journal_counters WHERE name = 'records'",
                           {}, ResultFormat::kText);
  return rows.Int(0, 0);
}

Counters PostgresJournal::AllTime() {
  Result rows = Db().Query("SELECT name, value FROM varnolt_journal_counters WHERE server = $1",
                           {Param(std::string_view(server_))}, ResultFormat::kText);
  std::map<std::string, double> values;
  for (int row = 0; row < rows.rows(); ++row) values[rows.Text(row, 0)] = RealAt(rows, row, 1);
  return CountersFromRows(values);
}

AlertFigures PostgresJournal::ForAlerts() {
  AlertFigures figures;
  const Param server{std::string_view(server_)};
  Result last = Db().Query("SELECT MAX(at) FROM varnolt_verdicts WHERE server = $1", {server}, ResultFormat::kText);
  if (!last.IsNull(0, 0)) figures.last_verdict_time = last.Int(0, 0);
  Result rows = Db().Query(
      "SELECT name, value FROM varnolt_journal_counters WHERE server = $1 AND "
      "(name LIKE 'score_%' OR name LIKE 'host_verdicts:%')",
      {server}, ResultFormat::kText);
  for (int row = 0; row < rows.rows(); ++row) {
    const std::string name = rows.Text(row, 0);
    const double value = RealAt(rows, row, 1);
    if (name == "score_sum") {
      figures.score_sum = value;
    } else if (name.rfind("score_bucket_", 0) == 0) {
      const size_t bucket = std::strtoul(name.c_str() + 13, nullptr, 10);
      if (bucket < figures.score_buckets.size()) figures.score_buckets[bucket] = static_cast<int64_t>(value);
    } else if (name.rfind("host_verdicts:", 0) == 0) {
      const std::string rest = name.substr(14);
      const size_t colon = rest.find(':');
      if (colon != std::string::npos) {
        figures.host_verdicts[{rest.substr(0, colon), rest.substr(colon + 1)}] = static_cast<int64_t>(value);
      }
    }
  }
  return figures;
}

bool PostgresJournal::HasActionsTable() {
  return Db().Query("SELECT to_regclass('varnolt_dashboard_actions') IS NOT NULL").Bool(0, 0);
}

void PostgresJournal::RecordAction(const AuditedAction& action) {
  // A database migrated before the trail existed has the records but not its
  // table: say how to add it rather than lose the action quietly.
  if (!HasActionsTable()) {
    throw postgres::PgError(postgres::kPgSchemaMissing,
                            "database holds no table for the dashboard's actions; add it first (varnolt db migrate)");
  }
  Db().Query("INSERT INTO varnolt_dashboard_actions(server, at, who, record_id, action, outcome, detail) "
             "VALUES($1, $2, $3, $4, $5, $6, $7)",
             {Param(std::string_view(server_)), Param(action.time), Param(std::string_view(action.who)),
              Param(action.record_id), Param(std::string_view(action.action)),
              Param(std::string_view(action.outcome)), Param(std::string_view(action.detail))});
}

std::vector<AuditedAction> PostgresJournal::ActionsOn(int64_t record_id) {
  std::vector<AuditedAction> actions;
  if (!HasActionsTable()) return actions;
  Result rows = Db().Query(
      "SELECT at, who, record_id, action, outcome, detail FROM varnolt_dashboard_actions WHERE record_id = $1 "
      "ORDER BY id",
      {Param(record_id)});
  for (int row = 0; row < rows.rows(); ++row) {
    actions.push_back({rows.Int(row, 0), rows.Text(row, 1), rows.Int(row, 2), rows.Text(row, 3), rows.Text(row, 4),
                       rows.Text(row, 5)});
  }
  return actions;
}

}  // namespace varnolt::journal
