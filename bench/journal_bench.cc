// The verdict journal's write, as a delivery pays it: one record in its own
// transaction on a file in WAL mode; and a correction joined by Message-ID.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/journal/verdict_journal.h"

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

}  // namespace
}  // namespace varnolt::journal
