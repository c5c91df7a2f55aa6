// Classify and Learn of the built-in engine on a 5 KB message against a warm
// database that has learned 10,000 messages (built once per run in a temporary
// folder; the file-backed figures are what a delivery waits for).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"
#include "engine/model_store.h"
#include "engine/tokenizer.h"
#include "platform/names/data_layout.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;

constexpr int kWarmMessages = 10000;

// VARNOLT_BENCH_WARM overrides the number of warm messages for quick profiling.
// VARNOLT_BENCH_DB names a database file kept between runs: built when missing,
// reused as it is otherwise (the caller keeps it to one warm size).
int WarmMessages() {
  const char* text = std::getenv("VARNOLT_BENCH_WARM");
  return text != nullptr ? std::atoi(text) : kWarmMessages;
}
constexpr size_t kBodyBytes = 4 * 1024;

// Words drawn with a Zipf-like skew from a fixed vocabulary, so that the
// database holds common and rare tokens the way a real one does.
class MessageMaker {
 public:
  MessageMaker() : rng_(42), pick_(0.0, 1.0) {
    for (int i = 0; i < 40000; ++i) vocabulary_.push_back(Word(i));
  }

  std::string Header(int n, bool spam) {
    const std::string host = spam ? "mx" + std::to_string(n % 997) + ".bulk-sender.example" : "mail.example.org";
    return "Return-Path: <sender" + std::to_string(n % 500) + "@" + host + ">\r\n"
           "Received: from " + host + " (" + host + " [192.0.2." + std::to_string(n % 250) + "])\r\n"
           "\tby mx.example.net (Postfix) with ESMTP id " + std::to_string(100000 + n) + "\r\n"
           "\tfor <user@example.net>; Mon, 7 Dec 2026 10:00:00 +0100\r\n"
           "From: \"" + Text(3) + "\" <sender" + std::to_string(n % 500) + "@" + host + ">\r\n"
           "To: user@example.net\r\n"
           "Subject: " + Text(6) + "\r\n"
           "Date: Mon, 7 Dec 2026 10:00:00 +0100\r\n"
           "Message-ID: <" + std::to_string(n) + ".abc@" + host + ">\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n"
           "X-Mailer: " + (spam ? "Mass Mailer 5.0" : "Mutt 2.2") + "\r\n\r\n";
  }

  std::string Body(size_t bytes, bool spam) {
    std::string body;
    while (body.size() < bytes) {
      body += (spam && pick_(rng_) < 0.05) ? "click http://offers" + std::to_string(rng_() % 50) + ".example.com/ "
                                           : vocabulary_[Zipf()] + " ";
      if (pick_(rng_) < 0.08) body += "\r\n";
    }
    return body;
  }

 private:
  static std::string Word(int i) {
    std::string w;
    for (int v = i + 1; v > 0; v /= 26) w += static_cast<char>('a' + v % 26);
    return w + "e" + std::to_string(i % 7);
  }
  size_t Zipf() { return static_cast<size_t>(std::pow(vocabulary_.size(), pick_(rng_))) - 1; }
  std::string Text(int words) {
    std::string text;
    for (int i = 0; i < words; ++i) text += (i ? " " : "") + vocabulary_[Zipf()];
    return text;
  }

  std::mt19937_64 rng_;
  std::uniform_real_distribution<double> pick_;
  std::vector<std::string> vocabulary_;
};

struct WarmDatabase {
  WarmDatabase() {
    const char* kept = std::getenv("VARNOLT_BENCH_DB");
    if (kept != nullptr) {
      path = kept;
    } else {
      folder = fs::temp_directory_path() / ("engine-bench-" + std::to_string(std::random_device{}()));
      fs::create_directories(folder);
      path = (folder / "user.dat").string();
    }
    const bool learn = !fs::exists(path);
    BuiltinSpamEngine engine;
    for (int n = 0; n < WarmMessages(); ++n) {
      // The messages are made even when not learned: the measured message
      // comes after them from the same generator (body first, as it always was).
      const bool spam = n % 3 == 0;
      const std::string body = maker.Body(kBodyBytes, spam);
      const std::string header = maker.Header(n, spam);
      if (learn) engine.Learn(path, header, body, spam);
    }
    if (learn) engine.Refit(path);
    header = maker.Header(WarmMessages(), true);
    body = maker.Body(kBodyBytes, true);
  }
  ~WarmDatabase() {
    if (!folder.empty()) fs::remove_all(folder);
  }

  MessageMaker maker;
  fs::path folder;
  std::string path, header, body;
};

WarmDatabase& Warm() {
  static WarmDatabase warm;
  return warm;
}

