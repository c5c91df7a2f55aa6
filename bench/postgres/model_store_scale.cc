// Many users' models in one PostgreSQL: what they take on disk and how the
// look-up holds up as the table grows, then the engine's own warm Classify
// and Learn against it.
//
//   model_store_scale [--users 2000] [--messages 300] [--real 10] [--batch 100] [--tokens 69]
//                     [--lookups 500] [--classify 1000] [--unflushed]
//
// Phase 1, the real learn path: --real users each learn --messages
// synthetic messages one transaction each, as the engine learns (lock the
// model, find the digest, count the tokens up, record the digest, set the
// totals, commit flushed). Phase 2, the rest, made by the server itself in
// one INSERT ... SELECT per table and --batch users (no client round trips):
// the same number of messages per user (two HAM per SPAM), --tokens token
// keys per message drawn from the same skewed vocabulary as phase 1, each
// token's counts the number of messages that drew it. After each step of
// growth the look-up (the totals and every token's counts of a message of
// --tokens keys, one round trip) is timed on random users. Phase 3: a
// user taught 300 messages of samples/ through BuiltinSpamEngine::Learn on
// PostgresModelBackend (which commits without waiting for the flush, as
// for every lesson the filter takes on its own), 100 of them relearned as the
// other class (a user's correction, which waits), then --classify warm
// Classify calls on them.
// The server flushes every commit to disk, as an installed one does;
// --unflushed lets phase 3's commits return before the flush
// (synchronous_commit off: what CommitWait::kUnflushed asks per commit).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "backends/postgres/connection.h"
#include "backends/postgres/model_schema.h"
#include "backends/postgres/postgres_model_store.h"
#include "engine/builtin_spam_engine.h"
#include "engine/postgres_model_backend.h"
#include "platform/com/com_error.h"
#include "support/private_postgres.h"

namespace {

using namespace varnolt;
using namespace varnolt::postgres;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Options {
  int users = 2000;
  int messages = 300;
  int real = 10;
  int batch = 100;
  int tokens = 69;
  int lookups = 500;
  int classify = 1000;
  bool unflushed = false;
};

constexpr int kVocabulary = 200000;
// A rank becomes a 32-bit token key by a multiplicative hash, the same here and in SQL.
constexpr uint64_t kHashFactor = 2654435761u;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(std::ceil(p * values.size())) - 1);
  return values[index];
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

void Report(const char* what, const std::vector<double>& ms) {
  std::printf("%-40s n=%-5zu median %.3f ms  p90 %.3f ms  p99 %.3f ms  max %.3f ms  (load %s)\n", what, ms.size(),
              Percentile(ms, 0.5), Percentile(ms, 0.9), Percentile(ms, 0.99), Percentile(ms, 1.0),
              LoadAverage().c_str());
}

// Token keys of one message: distinct, sorted, ranks drawn log-uniformly
// (weight 1/rank) from the vocabulary, as the SQL of phase 2 draws them.
class Draws {
 public:
  explicit Draws(int tokens) : tokens_(tokens) {}
  std::vector<uint64_t> Next() {
    std::set<uint64_t> keys;
    while (static_cast<int>(keys.size()) < tokens_) {
      const auto rank = static_cast<uint64_t>(std::floor(std::exp(uniform_(random_) * std::log(kVocabulary))));
      keys.insert((rank * kHashFactor) % (uint64_t{1} << 32));
    }
    return {keys.begin(), keys.end()};
  }

 private:
  int tokens_;
  std::mt19937_64 random_{11};
  std::uniform_real_distribution<double> uniform_{0.0, 1.0};
};

void LearnOne(PostgresModelStore& store, const std::string& digest, const std::vector<uint64_t>& ids, bool is_spam) {
  SpamCounts totals = store.BeginWrite();
  if (!store.FindMessage(digest)) {
    store.Update(ids, is_spam ? TokenDelta{0, 1} : TokenDelta{1, 0});
    ++(is_spam ? totals.spam : totals.ham);
    store.PutMessage(digest, {is_spam, false, {}});
    store.SetCounts(totals);
  }
  store.Commit();
}

