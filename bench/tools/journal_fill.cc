// Fills a verdict journal with synthetic records, as a busy server's would
// look: RECORDS records over the last DAYS days (newest now), MAILBOXES
// mailboxes, about 30% SPAM, 1 in 50 corrected, filter times of a few ms.
// Usage: journal_fill JOURNAL RECORDS [DAYS] [MAILBOXES] [WRITTEN]
// JOURNAL: a file, or postgresql:CONNINFO for the tables in PostgreSQL
// (made first, as varnolt db migrate makes them).
// WRITTEN (default RECORDS): the records written through the journal one by
// one; the rest are copies of them made inside the database, spread between
// them in time (RECORDS a multiple of WRITTEN), with every count scaled to
// match, and the indexes built afterwards, as `journal migrate` builds them:
// ten million records in minutes rather than hours.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "backends/journal/postgres_journal.h"
#include "backends/journal/verdict_journal.h"
#include "backends/postgres/connection.h"
#include "backends/postgres/journal_schema.h"
#include "backends/sqlite/database.h"
#include "platform/com/com_error.h"

using varnolt::journal::Correction;
using varnolt::journal::Journal;
using varnolt::journal::VerdictJournal;
using varnolt::journal::VerdictRecord;

namespace {

[[noreturn]] void Fail(int code, const std::string& message) {
  throw varnolt::ComError(varnolt::E_FAIL, message + " (SQLite " + std::to_string(code) + ")");
}

// Every column but the id, as the file and PostgreSQL both name them; a copy
// takes the others from its original.
constexpr const char* kCopied =
    "mailbox, sender_domain, size, score, verdict, action, learned, decided_by, host, subject, elapsed_us, error, "
    "correction, corrected_at, counts_part, linear_part, linear_weight, sender, clues, server";
// A subject is two of these and a number: "Invoice Meeting No. 4711".
constexpr const char* kSubjectWords[] = {"Invoice", "Meeting", "Re:", "Your order", "Password", "Newsletter",
                                         "Urgent", "Offer", "Delivery", "Account", "Report", "Invitation",
                                         "Payment", "Update", "Schedule", "Welcome", "Reminder", "Contract",
                                         "Question", "Photos"};
constexpr const char* kCountColumns[] = {"ham", "spam", "none", "to_junk", "from_junk", "errors"};

std::string Scaled(const char* table, long times) {
  std::string sql = std::string("UPDATE ") + table + " SET ";
  for (const char* column : kCountColumns) {
    sql += std::string(column == kCountColumns[0] ? "" : ", ") + column + " = " + column + " * " + std::to_string(times);
  }
  return sql + ";";
}

// Copy k of written record i falls where record i * copies + k of an even
// spread would: the same times as writing them all.
void CopyInFile(const std::string& path, long copies, int64_t span, long total) {
  {
    varnolt::sqlite::OpenOptions options;
    auto db = varnolt::sqlite::Database::Open(path, options, Fail);
    db->Exec("BEGIN IMMEDIATE");
    std::vector<std::string> indexes;
    {
      varnolt::sqlite::Statement row(*db, "SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL");
      while (row.Step()) indexes.push_back(row.Text(0));
    }
    for (const std::string& index : indexes) db->Exec("DROP INDEX " + index);
    // The subject's trigrams too: built afterwards, as `journal migrate` builds them.
    db->Exec("DROP TRIGGER IF EXISTS verdicts_subject_added; DROP TRIGGER IF EXISTS verdicts_subject_removed; "
             "DROP TRIGGER IF EXISTS verdicts_subject_changed; DROP TABLE IF EXISTS verdicts_subject");
    db->Exec(std::string("WITH RECURSIVE copy(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM copy WHERE k < ") +
             std::to_string(copies - 1) + ") INSERT INTO verdicts(at, message_id, " + kCopied + ") SELECT at + k * " +
             std::to_string(span) + " / " + std::to_string(total) +
             ", replace(message_id, '@', '.' || k || '@'), " + kCopied + " FROM verdicts, copy ORDER BY k, id");
    db->Exec(Scaled("hourly", copies) + Scaled("daily", copies) +
             "UPDATE counters SET value = value * " + std::to_string(copies) + "; PRAGMA user_version = 1; COMMIT");
  }
  VerdictJournal::Options options;
  options.build_indexes = true;
  VerdictJournal::Open(path, options);
}

void CopyInPostgres(const std::string& conninfo, long copies, int64_t span, long total) {
  auto db = varnolt::postgres::Connection::Open(conninfo);
  db->Exec("BEGIN");
  auto indexes = db->Query(
      "SELECT indexname::text FROM pg_indexes WHERE tablename = 'varnolt_verdicts' AND indexname <> 'varnolt_verdicts_pkey'");
  for (int row = 0; row < indexes.rows(); ++row) db->Exec("DROP INDEX " + indexes.Text(row, 0));
  db->Exec(std::string("INSERT INTO varnolt_verdicts(at, message_id, ") + kCopied + ") SELECT at + k::bigint * " +
           std::to_string(span) + " / " + std::to_string(total) +
           ", replace(message_id, '@', '.' || k || '@'), " + kCopied +
           " FROM varnolt_verdicts, generate_series(1, " + std::to_string(copies - 1) + ") AS k ORDER BY k, id");
  db->Exec(Scaled("varnolt_journal_hourly", copies) + Scaled("varnolt_journal_daily", copies) +
           "UPDATE varnolt_journal_counters SET value = value * " + std::to_string(copies) + "; COMMIT");
  varnolt::postgres::MigrateJournalSchema(*db);
  db->Exec("ANALYZE varnolt_verdicts");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s JOURNAL RECORDS [DAYS] [MAILBOXES]\n", argv[0]);
    return 2;
  }
  const long total = std::atol(argv[2]);
  const long days = argc > 3 ? std::atol(argv[3]) : 30;
  const long mailboxes = argc > 4 ? std::atol(argv[4]) : 50;
  const long written = argc > 5 ? std::atol(argv[5]) : total;
  if (written <= 0 || total % written != 0) {
    std::fprintf(stderr, "journal_fill: RECORDS must be a multiple of WRITTEN\n");
    return 2;
  }
  const long copies = total / written;
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const int64_t start = now - days * 86400;
  std::mt19937_64 random(42);
  std::mt19937_64 subjects(7);
  try {
    const std::string target = argv[1];
    std::unique_ptr<Journal> journal;
    if (target.rfind("postgresql:", 0) == 0) {
      const std::string conninfo = target.substr(11);
      varnolt::postgres::MigrateJournalSchema(*varnolt::postgres::Connection::Open(conninfo));
      journal = std::make_unique<varnolt::journal::PostgresJournal>(conninfo, "bench");
    } else {
      journal = VerdictJournal::Open(target, {});
    }
    std::vector<VerdictRecord> batch;
    std::vector<std::pair<std::string, std::string>> corrections;
    for (long i = 0; i < written; ++i) {
      VerdictRecord record;
      record.time = start + (now - start) * i * copies / total;
      record.mailbox = "user" + std::to_string(random() % mailboxes) + "@example.com";
      record.message_id = "m" + std::to_string(i) + "@bench.example";
      record.sender_domain = "sender" + std::to_string(random() % 500) + ".example";
      record.sender = "from" + std::to_string(random() % 20) + "@" + record.sender_domain;
      record.server = i % 3 ? "mx1" : "mx2";
      record.size = 1000 + static_cast<int64_t>(random() % 50000);
      const bool spam = random() % 10 < 3;
      record.score = spam ? 0.999 : 0.01;
      record.verdict = spam ? "spam" : "ham";
      record.action = spam ? "filed" : "left";
      record.decided_by = "engine";
      record.host = i % 2 ? "dovecot" : "varnolt";
      record.elapsed_us = 1000 + static_cast<int64_t>(random() % 8000);
      // As many clues as a delivery keeps, of a usual length.
      for (size_t c = 0; c < varnolt::kCluesPerPart; ++c) {
        record.clues.push_back({varnolt::ClueSource::kCounts, "body:word" + std::to_string(random() % 5000),
                                spam ? 0.99 : 0.01});
      }
      // Subjects from their own sequence, so the other fields are those of earlier fills.
      record.subject = std::string(kSubjectWords[subjects() % std::size(kSubjectWords)]) + " " +
                       kSubjectWords[subjects() % std::size(kSubjectWords)] + " No. " + std::to_string(subjects() % 100000);
      batch.push_back(std::move(record));
      if (random() % 50 == 0) corrections.emplace_back(batch.back().mailbox, batch.back().message_id);
      if (batch.size() == 10000 || i + 1 == written) {
        journal->AddAll(batch);
        batch.clear();
      }
    }
    for (const auto& [mailbox, id] : corrections) journal->Correct(mailbox, id, Correction::kToJunk, now);
    if (copies > 1) {
      journal.reset();
      if (target.rfind("postgresql:", 0) == 0) {
        CopyInPostgres(target.substr(11), copies, now - start, total);
        journal = std::make_unique<varnolt::journal::PostgresJournal>(target.substr(11), "bench");
      } else {
        CopyInFile(target, copies, now - start, total);
        journal = VerdictJournal::Open(target, {});
      }
    }
    std::printf("%lld records, %zu corrections\n", static_cast<long long>(journal->RecordCount()),
                corrections.size());
  } catch (const varnolt::ComError& error) {
    std::fprintf(stderr, "journal_fill: %s\n", error.description().c_str());
    return 1;
  }
  return 0;
}
