// Latency of the PostgreSQL model store against a private server: learning a
// message (one transaction, as the engine learns) and a warm classify-size
// look-up (the totals and every token's counts in one round trip).
//
//   model_store_latency [--learn N] [--lookups N] [--tokens N] [--vocabulary N] [--fast] [--unflushed] [--tcp]
//
// Messages are synthetic: N distinct token ids each, drawn with a Zipf-like
// skew from a fixed vocabulary, so that common tokens recur as in real mail.
// --tokens 0 takes the mean of the engine's own token count over samples/.
// --fast runs the server without flushing anything to disk (fsync off);
// --unflushed learns with CommitWait::kUnflushed on a durable server; --tcp
// connects over loopback TCP instead of the Unix socket. CPU times per
// operation (ours and the server process's) are printed too: on a loaded
// machine they say what the work costs where the wall clock cannot.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "backends/postgres/connection.h"
#include "backends/postgres/model_schema.h"
#include "backends/postgres/postgres_model_store.h"
#include "engine/tokenizer.h"
#include "platform/com/com_error.h"
#include "support/private_postgres.h"

namespace {

using namespace varnolt;
using namespace varnolt::postgres;
using Clock = std::chrono::steady_clock;

struct Options {
  int learn = 300;
  int lookups = 2000;
  int tokens = 0;
  int vocabulary = 200000;
  bool fast = false;
  bool tcp = false;
  bool unflushed = false;
};

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// CPU milliseconds a process has used (user + system), from /proc: the cost of
// the work itself, which a loaded machine stretches less than the wall clock.
double CpuMillis(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Our own CPU milliseconds and the server process's, over one phase.
struct CpuMeter {
  explicit CpuMeter(int server) : server_(server), ours_(CpuMillis(getpid())), theirs_(CpuMillis(server)) {}
  void Print(const char* what, int operations) const {
    std::printf("%-34s CPU per operation: client %.3f ms, server %.3f ms\n", what,
                (CpuMillis(getpid()) - ours_) / operations, (CpuMillis(server_) - theirs_) / operations);
  }
  int server_;
  double ours_, theirs_;
};

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(std::ceil(p * values.size())) - 1);
  return values[index];
}

void Report(const char* what, const std::vector<double>& ms) {
  std::printf("%-34s n=%-5zu median %.3f ms  p90 %.3f ms  p99 %.3f ms  max %.3f ms\n", what, ms.size(),
              Percentile(ms, 0.5), Percentile(ms, 0.9), Percentile(ms, 0.99), Percentile(ms, 1.0));
}

// The mean number of distinct token ids the engine finds in the sample messages.
int SampleTokenCount() {
  size_t total = 0, messages = 0;
  for (const char* folder : {"samples/train", "samples/incoming"}) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(VARNOLT_SOURCE_DIR "/" + std::string(folder), ec)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      const std::string message = text.str();
      size_t split = message.find("\r\n\r\n");
      size_t skip = 4;
      if (split == std::string::npos) {
        split = message.find("\n\n");
        skip = 2;
      }
      if (split == std::string::npos) continue;
      total += engine::FeatureIds(message.substr(0, split), message.substr(split + skip), {}).size();
      ++messages;
    }
  }
  return messages == 0 ? 300 : static_cast<int>(total / messages);
}

class Messages {
 public:
  Messages(int vocabulary, int tokens) : tokens_(tokens) {
    std::mt19937_64 random(42);
    words_.resize(static_cast<size_t>(vocabulary));
    for (uint64_t& w : words_) w = random();
    // Zipf-like: rank r drawn with weight 1/(r+10).
    std::vector<double> weights(words_.size());
    for (size_t r = 0; r < weights.size(); ++r) weights[r] = 1.0 / static_cast<double>(r + 10);
    pick_ = std::discrete_distribution<size_t>(weights.begin(), weights.end());
  }
  std::vector<uint64_t> Next() {
    std::vector<uint64_t> ids;
    while (static_cast<int>(ids.size()) < tokens_) {
      ids.push_back(words_[pick_(random_)]);
      if (ids.size() % 64 == 0 || static_cast<int>(ids.size()) == tokens_) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
      }
    }
    return ids;
  }

 private:
  int tokens_;
  std::vector<uint64_t> words_;
  std::discrete_distribution<size_t> pick_;
  std::mt19937_64 random_{7};
};

void LearnOne(PostgresModelStore& store, const std::string& digest, const std::vector<uint64_t>& ids, bool is_spam,
              PostgresModelStore::CommitWait wait) {
  SpamCounts totals = store.BeginWrite(wait);
  const std::optional<LearnedMessage> before = store.FindMessage(digest);
  if (!before || before->is_spam != is_spam) {
    if (before) {
      store.Update(ids, before->is_spam ? TokenDelta{0, -1} : TokenDelta{-1, 0});
      --(before->is_spam ? totals.spam : totals.ham);
    }
    store.Update(ids, is_spam ? TokenDelta{0, 1} : TokenDelta{1, 0});
    ++(is_spam ? totals.spam : totals.ham);
    store.PutMessage(digest, {is_spam, false, {}});
    store.SetCounts(totals);
  }
  store.Commit();
}