void BM_Classify(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  BuiltinSpamEngine engine;
  for (auto _ : state) benchmark::DoNotOptimize(engine.Classify(warm.path, warm.header, warm.body));
  state.SetLabel(std::to_string(warm.header.size() + warm.body.size()) + " bytes");
}
BENCHMARK(BM_Classify)->Unit(benchmark::kMicrosecond);

// The same mailbox after its user corrected N messages (the second arg): each
// verdict also looks for the message among the corrected ones and their
// near-duplicates, of which the newest kMaxCorrections stay. First arg 0: the
// rule off (the corrections are read, not matched).
void BM_ClassifyWithCorrections(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  const fs::path folder = fs::temp_directory_path() / ("engine-bench-corr-" + std::to_string(std::random_device{}()));
  fs::create_directories(folder);
  const std::string user = (folder / "user.dat").string();
  fs::copy_file(warm.path, user);
  {
    BuiltinSpamEngine teacher;
    MessageMaker maker;
    for (int n = 0; n < state.range(1); ++n) {
      teacher.Relearn(user, maker.Header(100000 + n, n % 2 == 0), maker.Body(kBodyBytes, n % 2 == 0), n % 2 == 1);
    }
  }
  EngineOptions options;
  options.corrections_stick = state.range(0) != 0;
  BuiltinSpamEngine engine(options);
  for (auto _ : state) benchmark::DoNotOptimize(engine.Classify(user, warm.header, warm.body));
  fs::remove_all(folder);
}
BENCHMARK(BM_ClassifyWithCorrections)
    ->Args({1, 300})
    ->Args({0, 300})
    ->Args({1, 1000})
    ->Args({1, 1500})
    ->Unit(benchmark::kMicrosecond);

// A mailbox of a domain with a shared model: the warm model as both the
// domain's and the user's, so that every call consults two models of that size.
void BM_ClassifyWithDomain(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  const fs::path folder = fs::temp_directory_path() / ("engine-bench-domain-" + std::to_string(std::random_device{}()));
  fs::create_directories(folder);
  const std::string user = (folder / "user.dat").string();
  fs::copy_file(warm.path, user);
  fs::copy_file(warm.path, DomainModelPathBeside(user));
  BuiltinSpamEngine engine;
  for (auto _ : state) benchmark::DoNotOptimize(engine.Classify(user, warm.header, warm.body));
  fs::remove_all(folder);
}
BENCHMARK(BM_ClassifyWithDomain)->Unit(benchmark::kMicrosecond);

// The same with the file opened afresh for every call: what a process that
// classifies one message pays (a cache of its own, empty each time).
void BM_ClassifyCold(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  for (auto _ : state) {
    EngineOptions options;
    options.cache = std::make_shared<engine::ModelCache>();
    BuiltinSpamEngine engine(options);
    benchmark::DoNotOptimize(engine.Classify(warm.path, warm.header, warm.body));
  }
}
BENCHMARK(BM_ClassifyCold)->Unit(benchmark::kMicrosecond);

void BM_Learn(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  BuiltinSpamEngine engine;
  int n = 0;
  for (auto _ : state) {
    // A new message each time: learning one already learned changes nothing.
    ++n;
    engine.Learn(warm.path, warm.header + "X-Seq: " + std::to_string(n) + "\r\n", warm.body, n % 2 == 0);
  }
}
BENCHMARK(BM_Learn)->Unit(benchmark::kMicrosecond);

// Refitting the linear model over every learned message (a correction pays
// it once 25 lessons came since the last fit; a delivery never does).
void BM_Refit(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  BuiltinSpamEngine engine;
  for (auto _ : state) engine.Refit(warm.path);
}
BENCHMARK(BM_Refit)->Unit(benchmark::kMillisecond);

// Opening the user's file and reading its counts: the fixed cost of every call.
void BM_OpenModel(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  for (auto _ : state) {
    auto store = engine::ModelStore::Open(warm.path, engine::ModelStore::Mode::kExistingOnly);
    store->BeginRead();
    benchmark::DoNotOptimize(store->Counts());
    store->Commit();
  }
}
BENCHMARK(BM_OpenModel)->Unit(benchmark::kMicrosecond);

// The tokenizer alone: the part of both that does not touch the file.
void BM_Tokenize(benchmark::State& state) {
  WarmDatabase& warm = Warm();
  const engine::TokenizerOptions options;
  for (auto _ : state) benchmark::DoNotOptimize(engine::FeatureIds(warm.header, warm.body, options));
}
BENCHMARK(BM_Tokenize)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace varnolt
