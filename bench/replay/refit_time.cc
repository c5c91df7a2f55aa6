// Times the linear model's refit as the engine would run it: the learned
// messages' 20-bit keys (at most 400 each) in digest order, a fixed number of
// stochastic-gradient passes over a 2^20 weight table. Reads the token dump.
//   g++ -O2 -std=c++20 refit_time.cc -o refit_time && ./refit_time tokens.jsonl 4000 PASSES RATE DECAY L2
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#ifndef WEIGHT
#define WEIGHT double
#endif

struct Example { std::string digest; std::vector<uint32_t> keys; double label; double scale; };

int main(int argc, char** argv) {
  if (argc < 7) return 2;
  std::ifstream in(argv[1]);
  size_t want = std::strtoul(argv[2], nullptr, 10);
  int passes = std::atoi(argv[3]);
  double rate0 = std::atof(argv[4]), decay = std::atof(argv[5]), l2 = std::atof(argv[6]);
  std::vector<Example> set;
  std::string line;
  while (set.size() < want && std::getline(in, line)) {
    Example e;
    auto d = line.find("\"digest\":\"") + 10;
    e.digest = line.substr(d, line.find('"', d) - d);
    e.label = line.find("\"spam\":true") != std::string::npos ? 1.0 : 0.0;
    auto k = line.find("\"keys\":[") + 8;
    auto end = line.find(']', k);
    for (char* p = line.data() + k; p < line.data() + end;) {
      e.keys.push_back(static_cast<uint32_t>(std::strtoull(p, &p, 10)) >> 12);
      if (*p == ',') ++p;
    }
    std::sort(e.keys.begin(), e.keys.end());
    e.keys.erase(std::unique(e.keys.begin(), e.keys.end()), e.keys.end());
    if (e.keys.size() > 400) e.keys.resize(400);
    if (e.keys.empty()) continue;
    e.scale = 1.0 / std::sqrt(double(e.keys.size()));
    set.push_back(std::move(e));
  }
  std::sort(set.begin(), set.end(), [](auto& a, auto& b) { return a.digest < b.digest; });
  std::vector<WEIGHT> w(1u << 20);
  const int rounds = 20;
  double checksum = 0;
  auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    std::fill(w.begin(), w.end(), 0.0);
    double bias = 0;
    for (int n = 0; n < passes; ++n) {
      double rate = rate0 / (1.0 + decay * n), shrink = 1.0 - rate * l2;
      for (auto& e : set) {
        double z = 0;
        for (auto k : e.keys) z += w[k];
        z = std::clamp(bias + e.scale * z, -35.0, 35.0);
        double g = rate * (e.label - 1.0 / (1.0 + std::exp(-z)));
        for (auto k : e.keys) w[k] = WEIGHT((l2 != 0 ? w[k] * shrink : w[k]) + g * e.scale);
        bias += g;
      }
    }
    checksum += bias;
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / rounds;
  std::printf("%zu messages, %d passes: %.1f ms per refit, %.2f ms per learned message at a refit every 25 (bias %.6f)\n",
              set.size(), passes, ms, ms / 25, checksum / rounds);
}