int Run(const Options& options) {
  const int tokens = options.tokens > 0 ? options.tokens : SampleTokenCount();
  std::string why;
  auto server = testing::PrivatePostgres::Start({.durable = !options.fast}, &why);
  if (!server) {
    std::fprintf(stderr, "model_store_latency: no private PostgreSQL: %s\n", why.c_str());
    return 77;
  }
  auto db = Connection::Open(options.tcp ? server->TcpConnectionString() : server->ConnectionString());
  MigrateModelSchema(*db);
  auto store = PostgresModelStore::Open(*db, ModelKind::kUser, "bench@example.com", true);
  const auto wait = options.unflushed ? PostgresModelStore::CommitWait::kUnflushed
                                     : PostgresModelStore::CommitWait::kFlushed;
  std::printf("server: commits %s; connection over %s; %d token ids per message, vocabulary %d\n",
              options.fast ? "never flushed (fsync off)"
                           : (options.unflushed ? "learned without waiting for the flush" : "flushed to disk"),
              options.tcp ? "loopback TCP" : "the Unix socket",
              tokens, options.vocabulary);

  Messages messages(options.vocabulary, tokens);
  std::vector<std::vector<uint64_t>> learned;
  std::vector<double> learn_ms, relearn_ms, lookup_ms;
  const int server_pid = db->ServerProcessId();
  std::vector<std::vector<uint64_t>> all;
  for (int i = 0; i < options.learn; ++i) all.push_back(messages.Next());
  const CpuMeter learn_cpu(server_pid);
  for (int i = 0; i < options.learn; ++i) {
    learned.push_back(all[static_cast<size_t>(i)]);
    const Clock::time_point start = Clock::now();
    LearnOne(*store, "message " + std::to_string(i), learned.back(), i % 3 == 0, wait);
    learn_ms.push_back(Millis(Clock::now() - start));
  }
  learn_cpu.Print("learn", options.learn);
  for (int i = 0; i < std::min(options.learn, 100); ++i) {
    const Clock::time_point start = Clock::now();
    LearnOne(*store, "message " + std::to_string(i), learned[static_cast<size_t>(i)], i % 3 != 0, wait);
    relearn_ms.push_back(Millis(Clock::now() - start));
  }
  std::vector<std::vector<uint64_t>> incoming;
  for (int i = 0; i < 200; ++i) incoming.push_back(messages.Next());
  std::vector<TokenCounts> tallies;
  for (const auto& ids : incoming) store->Lookup(ids, &tallies);  // warm: the server's cache and our statements
  size_t known = 0;
  const CpuMeter lookup_cpu(server_pid);
  for (int i = 0; i < options.lookups; ++i) {
    const auto& ids = incoming[static_cast<size_t>(i) % incoming.size()];
    const Clock::time_point start = Clock::now();
    store->Lookup(ids, &tallies);
    lookup_ms.push_back(Millis(Clock::now() - start));
    for (const TokenCounts& t : tallies) known += (t.ham + t.spam) > 0;
  }
  lookup_cpu.Print("look-up", options.lookups);
  Report("learn (one transaction)", learn_ms);
  Report("relearn as the other class", relearn_ms);
  Report("look-up, warm", lookup_ms);
  std::printf("tokens known per look-up: %.0f of %d; model: %zu token rows\n",
              static_cast<double>(known) / options.lookups, tokens,
              static_cast<size_t>(db->Query("SELECT count(*) FROM varnolt_tokens").Int(0, 0)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
    if (arg == "--learn") {
      options.learn = value();
    } else if (arg == "--lookups") {
      options.lookups = value();
    } else if (arg == "--tokens") {
      options.tokens = value();
    } else if (arg == "--vocabulary") {
      options.vocabulary = value();
    } else if (arg == "--fast") {
      options.fast = true;
    } else if (arg == "--unflushed") {
      options.unflushed = true;
    } else if (arg == "--tcp") {
      options.tcp = true;
    } else {
      std::fprintf(stderr, "usage: model_store_latency [--learn N] [--lookups N] [--tokens N] [--vocabulary N] "
                           "[--fast] [--unflushed] [--tcp]\n");
      return 2;
    }
  }
  if (options.learn < 1 || options.lookups < 1) return 2;
  try {
    return Run(options);
  } catch (const varnolt::ComError& e) {
    std::fprintf(stderr, "model_store_latency: %s\n", e.description().c_str());
    return 1;
  }
}
