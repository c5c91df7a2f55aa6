// The verdict journal in PostgreSQL: the same search as the file's, and
// several servers writing into one journal that each of them reads whole.
#include "backends/journal/postgres_journal.h"

#include <gtest/gtest.h>

#include "backends/postgres/journal_schema.h"
#include "backends/postgres/pg_errors.h"
#include "pg_fixture.h"
#include "support/journal_audit_cases.h"
#include "support/journal_search_cases.h"

namespace varnolt {
namespace {

using journal::PostgresJournal;

class PostgresJournalTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    postgres::MigrateJournalSchema(*db_);
  }
};

TEST_F(PostgresJournalTest, SearchesAsTheFileDoes) {
  PostgresJournal journal(conninfo(), "mx1");
  testing::FillForSearch(journal);
  testing::ExpectSearchTable(journal);
}

TEST_F(PostgresJournalTest, RecordsTheDashboardsActionsAsTheFileDoes) {
  PostgresJournal journal(conninfo(), "mx1");
  testing::ExpectAuditTrail(journal);
}

TEST_F(PostgresJournalTest, ServersShareRecordsAndFiguresButCountApart) {
  PostgresJournal mx1(conninfo(), "mx1"), mx2(conninfo(), "mx2");
  journal::VerdictRecord record;
  record.time = testing::kSearchTime;
  record.mailbox = "alice@example.com";
  record.message_id = "m1@x";
  record.verdict = "spam";
  record.action = "filed";
  record.host = "dovecot";
  record.score = 0.99;
  record.clues = {{ClueSource::kCounts, "subject:win", 0.98}};
  const int64_t first = mx1.Add(record);
  record.message_id = "m2@x";
  record.verdict = "ham";
  record.score = 0.01;
  mx2.Add(record);
  EXPECT_TRUE(mx2.Correct("alice@example.com", "m1@x", journal::Correction::kFromJunk, record.time + 60));

  for (PostgresJournal* journal : {&mx1, &mx2}) {
    const std::vector<journal::VerdictRecord> all = journal->Search({});
    ASSERT_EQ(2u, all.size());
    EXPECT_EQ("mx2", all[0].server);
    EXPECT_EQ("mx1", all[1].server);
    EXPECT_EQ(record.clues, all[1].clues);
    EXPECT_EQ("from_junk", all[1].correction);
    const journal::Totals totals = journal->TotalsSince(0);
    EXPECT_EQ(1, totals.ham);
    EXPECT_EQ(1, totals.spam);
    EXPECT_EQ(1, totals.from_junk);
    EXPECT_EQ(2, journal->RecordCount());
  }
  // Each server's counters are its own: a scraper of each adds them up.
  EXPECT_EQ(1, mx1.AllTime().totals.spam);
  EXPECT_EQ(0, mx1.AllTime().totals.ham);
  EXPECT_EQ(1, mx2.AllTime().totals.from_junk);
  EXPECT_EQ(1, (mx2.ForAlerts().host_verdicts[{"dovecot", "ham"}]));
  EXPECT_EQ(1, mx1.Prune(record.time + 1));  // its own records only
  EXPECT_FALSE(mx2.Find(first).has_value());
  EXPECT_EQ(1u, mx2.Search({}).size());
}

TEST_F(PostgresJournalTest, ADatabaseWithoutTheTablesAsksForTheMigration) {
  db_->Exec("DROP TABLE varnolt_journal_counters");
  PostgresJournal journal(conninfo(), "mx1");
  std::string text;
  EXPECT_EQ(postgres::kPgSchemaMissing, ErrorOf([&] { journal.Search({}); }, &text));
  EXPECT_NE(std::string::npos, text.find("varnolt db migrate")) << text;
}

TEST_F(PostgresJournalTest, AnOlderDatabaseAsksForTheMigrationBeforeAnAction) {
  db_->Exec("DROP TABLE varnolt_dashboard_actions");
  PostgresJournal journal(conninfo(), "mx1");
  const journal::AuditedAction action{1, "admin", 1, "to_inbox", "moved", ""};
  EXPECT_TRUE(journal.ActionsOn(1).empty());
  std::string text;
  EXPECT_EQ(postgres::kPgSchemaMissing, ErrorOf([&] { journal.RecordAction(action); }, &text));
  EXPECT_NE(std::string::npos, text.find("varnolt db migrate")) << text;
  postgres::MigrateJournalSchema(*db_);
  journal.RecordAction(action);
  EXPECT_EQ(std::vector<journal::AuditedAction>{action}, journal.ActionsOn(1));
}

// pg_trgm needs the right to create it: without, the tables still come (the
// subject read along the time order); with it, the index joins them later.
TEST_F(PostgresJournalTest, MigratesWithoutTheRightToCreatePgTrgm) {
  const std::string role = "plain_" + database_;
  db_->Exec("DROP TABLE varnolt_verdicts, varnolt_journal_hourly, varnolt_journal_daily, varnolt_journal_counters, "
            "varnolt_dashboard_actions; DROP EXTENSION pg_trgm; CREATE ROLE " + role +
            " LOGIN; GRANT CREATE ON SCHEMA public TO " + role);
  EXPECT_FALSE(postgres::MigrateJournalSchema(*postgres::Connection::Open(conninfo() + " user=" + role)));
  PostgresJournal journal(conninfo() + " user=" + role, "mx1");
  testing::FillForSearch(journal);
  journal::VerdictQuery query;
  query.subject = "issue B";
  EXPECT_EQ(2u, journal.Search(query).size());
  EXPECT_TRUE(postgres::MigrateJournalSchema(*db_));
  EXPECT_TRUE(db_->Query("SELECT to_regclass('varnolt_verdicts_subject_trigrams') IS NOT NULL").Bool(0, 0));
  EXPECT_EQ(2u, journal.Search(query).size());
}

}  // namespace
}  // namespace varnolt
