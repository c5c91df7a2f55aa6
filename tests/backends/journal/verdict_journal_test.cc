#include "backends/journal/verdict_journal.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "backends/journal/bounded_field.h"
#include "backends/journal/clue_text.h"
#include "platform/com/com_error.h"

namespace varnolt::journal {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 24 * kHour;
constexpr int64_t kNow = 20000 * kDay + 10 * kHour;  // a fixed day, 10:00 UTC

VerdictRecord Record(const std::string& mailbox, const std::string& message_id, const std::string& verdict,
                     int64_t time = kNow, int64_t elapsed_us = 3000) {
  VerdictRecord record;
  record.time = time;
  record.mailbox = mailbox;
  record.message_id = message_id;
  record.sender_domain = "example.net";
  record.size = 1234;
  record.score = verdict == "spam" ? 0.999 : 0.01;
  record.verdict = verdict;
  record.action = verdict == "spam" ? "filed" : "left";
  record.decided_by = "engine";
  record.host = "varnolt";
  record.subject = "Subject of " + message_id;
  record.elapsed_us = elapsed_us;
  return record;
}

class VerdictJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnolt-journal-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    journal_ = VerdictJournal::Open(Path(), {});
  }
  void TearDown() override {
    journal_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Path() const { return dir_ + "/journal.db"; }

  std::string dir_;
  std::unique_ptr<VerdictJournal> journal_;
};

TEST_F(VerdictJournalTest, KeepsEveryFieldOfARecord) {
  VerdictRecord record = Record("alice@example.com", "m1@example.net", "spam");
  record.learned = true;
  record.subject = "Hello";
  record.error = true;
  record.sender = "news@example.net";
  const int64_t id = journal_->Add(record);
  const std::optional<VerdictRecord> read = journal_->Find(id);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(kNow, read->time);
  EXPECT_EQ("alice@example.com", read->mailbox);
  EXPECT_EQ("m1@example.net", read->message_id);
  EXPECT_EQ(1234, read->size);
  EXPECT_DOUBLE_EQ(0.999, read->score.value());
  EXPECT_EQ("spam", read->verdict);
  EXPECT_EQ("filed", read->action);
  EXPECT_TRUE(read->learned);
  EXPECT_EQ("Hello", read->subject);
  EXPECT_EQ("news@example.net", read->sender);
  EXPECT_TRUE(read->error);
  EXPECT_EQ("", read->correction);

  record.score.reset();
  EXPECT_FALSE(journal_->Find(journal_->Add(record))->score.has_value());
  EXPECT_FALSE(journal_->Find(999).has_value());
}

TEST_F(VerdictJournalTest, FiguresCountVerdictsByHourAndMailbox) {
  journal_->Add(Record("a@x", "1", "ham"));
  journal_->Add(Record("a@x", "2", "spam"));
  journal_->Add(Record("b@x", "3", "ham", kNow - 2 * kHour));
  journal_->Add(Record("b@x", "4", "none", kNow - 3 * kDay));
  journal_->Add(Record("b@x", "5", "something else"));  // counted as no verdict

  const Totals today = journal_->TotalsSince(kNow - 10 * kHour);
  EXPECT_EQ(2, today.ham);
  EXPECT_EQ(1, today.spam);
  EXPECT_EQ(1, today.none);
  EXPECT_EQ(5, journal_->TotalsSince(0).Verdicts());

  const std::vector<HourFigures> hours = journal_->HoursSince(kNow - kDay);
  ASSERT_EQ(2u, hours.size());
  EXPECT_EQ((kNow - 2 * kHour) / kHour, hours[0].hour);
  EXPECT_EQ(1, hours[0].totals.ham);
  EXPECT_EQ(kNow / kHour, hours[1].hour);
  EXPECT_EQ(3, hours[1].totals.Verdicts());

  const std::vector<MailboxFigures> mailboxes = journal_->MailboxesSince(0);
  ASSERT_EQ(2u, mailboxes.size());
  EXPECT_EQ("a@x", mailboxes[0].mailbox);
  EXPECT_EQ(2, mailboxes[0].totals.Verdicts());
  EXPECT_EQ(2, mailboxes[1].totals.none);

  const std::vector<VerdictRecord> latest = journal_->Latest(2);
  ASSERT_EQ(2u, latest.size());
  EXPECT_EQ("5", latest[0].message_id);
  EXPECT_EQ("4", latest[1].message_id);
}

