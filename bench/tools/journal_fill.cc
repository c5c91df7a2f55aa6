// Fills a verdict journal with synthetic records, as a busy server's would
// look: RECORDS records over the last DAYS days (newest now), MAILBOXES
// mailboxes, about 30% SPAM, 1 in 50 corrected, filter times of a few ms.
// Usage: journal_fill JOURNAL RECORDS [DAYS] [MAILBOXES]
// JOURNAL: a file, or postgresql:CONNINFO for the tables in PostgreSQL
// (made first, as varnolt db migrate makes them).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "backends/journal/postgres_journal.h"
#include "backends/journal/verdict_journal.h"
#include "backends/postgres/connection.h"
#include "backends/postgres/journal_schema.h"
#include "platform/com/com_error.h"

using varnolt::journal::Correction;
using varnolt::journal::Journal;
using varnolt::journal::VerdictJournal;
using varnolt::journal::VerdictRecord;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s JOURNAL RECORDS [DAYS] [MAILBOXES]\n", argv[0]);
    return 2;
  }
  const long total = std::atol(argv[2]);
  const long days = argc > 3 ? std::atol(argv[3]) : 30;
  const long mailboxes = argc > 4 ? std::atol(argv[4]) : 50;
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const int64_t start = now - days * 86400;
  std::mt19937_64 random(42);
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
    for (long i = 0; i < total; ++i) {
      VerdictRecord record;
      record.time = start + (now - start) * i / total;
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
      batch.push_back(std::move(record));
      if (random() % 50 == 0) corrections.emplace_back(batch.back().mailbox, batch.back().message_id);
      if (batch.size() == 10000 || i + 1 == total) {
        journal->AddAll(batch);
        batch.clear();
      }
    }
    for (const auto& [mailbox, id] : corrections) journal->Correct(mailbox, id, Correction::kToJunk, now);
    std::printf("%lld records, %zu corrections\n", static_cast<long long>(journal->RecordCount()),
                corrections.size());
  } catch (const varnolt::ComError& error) {
    std::fprintf(stderr, "journal_fill: %s\n", error.description().c_str());
    return 1;
  }
  return 0;
}
