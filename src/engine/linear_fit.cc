#include "engine/linear_fit.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>

#include "engine/engine_errors.h"
#include "engine/key_record.h"

namespace varnolt::engine {
namespace {

constexpr double kMaxLogOdds = 35;

double Sigmoid(double z) { return 1.0 / (1.0 + std::exp(-std::clamp(z, -kMaxLogOdds, kMaxLogOdds))); }

uint64_t Mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

constexpr size_t kFitHeadBytes = 24;
constexpr size_t kResidualHeadBytes = 25;
constexpr size_t kWeightBytes = 7;

}  // namespace

double LinearFit::LogOdds(const std::vector<uint32_t>& keys) const {
  if (keys.empty()) return bias;
  // Both ascending: one walk.
  double sum = 0;
  auto w = weights.begin();
  for (uint32_t key : keys) {
    w = std::lower_bound(w, weights.end(), key, [](const auto& entry, uint32_t k) { return entry.first < k; });
    if (w == weights.end()) break;
    if (w->first == key) sum += w->second;
  }
  return bias + sum / std::sqrt(static_cast<double>(keys.size()));
}

double LinearFit::Score(const std::vector<uint32_t>& keys) const { return Sigmoid(LogOdds(keys)); }

std::vector<FitExample> FitSet(const LearnedMessages& user, const LearnedMessages& domain) {
  std::map<DigestBytes, FitExample> set;
  auto add = [&](const LearnedMessages& messages, float weight) {
    for (const auto& [digest, message] : messages) {
      if (message.keys.empty()) continue;
      std::optional<std::vector<uint32_t>> keys = UnpackKeys(message.keys);
      if (!keys) throw EngineError(kErrorCorruptDatabase, "", "a learned message's key record is damaged");
      set[digest] = FitExample{digest, message.is_spam, weight, std::move(*keys)};
    }
  };
  add(domain, 1);
  add(user, kUserMessageWeight);  // the user's class and weight win
  std::vector<FitExample> examples;
  examples.reserve(set.size());
  for (auto& [digest, example] : set) examples.push_back(std::move(example));
  return examples;
}

std::vector<FitExample> ResidualFitSet(const LearnedMessages& user) {
  std::vector<FitExample> set = FitSet(user, {});
  for (FitExample& example : set) example.weight = 1;
  return set;
}

uint64_t FingerprintOf(const std::vector<FitExample>& set) {
  uint64_t sum = 0;
  for (const FitExample& example : set) {
    uint64_t head = 0, tail = 0;
    std::memcpy(&head, example.digest.data(), 8);
    std::memcpy(&tail, example.digest.data() + 8, 8);
    const uint64_t tag = (example.is_spam ? 1u : 0u) | uint64_t{std::bit_cast<uint32_t>(example.weight)} << 1;
    sum += Mix(Mix(head ^ Mix(tail)) ^ tag);
  }
  return sum == 0 ? 1 : sum;
}

std::optional<LinearFit> Fit(std::vector<FitExample> set, const LinearFit* base) {
  const bool has_spam = std::any_of(set.begin(), set.end(), [](const FitExample& e) { return e.is_spam; });
  const bool has_ham = std::any_of(set.begin(), set.end(), [](const FitExample& e) { return !e.is_spam; });
  // A residual fit keeps the domain's base rate: a user's few lessons of one
  // class (or many of the engine's own HAM verdicts) must not move every message.
  const bool fit_bias = has_spam && has_ham && base == nullptr;
  if (base == nullptr ? !fit_bias : set.empty()) return std::nullopt;
  std::sort(set.begin(), set.end(), [](const FitExample& a, const FitExample& b) { return a.digest < b.digest; });
  std::vector<float> weights(kLinearKeyCount, 0.0f);
  std::vector<double> scale(set.size()), offset(set.size(), 0.0);
  for (size_t i = 0; i < set.size(); ++i) {
    scale[i] = set[i].keys.empty() ? 0 : 1.0 / std::sqrt(static_cast<double>(set[i].keys.size()));
    if (base != nullptr) offset[i] = base->LogOdds(set[i].keys);
  }
  double bias = 0;
  for (int pass = 0; pass < kFitPasses; ++pass) {
    for (size_t i = 0; i < set.size(); ++i) {
      const FitExample& example = set[i];
      double z = 0;
      for (uint32_t key : example.keys) z += weights[key];
      const double p = Sigmoid(offset[i] + bias + scale[i] * z);
      const double g = example.weight * ((example.is_spam ? 1.0 : 0.0) - p);
      const auto step = static_cast<float>(g * scale[i]);
      for (uint32_t key : example.keys) weights[key] += step;
      if (fit_bias) bias += g;
    }
  }
  LinearFit fit;
  fit.fingerprint = FingerprintOf(set);
  fit.bias = bias;
  fit.residual = base != nullptr;
  if (base != nullptr) {
    // Only the user's own keys moved: walk those instead of the whole table.
    std::vector<uint32_t> keys;
    for (const FitExample& example : set) keys.insert(keys.end(), example.keys.begin(), example.keys.end());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (uint32_t key : keys) {
      if (weights[key] != 0.0f) fit.weights.emplace_back(key, weights[key]);
    }
    return fit;
  }
  for (uint32_t key = 0; key < kLinearKeyCount; ++key) {
    if (weights[key] != 0.0f) fit.weights.emplace_back(key, weights[key]);
  }
  return fit;
}

double LinearScore(const LinearFit* user, const LinearFit* domain, const std::vector<uint32_t>& keys) {
  if (user != nullptr && user->residual) return Sigmoid((domain != nullptr ? domain->LogOdds(keys) : 0) + user->LogOdds(keys));
  if (user != nullptr) return user->Score(keys);
  return domain != nullptr ? domain->Score(keys) : 0.5;
}

std::string PackFit(const LinearFit& fit) {
  const std::vector<std::pair<uint32_t, float>>& weights = fit.weights;
  const size_t head = fit.residual ? kResidualHeadBytes : kFitHeadBytes;
  std::string bytes(head + weights.size() * kWeightBytes, '\0');
  if (fit.residual) bytes[kFitHeadBytes] = 1;
  const uint64_t bias = std::bit_cast<uint64_t>(fit.bias);
  for (int b = 0; b < 8; ++b) {
    bytes[b] = static_cast<char>((fit.fingerprint >> (8 * b)) & 0xFF);
    bytes[8 + b] = static_cast<char>((bias >> (8 * b)) & 0xFF);
    bytes[16 + b] = static_cast<char>((fit.domain_fingerprint >> (8 * b)) & 0xFF);
  }
  for (size_t i = 0; i < weights.size(); ++i) {
    const uint32_t bits = std::bit_cast<uint32_t>(weights[i].second);
    char* out = bytes.data() + head + i * kWeightBytes;
    for (int b = 0; b < 3; ++b) out[b] = static_cast<char>((weights[i].first >> (8 * b)) & 0xFF);
    for (int b = 0; b < 4; ++b) out[3 + b] = static_cast<char>((bits >> (8 * b)) & 0xFF);
  }
  return bytes;
}

std::optional<LinearFit> UnpackFit(std::string_view bytes) {
  if (bytes.size() < kFitHeadBytes) return std::nullopt;
  LinearFit fit;
  fit.residual = (bytes.size() - kFitHeadBytes) % kWeightBytes != 0;
  const size_t head = fit.residual ? kResidualHeadBytes : kFitHeadBytes;
  if (bytes.size() < head || (bytes.size() - head) % kWeightBytes != 0) return std::nullopt;
  if (fit.residual && bytes[kFitHeadBytes] != 1) return std::nullopt;
  uint64_t bias = 0;
  fit.fingerprint = 0;
  for (int b = 0; b < 8; ++b) {
    fit.fingerprint |= uint64_t{static_cast<uint8_t>(bytes[b])} << (8 * b);
    bias |= uint64_t{static_cast<uint8_t>(bytes[8 + b])} << (8 * b);
    fit.domain_fingerprint |= uint64_t{static_cast<uint8_t>(bytes[16 + b])} << (8 * b);
  }
  fit.bias = std::bit_cast<double>(bias);
  if (fit.fingerprint == 0 || !std::isfinite(fit.bias)) return std::nullopt;
  std::vector<std::pair<uint32_t, float>>& weights = fit.weights;
  weights.resize((bytes.size() - head) / kWeightBytes);
  for (size_t i = 0; i < weights.size(); ++i) {
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.data() + head + i * kWeightBytes);
    uint32_t key = 0, bits = 0;
    for (int b = 0; b < 3; ++b) key |= uint32_t{in[b]} << (8 * b);
    for (int b = 0; b < 4; ++b) bits |= uint32_t{in[3 + b]} << (8 * b);
    const float weight = std::bit_cast<float>(bits);
    if ((i > 0 && key <= weights[i - 1].first) || key >= kLinearKeyCount || !std::isfinite(weight)) {
      return std::nullopt;
    }
    weights[i] = {key, weight};
  }
  return fit;
}

}  // namespace varnolt::engine