TEST_F(VerdictJournalTest, ACorrectionJoinsTheNewestRecordOfTheMailboxOnce) {
  journal_->Add(Record("a@x", "same", "ham", kNow - kHour));
  const int64_t newest = journal_->Add(Record("a@x", "same", "ham"));
  const int64_t other_mailbox = journal_->Add(Record("b@x", "same", "ham"));

  EXPECT_TRUE(journal_->Correct("a@x", "same", Correction::kToJunk, kNow + kHour));
  EXPECT_TRUE(journal_->Correct("a@x", "same", Correction::kToJunk, kNow + kHour));  // not counted again
  EXPECT_EQ("to_junk", journal_->Find(newest)->correction);
  EXPECT_EQ(kNow + kHour, journal_->Find(newest)->corrected_at);
  EXPECT_EQ("", journal_->Find(newest - 1)->correction);
  EXPECT_EQ("", journal_->Find(other_mailbox)->correction);
  EXPECT_EQ(1, journal_->AllTime().totals.to_junk);
  EXPECT_EQ(1, journal_->TotalsSince(kNow + kHour).to_junk);  // counted at the correction's hour

  // Moved back out: a correction the other way.
  EXPECT_TRUE(journal_->Correct("a@x", "same", Correction::kFromJunk, kNow + 2 * kHour));
  EXPECT_EQ("from_junk", journal_->Find(newest)->correction);
  EXPECT_EQ(1, journal_->AllTime().totals.from_junk);

  EXPECT_FALSE(journal_->Correct("a@x", "unknown", Correction::kToJunk, kNow));
  EXPECT_FALSE(journal_->Correct("a@x", "", Correction::kToJunk, kNow));
  EXPECT_EQ(1, journal_->AllTime().totals.to_junk);
}

TEST_F(VerdictJournalTest, PruningDropsOldRecordsAndFiguresButNotTheCounters) {
  journal_->Add(Record("a@x", "old", "spam", kNow - 100 * kDay));
  journal_->Add(Record("a@x", "new", "ham", kNow));
  EXPECT_EQ(1, journal_->Prune(kNow - 90 * kDay));
  EXPECT_EQ(1, journal_->RecordCount());
  EXPECT_EQ(0, journal_->TotalsSince(0).spam);
  EXPECT_EQ(1, journal_->TotalsSince(0).ham);
  const Counters counters = journal_->AllTime();
  EXPECT_EQ(1, counters.totals.spam);  // counters never go down
  EXPECT_EQ(1, counters.totals.ham);
  EXPECT_EQ(0, journal_->Prune(kNow - 90 * kDay));
}

TEST_F(VerdictJournalTest, TimesFallIntoTheirHistogramBuckets) {
  struct Case {
    int64_t elapsed_us;
    size_t bucket;
  };
  const Case cases[] = {{0, 0}, {1000, 0}, {1001, 1}, {30000, 5}, {2500000, 10}, {2500001, 11}, {60000000, 11}};
  for (const Case& c : cases) journal_->Add(Record("a@x", "", "ham", kNow, c.elapsed_us));
  const Counters counters = journal_->AllTime();
  std::array<int64_t, kTimeBuckets.size() + 1> expected{};
  for (const Case& c : cases) ++expected[c.bucket];
  EXPECT_EQ(expected, counters.time_buckets);
  EXPECT_EQ(7, counters.time_count);
  EXPECT_NEAR(65.032002, counters.time_sum_seconds, 1e-9);
}