std::string UserName(int user) { return "scale.example\\u" + std::to_string(user) + ".dat"; }

void GrowTo(Connection& db, int first, int last, const Options& o) {
  db.Exec("BEGIN");
  db.Exec("SET LOCAL synchronous_commit = off");
  const int64_t before = db.Query("SELECT coalesce(max(id), 0) FROM varnolt_models").Int(0, 0);
  const int spam = o.messages / 3, ham = o.messages - spam;
  db.Exec("INSERT INTO varnolt_models(kind, name, ham, spam) SELECT 1, 'scale.example\\u' || u || '.dat', " +
          std::to_string(ham) + ", " + std::to_string(spam) + " FROM generate_series(" + std::to_string(first) +
          ", " + std::to_string(last) + ") u");
  const std::string models = "(SELECT id FROM varnolt_models WHERE id > " + std::to_string(before) + ") m";
  db.Exec("INSERT INTO varnolt_tokens(model, token, ham, spam) "
          "SELECT m.id, d.key, count(DISTINCT d.msg) FILTER (WHERE d.msg % 3 <> 0), "
          "count(DISTINCT d.msg) FILTER (WHERE d.msg % 3 = 0) FROM " + models +
          " CROSS JOIN LATERAL (SELECT msg, (floor(exp(random() * ln(" + std::to_string(kVocabulary) +
          ")))::bigint * " + std::to_string(kHashFactor) + ") % 4294967296 AS key, m.id AS owner "
          "FROM generate_series(1, " + std::to_string(o.messages) + ") msg, generate_series(1, " +
          std::to_string(o.tokens) + ") k) d GROUP BY m.id, d.key");
  db.Exec("INSERT INTO varnolt_messages(model, digest, spam, automatic) "
          "SELECT m.id, decode(md5(m.id || '-' || msg), 'hex'), msg % 3 = 0, false FROM " + models +
          ", generate_series(1, " + std::to_string(o.messages) + ") msg");
  db.Exec("COMMIT");
}

void TimeLookups(Connection& db, int users, const Options& o, Draws& draws) {
  db.Exec("ANALYZE varnolt_tokens");
  std::mt19937 pick(static_cast<unsigned>(users));
  std::vector<double> ms;
  std::vector<TokenCounts> tallies;
  size_t known = 0;
  for (int i = 0; i < o.lookups + 50; ++i) {
    const int user = 1 + static_cast<int>(pick() % static_cast<unsigned>(users));
    auto store = PostgresModelStore::Open(db, ModelKind::kUser, UserName(user), false);
    if (!store) throw ComError(E_FAIL, "no model for user " + std::to_string(user));
    const std::vector<uint64_t> ids = draws.Next();
    const Clock::time_point start = Clock::now();
    store->Lookup(ids, &tallies);
    if (i >= 50) {  // the first ones warm our statements and the server's cache of the index's upper levels
      ms.push_back(Millis(Clock::now() - start));
      for (const TokenCounts& t : tallies) known += (t.ham + t.spam) > 0;
    }
  }
  const std::string what = "look-up, " + std::to_string(users) + " users";
  Report(what.c_str(), ms);
  std::printf("%-40s tokens known per look-up: %.1f of %d\n", "", static_cast<double>(known) / o.lookups, o.tokens);
}

