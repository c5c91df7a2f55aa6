// What a user's correction costs as the user's domain grows: a domain's
// shared model taught N synthetic messages (then refitted, as `train
// --domain` does), a new user of it who corrects ten messages, each timed;
// the user's file afterwards, the domain's file, its refit's time and the
// process's peak memory, and a judgement's time for that user.
//
// Usage: correction_cost [N...] (default 3250 100000); VARNOLT_CORRECTIONS
// sets the number of corrections (10). correction_cost --corpus DIR: the
// domain taught the development groups of the corpus (bench/fetch-corpus),
// the user correcting the held-out messages it judges wrong, in the
// evaluation's order (seed 1).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/builtin_spam_engine.h"
#include "engine/model_cache.h"
#include "eval_corpus.h"
#include "platform/names/data_layout.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Words of a Zipf-like skew over a fixed vocabulary, so that the model holds
// common and rare tokens the way a real one does; about 300 tokens a message.
class Maker {
 public:
  explicit Maker(uint64_t seed) : rng_(seed) {
    for (int i = 0; i < 40000; ++i) {
      std::string w;
      for (int v = i + 1; v > 0; v /= 26) w += static_cast<char>('a' + v % 26);
      vocabulary_.push_back(w + "e" + std::to_string(i % 7));
    }
  }
  std::pair<std::string, std::string> Message(int n, bool spam) {
    const std::string host = spam ? "mx" + std::to_string(n % 997) + ".bulk.example" : "mail.example.org";
    std::string header = "Received: from " + host + " (" + host + " [192.0.2." + std::to_string(n % 250) +
                         "])\r\nFrom: <s" + std::to_string(n % 500) + "@" + host + ">\r\nSubject: " + Words(6) +
                         "\r\nMessage-ID: <" + std::to_string(n) + "." + std::to_string(rng_()) + "@" + host +
                         ">\r\n\r\n";
    std::string body = Words(350);
    if (spam) body += " click http://offers" + std::to_string(rng_() % 50) + ".example.com/";
    return {header, body};
  }

 private:
  std::string Words(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
      text += vocabulary_[static_cast<size_t>(std::pow(vocabulary_.size(), pick_(rng_))) - 1] + ' ';
    }
    return text;
  }
  std::mt19937_64 rng_;
  std::uniform_real_distribution<double> pick_{0.0, 1.0};
  std::vector<std::string> vocabulary_;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

uintmax_t Bytes(const fs::path& file) {
  std::error_code ec;
  uintmax_t total = 0;
  for (const char* suffix : {"", "-wal"}) {
    const uintmax_t size = fs::file_size(file.string() + suffix, ec);
    if (!ec) total += size;
  }
  return total;
}

long PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

using Source = std::function<std::pair<std::string, std::string>(int n, bool* spam)>;

// The domain taught domain_size messages of teach; the user corrects what it
// judges wrong of correct (the class given), up to corrections of them.
void Measure(const std::string& name, int domain_size, const Source& teach, int stream, const Source& correct,
             int corrections) {
  const fs::path folder = fs::temp_directory_path() / ("correction-cost-" + std::to_string(std::random_device{}()));
  fs::create_directories(folder / "example.org");
  const std::string data = folder.string() + "\\";
  const std::string domain = DomainModelPath(data, "example.org"), user = UserDatabasePath(data, "example.org", "alice");
  EngineOptions options;
  options.domain_learning = true;
  options.cache = std::make_shared<engine::ModelCache>();
  double refit_ms = 0;
  {
    BuiltinSpamEngine engine(options);
    // Learn of the domain's own path teaches it alone and never refits: one refit at the end.
    for (int n = 0; n < domain_size; ++n) {
      bool spam = false;
      const auto [header, body] = teach(n, &spam);
      engine.Learn(domain, header, body, spam);
    }
    const Clock::time_point start = Clock::now();
    engine.Refit(domain);
    refit_ms = Ms(Clock::now() - start);
  }
  const long refit_mb = PeakMegabytes();
  std::vector<double> correction_ms, classify_ms;
  {
    BuiltinSpamEngine engine(options);
    for (int n = 0; n < stream && static_cast<int>(correction_ms.size()) < corrections; ++n) {
      bool spam = false;
      const auto [header, body] = correct(n, &spam);
      Clock::time_point start = Clock::now();
      const bool judged_spam = engine.Peek(user, header, body).is_spam;
      classify_ms.push_back(Ms(Clock::now() - start));
      if (judged_spam == spam) continue;
      start = Clock::now();
      engine.Relearn(user, header, body, spam);
      correction_ms.push_back(Ms(Clock::now() - start));
    }
  }
  options.cache.reset();  // closes the files: their logs are folded in
  std::printf("%s %7d: domain file %8.1f KB, refit %8.1f ms, peak memory %5ld MB | user file %6.1f KB after %zu "
              "corrections, correction median %6.2f ms (max %6.2f), judgement median %6.2f ms\n",
              name.c_str(), domain_size, Bytes(fs::path(folder) / "example.org" / "@domain.model") / 1024.0, refit_ms,
              refit_mb, Bytes(fs::path(folder) / "example.org" / "alice.dat") / 1024.0, correction_ms.size(),
              correction_ms.empty() ? 0 : Median(correction_ms),
              correction_ms.empty() ? 0 : *std::max_element(correction_ms.begin(), correction_ms.end()),
              Median(classify_ms));
  std::fflush(stdout);
  // VARNOLT_KEEP=1 leaves the files for a look inside.
  if (std::getenv("VARNOLT_KEEP") == nullptr) fs::remove_all(folder);
}

void Synthetic(int domain_size, int corrections) {
  Maker maker(7);
  const Source teach = [&](int n, bool* spam) { return maker.Message(n, *spam = n % 3 == 0); };
  // Mail of the other class than the domain's words for it: what a user corrects.
  const Source correct = [&](int n, bool* spam) {
    *spam = n % 2 == 0;
    auto message = maker.Message(domain_size + n, !*spam);
    return message;
  };
  Measure("synthetic domain", domain_size, teach, corrections, correct, corrections);
}

void Corpus(const std::string& folder, int corrections) {
  const std::vector<eval::CorpusMessage> dev = eval::LoadCorpus(folder, eval::GroupsOf("dev"));
  std::vector<eval::CorpusMessage> held_out = eval::LoadCorpus(folder, eval::GroupsOf("acceptance"));
  eval::Shuffle(held_out, 1);
  const Source teach = [&](int n, bool* spam) {
    *spam = dev[n].is_spam;
    return std::pair{dev[n].header, dev[n].body};
  };
  const Source correct = [&](int n, bool* spam) {
    *spam = held_out[n].is_spam;
    return std::pair{held_out[n].header, held_out[n].body};
  };
  Measure("development groups", static_cast<int>(dev.size()), teach, static_cast<int>(held_out.size()), correct,
          corrections);
}

}  // namespace
}  // namespace varnolt

int main(int argc, char** argv) {
  const char* corrections_text = std::getenv("VARNOLT_CORRECTIONS");
  const int corrections = corrections_text != nullptr ? std::atoi(corrections_text) : 10;
  if (argc == 3 && std::string(argv[1]) == "--corpus") {
    varnolt::Corpus(argv[2], corrections);
    return 0;
  }
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {3250, 100000};
  for (int size : sizes) varnolt::Synthetic(size, corrections);
  return 0;
}