TEST_F(VerdictJournalTest, AReaderSeesWritesAndCannotWrite) {
  VerdictJournal::Options read_only;
  read_only.read_only = true;
  std::unique_ptr<VerdictJournal> reader = VerdictJournal::Open(Path(), read_only);
  journal_->Add(Record("a@x", "1", "ham"));
  EXPECT_EQ(1, reader->RecordCount());
  EXPECT_THROW(reader->Add(Record("a@x", "2", "ham")), ComError);
  EXPECT_THROW(VerdictJournal::Open(dir_ + "/missing.db", read_only), ComError);
}

TEST_F(VerdictJournalTest, RefusesAFileOfAnotherProgram) {
  journal_.reset();
  const std::string other = dir_ + "/other.db";
  {
    std::unique_ptr<VerdictJournal> journal = VerdictJournal::Open(other, {});
  }
  // Marked as another application's database.
  ASSERT_EQ(0, std::system(("sqlite3 '" + other + "' 'PRAGMA application_id=7; PRAGMA user_version=0'").c_str()));
  EXPECT_THROW(VerdictJournal::Open(other, {}), ComError);
}

// A long-lived writer (a mail server's delivery process) and reader (the
// dashboard) use the file at the path, not the one they once opened.
TEST_F(VerdictJournalTest, FollowsItsFileWhenReplacedOrDeleted) {
  auto remove_with_side_files = [this] {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(Path() + suffix);
  };
  VerdictJournal::Options read_only;
  read_only.read_only = true;
  journal_->Add(Record("a@x", "1", "ham"));
  journal_->Add(Record("a@x", "2", "ham"));
  std::unique_ptr<VerdictJournal> reader = VerdictJournal::Open(Path(), read_only);
  EXPECT_EQ(2, reader->RecordCount());

  // Another journal put in its place, as an administrator restores one.
  VerdictJournal::Open(dir_ + "/restored.db", {})->Add(Record("a@x", "3", "spam"));
  remove_with_side_files();
  fs::rename(dir_ + "/restored.db", Path());
  EXPECT_EQ(1, reader->RecordCount());
  journal_->Add(Record("a@x", "4", "ham"));
  EXPECT_EQ(2, reader->RecordCount());

  // Something else in its place is refused by both, until it is gone.
  remove_with_side_files();
  std::ofstream(Path(), std::ios::binary) << "not a journal, though long enough to look at";
  EXPECT_THROW(reader->RecordCount(), ComError);
  EXPECT_THROW(journal_->Add(Record("a@x", "x", "ham")), ComError);

  // Deleted: the reader says so, the writer starts a new one.
  remove_with_side_files();
  EXPECT_THROW(reader->RecordCount(), ComError);
  journal_->Add(Record("a@x", "5", "ham"));
  EXPECT_EQ(1, reader->RecordCount());
  EXPECT_EQ(1, VerdictJournal::Open(Path(), read_only)->Latest(10).size());
  journal_.reset();
  EXPECT_EQ("", VerdictJournal::Damage(Path()));
}

TEST_F(VerdictJournalTest, DamageIsNamed) {
  journal_->Add(Record("a@x", "1", "ham"));
  journal_.reset();
  EXPECT_EQ("", VerdictJournal::Damage(Path()));
  {
    std::ofstream(Path(), std::ios::binary | std::ios::trunc) << "not a database at all, just some text";
  }
  EXPECT_NE("", VerdictJournal::Damage(Path()));
  EXPECT_NE("", VerdictJournal::Damage(dir_ + "/missing.db"));
  std::ofstream(dir_ + "/empty.db", std::ios::binary);  // made, never filled
  EXPECT_EQ("", VerdictJournal::Damage(dir_ + "/empty.db"));
}

}  // namespace
}  // namespace varnolt::journal