void PrintSizes(Connection& db, int users) {
  std::printf("sizes with %d users (bytes per user: table + its indexes):\n", users);
  for (const char* table : {"varnolt_models", "varnolt_tokens", "varnolt_messages"}) {
    Result r = db.Query(std::string("SELECT count(*), pg_relation_size('") + table + "'), pg_indexes_size('" + table +
                        "'), pg_total_relation_size('" + table + "') FROM " + table);
    std::printf("  %-18s rows %10lld (%7.1f per user)  table %8.1f MB  indexes %8.1f MB  total %8.1f MB  "
                "per user %6.0f + %6.0f B\n",
                table, static_cast<long long>(r.Int(0, 0)), static_cast<double>(r.Int(0, 0)) / users,
                r.Int(0, 1) / 1e6, r.Int(0, 2) / 1e6, r.Int(0, 3) / 1e6, static_cast<double>(r.Int(0, 1)) / users,
                static_cast<double>(r.Int(0, 2)) / users);
  }
  Result all = db.Query("SELECT pg_database_size(current_database())");
  std::printf("  database %.1f MB\n", all.Int(0, 0) / 1e6);
}

struct Sample {
  std::string header, body;
  bool spam;
};

std::vector<Sample> LoadSamples() {
  std::vector<Sample> samples;
  for (const char* folder : {"samples/train", "samples/incoming"}) {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(std::string(VARNOLT_SOURCE_DIR "/") + folder, ec)) {
      if (!entry.is_regular_file() || entry.path().extension() != ".eml") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      const std::string message = text.str();
      size_t split = message.find("\r\n\r\n"), skip = 4;
      if (split == std::string::npos) split = message.find("\n\n"), skip = 2;
      if (split == std::string::npos) continue;
      samples.push_back({message.substr(0, split + skip / 2), message.substr(split + skip),
                         entry.path().string().find("spam") != std::string::npos});
    }
  }
  std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.body < b.body; });
  return samples;
}

void EngineLatency(const std::string& conninfo, const Options& o) {
  const std::vector<Sample> samples = LoadSamples();
  if (samples.empty()) throw ComError(E_FAIL, "no messages in samples/");
  const fs::path folder = fs::temp_directory_path() / ("varnolt-scale-" + std::to_string(getpid()));
  fs::create_directories(folder / "scale.example");
  EngineOptions options;
  options.auto_learn.enabled = false;  // Classify reads only: what a verdict costs
  options.models = std::make_shared<engine::PostgresModelBackend>(conninfo);
  BuiltinSpamEngine engine(options);
  const std::string dat = folder.string() + "\\scale.example\\engine.dat";
  std::vector<double> learn_ms, relearn_ms, classify_ms;
  // Each lesson a message of its own: a header and a word that no other has.
  const auto lesson = [&](int i) {
    const Sample& s = samples[static_cast<size_t>(i) % samples.size()];
    return Sample{"X-Scale-Lesson: " + std::to_string(i) + "\r\n" + s.header,
                  s.body + "\r\nlesson" + std::to_string(i) + "\r\n", s.spam};
  };
  for (int i = 0; i < 300; ++i) {
    const Sample s = lesson(i);
    const Clock::time_point start = Clock::now();
    engine.Learn(dat, s.header, s.body, s.spam);  // the filter's own lesson: commits without waiting
    learn_ms.push_back(Millis(Clock::now() - start));
  }
  for (int i = 0; i < 100; ++i) {
    const Sample s = lesson(i * 3);
    const Clock::time_point start = Clock::now();
    engine.Relearn(dat, s.header, s.body, !s.spam);  // a user's correction: waits for the disk
    relearn_ms.push_back(Millis(Clock::now() - start));
  }
  for (int i = 0; i < o.classify + static_cast<int>(samples.size()); ++i) {
    const Sample& s = samples[static_cast<size_t>(i) % samples.size()];
    const Clock::time_point start = Clock::now();
    engine.Classify(dat, s.header, s.body);
    if (i >= static_cast<int>(samples.size())) classify_ms.push_back(Millis(Clock::now() - start));  // warm
  }
  Report("engine Learn (300 lessons)", learn_ms);
  Report(o.unflushed ? "engine Relearn (100 corrections, unflushed)" : "engine Relearn (100 corrections, flushed)",
         relearn_ms);
  Report("engine Classify, warm", classify_ms);
  fs::remove_all(folder);
}

