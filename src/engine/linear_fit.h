// The linear half of the engine's score: a logistic regression over each
// message's key record (key_record.h), refitted from the set of learned
// messages rather than updated message by message, so that the weights are
// a function of that set and never of the order the mail came in.
//
// The fit is a fixed stochastic-gradient descent: float weights in a table
// of kLinearKeyCount plus a bias, all zero at first; kFitPasses passes over
// the set in ascending digest order; each message's keys count 1/sqrt(n)
// each; no decay, no penalty. The same set gives the same weights on one
// build. A user's fit beside a domain's is residual: fitted over the user's
// own messages alone, each starting from the domain fit's
// log-odds, so that it holds only what the user taught and scores added to
// the domain's. Its size and its refit grow with the user's lessons, never
// with the domain's.
//
// The weights are a cache of the set at its last fit: stored beside the
// counts with a fingerprint of that set, refitted once enough has changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/feature_hash.h"
#include "engine/spam_model.h"

namespace varnolt::engine {

constexpr int kFitPasses = 20;
// How much a user's own message counts against one of the domain's lesson.
constexpr float kUserMessageWeight = 2;
// Changes (messages learned or moved) after which the next correction or
// administrator's lesson redoes the stored fit (a delivery never does).
constexpr int32_t kRefitAfterChanges = 25;

struct FitExample {
  DigestBytes digest{};
  bool is_spam = false;
  float weight = 1;
  std::vector<uint32_t> keys;  // the record's keys
};

struct LinearFit {
  // Of the set the weights came from (FingerprintOf); never 0.
  uint64_t fingerprint = 1;
  double bias = 0;
  // A user's fit: the fingerprint of the domain's fit when it was made (0: none).
  uint64_t domain_fingerprint = 0;
  // Fitted over a domain's fit (the user's own messages alone): its log-odds
  // add to the domain fit's. Earlier users' fits spanned the domain's lesson
  // and score alone.
  bool residual = false;
  std::vector<std::pair<uint32_t, float>> weights;  // the keys whose weight is not 0, ascending

  // The log-odds of SPAM for a message's distinct keys (ascending).
  double LogOdds(const std::vector<uint32_t>& keys) const;
  // The probability of SPAM, the log-odds clamped to +-35.
  double Score(const std::vector<uint32_t>& keys) const;
};

// The set a fit spans: the domain's messages at weight 1, the user's at
// kUserMessageWeight; a message both learned takes the user's class. Messages
// without a key record (learned before records were kept) are left out.
// Throws kErrorCorruptDatabase for a record that does not unpack.
std::vector<FitExample> FitSet(const LearnedMessages& user, const LearnedMessages& domain);

// The set of a user's residual fit: the user's own messages, each counted
// once (nothing else in it to outweigh). Throws as FitSet does.
std::vector<FitExample> ResidualFitSet(const LearnedMessages& user);

// An order-free fingerprint: a sum over the examples of a hash of digest,
// class and weight. Never 0.
uint64_t FingerprintOf(const std::vector<FitExample>& set);

// The fit of the set; nullopt until the set holds both classes. Over a base
// fit (a domain's): the residual fit, each example starting from the base's
// log-odds of its keys; a set of one class then fits its keys' weights
// without a bias (which would move every message), and an empty set none.
std::optional<LinearFit> Fit(std::vector<FitExample> set, const LinearFit* base = nullptr);

// The probability of SPAM for a message's distinct keys (ascending) from a
// user's fit and the domain's, either null: a residual user fit adds to the
// domain's, any other judges alone, else the domain's. 0.5 with neither.
double LinearScore(const LinearFit* user, const LinearFit* domain, const std::vector<uint32_t>& keys);

// The stored form of a fit: its fingerprint, the bits of its bias and its
// domain_fingerprint, 8 bytes each, a residual fit's one byte 1 after them,
// then per non-zero weight its key in 3 bytes and its float's bits in 4, all
// little-endian, keys ascending (about 0.7 MB at 100,000 keys). The head's
// two lengths leave different remainders by 7. nullopt for bytes that are no such fit.
std::string PackFit(const LinearFit& fit);
std::optional<LinearFit> UnpackFit(std::string_view bytes);

}  // namespace varnolt::engine