namespace varnolt::journal {
namespace {

TEST(BoundedFieldTest, CutsOnACharacterBoundary) {
  const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC", emoji = "\xF0\x9F\x98\x80";
  struct Case {
    std::string text;
    size_t max;
    std::string expected;
  } cases[] = {
      {"short", 10, "short"},
      {"exactly", 7, "exactly"},
      {"abcdef", 3, "abc"},
      {"ab" + e_acute, 3, "ab"},  // the cut would split é
      {"ab" + e_acute, 4, "ab" + e_acute},
      {"a" + euro + "b", 3, "a"},
      {"a" + euro + "b", 4, "a" + euro},
      {emoji + emoji, 7, emoji},
      {"ab\xFF\xFE", 3, "ab\xFF"},               // invalid bytes are no sequence to keep whole
      {"a\x80\x80\x80\x80\x80", 4, "a\x80\x80\x80"},  // nor are stray continuation bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.expected, BoundedField(c.text, c.max));
  }
}

TEST_F(VerdictJournalTest, SenderControlledFieldsAreBoundedAndAHugeMessageIdStillCorrects) {
  VerdictRecord record = Record("alice@example.com", std::string(2 << 20, 'm'), "ham");
  record.sender_domain = std::string(100000, 'd') + ".example";
  record.subject = std::string(299, 's') + "\xC3\xA9" + std::string(100000, 's');
  const int64_t id = journal_->Add(record);
  const VerdictRecord read = journal_->Find(id).value();
  EXPECT_EQ(std::string(kMessageIdBytes, 'm'), read.message_id);
  EXPECT_EQ(kDomainBytes, read.sender_domain.size());
  EXPECT_EQ(std::string(299, 's'), read.subject);
  EXPECT_TRUE(journal_->Correct("alice@example.com", record.message_id, Correction::kToJunk, kNow));
  EXPECT_EQ("to_junk", journal_->Find(id)->correction);
  EXPECT_LT(fs::file_size(Path()), 1u << 20);
}

TEST_F(VerdictJournalTest, LatestPagesBackwardsFromARecord) {
  for (int i = 0; i < 5; ++i) journal_->Add(Record("a@x", "m" + std::to_string(i), "ham"));
  std::vector<int64_t> ids;
  for (const VerdictRecord& record : journal_->Latest(2, 4)) ids.push_back(record.id);
  EXPECT_EQ((std::vector<int64_t>{3, 2}), ids);
  EXPECT_EQ(2u, journal_->Latest(2).size());
  EXPECT_EQ(5, journal_->Latest(10).front().id);
  EXPECT_TRUE(journal_->Latest(2, 1).empty());
}

// The fields added since format 3 as the engine gave them at delivery; a
// journal of an older format reads as without them, takes the columns on
// when a writer opens it, and its indexes only when migrated.
TEST_F(VerdictJournalTest, OlderFilesReadWithoutLaterFieldsAndGetIndexesOnlyWhenMigrated) {
  const int64_t old_id = journal_->Add(Record("a@x", "old", "spam", kNow - kDay));
  journal_.reset();
  ASSERT_EQ(0, std::system(("sqlite3 '" + Path() + "' 'ALTER TABLE verdicts DROP COLUMN counts_part; ALTER TABLE "
                            "verdicts DROP COLUMN linear_part; ALTER TABLE verdicts DROP COLUMN linear_weight; "
                            "DROP INDEX verdicts_sender_address_at; ALTER TABLE verdicts DROP COLUMN sender; "
                            "ALTER TABLE verdicts DROP COLUMN clues; DROP INDEX verdicts_server_at; "
                            "ALTER TABLE verdicts DROP COLUMN server; DROP INDEX verdicts_mailbox_at; DROP INDEX verdicts_domain_at; "
                            "DROP TRIGGER verdicts_subject_added; DROP TRIGGER verdicts_subject_removed; "
                            "DROP TRIGGER verdicts_subject_changed; DROP TABLE verdicts_subject; "
                            "PRAGMA user_version=2'").c_str()));
  VerdictJournal::Options read_only;
  read_only.read_only = true;
  std::unique_ptr<VerdictJournal> reader = VerdictJournal::Open(Path(), read_only);
  EXPECT_FALSE(reader->Find(old_id)->counts_part.has_value());
  VerdictQuery by_sender;
  by_sender.sender = "Someone@Example.net";
  EXPECT_TRUE(reader->Search(by_sender).empty());
  journal_ = VerdictJournal::Open(Path(), {});
  EXPECT_EQ(2, journal_->Format());  // a writer never waits for an index
  const std::optional<double> none;
  const std::array<std::optional<double>, 3> cases[] = {{0.9, 0.6, 0.4}, {0.7, none, none}, {none, none, none}};
  const std::vector<ScoreClue> clues = {{ClueSource::kCounts, "subject:viagra", 0.99},
                                        {ClueSource::kLinear, "cheap, pills", -1.25}};
  for (const auto& parts : cases) {
    VerdictRecord record = Record("a@x", "new", "spam");
    std::tie(record.counts_part, record.linear_part, record.linear_weight) = std::tie(parts[0], parts[1], parts[2]);
    record.sender = "someone@example.net";
    record.clues = clues;
    const int64_t id = journal_->Add(record);
    for (VerdictJournal* journal : {journal_.get(), reader.get()}) {
      const VerdictRecord read = journal->Find(id).value();
      EXPECT_EQ(parts, (std::array{read.counts_part, read.linear_part, read.linear_weight}));
      EXPECT_EQ(clues, read.clues);
    }
  }
  EXPECT_EQ(3u, reader->Search(by_sender).size());  // without the index, slower
  const VerdictRecord older = journal_->Find(old_id).value();
  EXPECT_DOUBLE_EQ(0.999, older.score.value());
  EXPECT_FALSE(older.counts_part || older.linear_part || older.linear_weight);
  EXPECT_TRUE(older.clues.empty());

  VerdictJournal::Options migrate;
  migrate.build_indexes = true;
  VerdictQuery by_domain;
  by_domain.domain = "X";
  EXPECT_EQ(4u, reader->Search(by_domain).size());  // the records before the index and after
  VerdictQuery by_subject;
  by_subject.subject = "SUBJECT OF";  // every record's, written before the index and after
  EXPECT_EQ(4u, reader->Search(by_subject).size());
  EXPECT_EQ(6, VerdictJournal::Open(Path(), migrate)->Format());
  EXPECT_EQ(3u, reader->Search(by_sender).size());
  EXPECT_EQ(4u, reader->Search(by_domain).size());
  EXPECT_EQ(4u, reader->Search(by_subject).size());
  EXPECT_EQ(1u, journal_->Prune(kNow));  // the removed record's trigrams go with it
  EXPECT_EQ(3u, reader->Search(by_subject).size());
}

TEST(ClueTextTest, KeepsAFewCluesOfEachPartAndSkipsWhatDoesNotParse) {
  std::vector<ScoreClue> clues;
  for (int i = 0; i < 7; ++i) clues.push_back({ClueSource::kCounts, "t" + std::to_string(i), 0.9});
  clues.push_back({ClueSource::kLinear, "tab\there\nand " + std::string(100, 'x'), 0.123456});
  const std::vector<ScoreClue> read = DecodeClues(EncodeClues(clues));
  ASSERT_EQ(kCluesPerPart + 1, read.size());
  EXPECT_EQ("t4", read[kCluesPerPart - 1].token);
  EXPECT_EQ(ClueSource::kLinear, read.back().source);
  EXPECT_EQ(kClueTokenBytes, read.back().token.size());
  EXPECT_EQ(std::string::npos, read.back().token.find('\t'));
  EXPECT_NEAR(0.1235, read.back().value, 1e-9);
  EXPECT_EQ(1u, DecodeClues("x0.5\tbad\nc0.5x\tbad\nc\tbad\nl-2\tgood\nc0.9").size());
}

}  // namespace
}  // namespace varnolt::journal
