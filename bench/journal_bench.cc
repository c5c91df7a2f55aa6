// The verdict journal's write, as a delivery pays it: one record in its own
// transaction on a file in WAL mode; a correction joined by Message-ID; and a
// page of a search, by the filters the dashboard offers.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "backends/journal/verdict_journal.h"

namespace varnolt::journal {
namespace {

namespace fs = std::filesystem;

struct TempJournal {
  TempJournal() {
    std::string pattern = (fs::temp_directory_path() / "varnolt-journal-bench-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    journal = VerdictJournal::Open(dir + "/journal.db", {});
  }
  ~TempJournal() {
    journal.reset();
    fs::remove_all(dir);
  }
  std::string dir;
  std::unique_ptr<VerdictJournal> journal;
};

VerdictRecord Sample(int64_t i) {
  VerdictRecord record;
  record.time = 1800000000 + i;
  record.mailbox = "user" + std::to_string(i % 50) + "@example.com";
  record.message_id = "m" + std::to_string(i) + "@bench.example";
  record.sender_domain = "sender.example";
  record.size = 4000;
  record.score = 0.01;
  record.verdict = i % 3 ? "ham" : "spam";
  record.action = "left";
  record.decided_by = "engine";
  record.host = "varnolt";
  record.elapsed_us = 3000;
  return record;
}

void BM_JournalAdd(benchmark::State& state) {
  TempJournal temp;
  int64_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(temp.journal->Add(Sample(i++)));
}
BENCHMARK(BM_JournalAdd);

void BM_JournalCorrect(benchmark::State& state) {
  TempJournal temp;
  std::vector<VerdictRecord> records;
  for (int64_t i = 0; i < 100000; ++i) records.push_back(Sample(i));
  temp.journal->AddAll(records);
  int64_t i = 0;
  for (auto _ : state) {
    const VerdictRecord& record = records[static_cast<size_t>(i++ % 100000)];
    benchmark::DoNotOptimize(temp.journal->Correct(record.mailbox, record.message_id,
                                                   i % 2 ? Correction::kToJunk : Correction::kFromJunk, 1800000000));
  }
}
BENCHMARK(BM_JournalCorrect);

// A page of 50 over 200,000 records of 1,000 mailboxes and 500 sender domains;
// the argument picks the filter. For 10 million records, fill a journal with
// bench/tools/journal_fill and time /api/verdicts against it.
void BM_JournalSearch(benchmark::State& state) {
  static TempJournal* temp = [] {
    auto* made = new TempJournal;
    std::vector<VerdictRecord> records;
    for (int64_t i = 0; i < 200000; ++i) {
      VerdictRecord record = Sample(i);
      record.mailbox = "user" + std::to_string(i % 1000) + "@example.com";
      record.sender_domain = "sender" + std::to_string(i * 7 % 500) + ".example";
      record.score = static_cast<double>(i % 1000) / 1000;
      records.push_back(record);
    }
    made->journal->AddAll(records);
    return made;
  }();
  VerdictQuery query;
  switch (state.range(0)) {
    case 0: break;
    case 1: query.mailbox = "user77@example.com"; break;
    case 2: query.sender_domain = "sender42.example"; break;
    case 3: query.message_id = "m123457@bench.example"; break;
    case 4: query.from = 1800000000 + 50000; query.to = 1800000000 + 60000; break;
    case 5: query.verdict = "spam"; query.min_score = 0.995; break;
    case 6: query.action = "removed"; break;  // matches nothing: the whole index is read
  }
  for (auto _ : state) benchmark::DoNotOptimize(temp->journal->Search(query));
}
BENCHMARK(BM_JournalSearch)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace varnolt::journal