int Run(const Options& o) {
  std::string why;
  auto server = testing::PrivatePostgres::Start({.durable = true}, &why);
  if (!server) {
    std::fprintf(stderr, "model_store_scale: no private PostgreSQL: %s\n", why.c_str());
    return 77;
  }
  auto db = Connection::Open(server->ConnectionString());
  MigrateModelSchema(*db);
  std::printf("%d users of %d messages, %d token keys each (vocabulary %d); %d of them through the learn path; "
              "commits flushed\n", o.users, o.messages, o.tokens, kVocabulary, o.real);

  Draws draws(o.tokens);
  std::vector<double> learn_ms;
  const std::string wal_before = db->Query("SELECT pg_current_wal_lsn()::text").Text(0, 0);
  for (int user = 1; user <= o.real; ++user) {
    auto store = PostgresModelStore::Open(*db, ModelKind::kUser, UserName(user), true);
    for (int m = 1; m <= o.messages; ++m) {
      const std::vector<uint64_t> ids = draws.Next();
      const Clock::time_point start = Clock::now();
      LearnOne(*store, "u" + std::to_string(user) + "m" + std::to_string(m), ids, m % 3 == 0);
      learn_ms.push_back(Millis(Clock::now() - start));
    }
  }
  Report("store learn (real path)", learn_ms);
  std::printf("WAL per learn: %.1f kB\n",
              static_cast<double>(db->Query("SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), $1::pg_lsn)::bigint",
                                            {Param(std::string_view(wal_before))})
                                      .Int(0, 0)) /
                  1000.0 / (o.real * o.messages));
  std::printf("token rows per user through the learn path: %.0f\n",
              static_cast<double>(db->Query("SELECT count(*) FROM varnolt_tokens").Int(0, 0)) / o.real);

  const Clock::time_point grow = Clock::now();
  int users = o.real;
  int next_report = 250;
  TimeLookups(*db, users, o, draws);
  while (users < o.users) {
    const int last = std::min(o.users, users + o.batch);
    GrowTo(*db, users + 1, last, o);
    users = last;
    if (users >= next_report || users == o.users) {
      TimeLookups(*db, users, o, draws);
      while (next_report <= users) next_report *= 2;
    }
  }
  std::printf("phase 2 made %d users in %.0f s (load %s)\n", o.users - o.real, Millis(Clock::now() - grow) / 1000,
              LoadAverage().c_str());
  db->Exec("VACUUM ANALYZE");
  PrintSizes(*db, users);
  TimeLookups(*db, users, o, draws);
  if (o.unflushed) {
    db->Exec("ALTER SYSTEM SET synchronous_commit = off");
    db->Query("SELECT pg_reload_conf()");
    std::printf("phase 3: commits not waiting for the flush\n");
  }
  EngineLatency(server->ConnectionString(), o);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--unflushed") {
      o.unflushed = true;
      continue;
    }
    const int value = i + 1 < argc ? std::atoi(argv[i + 1]) : 0;
    int* field = arg == "--users" ? &o.users : arg == "--messages" ? &o.messages : arg == "--real" ? &o.real
               : arg == "--batch" ? &o.batch : arg == "--tokens" ? &o.tokens : arg == "--lookups" ? &o.lookups
               : arg == "--classify" ? &o.classify : nullptr;
    if (field == nullptr || value < 1) {
      std::fprintf(stderr, "usage: model_store_scale [--users N] [--messages N] [--real N] [--batch N] "
                           "[--tokens N] [--lookups N] [--classify N] [--unflushed]\n");
      return 2;
    }
    *field = value;
    ++i;
  }
  try {
    return Run(o);
  } catch (const varnolt::ComError& e) {
    std::fprintf(stderr, "model_store_scale: %s\n", e.description().c_str());
    return 1;
  }
}
