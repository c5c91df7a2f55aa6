#include "engine/corrections.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/key_record.h"

namespace varnolt::engine {

namespace {

// KeySimilarity, or -1 as soon as it cannot reach floor: most records share
// little with the message, and a few dozen keys tell.
double SimilarityFrom(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, double floor) {
  if (a.empty() && b.empty()) return 1;
  // A record cut at kMaxRecordKeys knows nothing of the keys above its last.
  auto reach = [](const std::vector<uint32_t>& keys) {
    return keys.size() >= kMaxRecordKeys ? keys.back() : std::numeric_limits<uint32_t>::max();
  };
  const uint32_t limit = std::min(reach(a), reach(b));
  const size_t a_end = static_cast<size_t>(std::upper_bound(a.begin(), a.end(), limit) - a.begin());
  const size_t b_end = static_cast<size_t>(std::upper_bound(b.begin(), b.end(), limit) - b.begin());
  size_t i = 0, j = 0, shared = 0, apart = 0;
  while (i < a_end && j < b_end) {
    if (a[i] == b[j]) {
      ++shared;
      ++i;
      ++j;
      continue;
    }
    ++(a[i] < b[j] ? i : j);
    ++apart;
    // At best every key still to come is shared.
    const double best_shared = static_cast<double>(shared) + static_cast<double>(std::min(a_end - i, b_end - j));
    if (floor > 0 && best_shared < floor * (best_shared + static_cast<double>(apart))) return -1;
  }
  apart += (a_end - i) + (b_end - j);
  const size_t either = shared + apart;
  return either == 0 ? 0 : static_cast<double>(shared) / static_cast<double>(either);
}

}  // namespace

double KeySimilarity(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  return std::max(SimilarityFrom(a, b, 0), 0.0);
}

namespace {

// Unpacking a record costs more than comparing it: a process judging many
// messages keeps the corrections' keys it unpacked, by digest, checked
// against the stored bytes; bounded, dropped all at once when full.
class UnpackedRecords {
 public:
  std::shared_ptr<const std::vector<uint32_t>> Keys(const Correction& correction) {
    const std::string_view digest(reinterpret_cast<const char*>(correction.digest.data()), correction.digest.size());
    const size_t hash = std::hash<std::string_view>{}(correction.keys);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      const auto found = records_.find(std::string(digest));
      if (found != records_.end() && found->second.hash == hash && found->second.size == correction.keys.size()) {
        return found->second.keys;
      }
    }
    std::optional<std::vector<uint32_t>> keys = UnpackKeys(correction.keys);
    if (!keys) return nullptr;
    auto shared = std::make_shared<const std::vector<uint32_t>>(std::move(*keys));
    const std::lock_guard<std::mutex> lock(mutex_);
    if (records_.size() >= kCapacity) records_.clear();
    records_[std::string(digest)] = {hash, correction.keys.size(), shared};
    return shared;
  }

 private:
  static constexpr size_t kCapacity = 4096;  // at most a few MB
  struct Entry {
    size_t hash;
    size_t size;
    std::shared_ptr<const std::vector<uint32_t>> keys;
  };
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> records_;
};

UnpackedRecords& Unpacked() {
  static auto* records = new UnpackedRecords();  // never destroyed: used until the process ends
  return *records;
}

// A bound of the similarity from the records' sizes alone, for records that hold all their keys.
bool CannotReach(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, double threshold) {
  if (a.size() >= kMaxRecordKeys || b.size() >= kMaxRecordKeys) return false;
  // std::minmax would hand back references to the two sizes, temporaries gone by the next line.
  const size_t small = std::min(a.size(), b.size());
  const size_t large = std::max(a.size(), b.size());
  return static_cast<double>(small) < threshold * static_cast<double>(large);
}

}  // namespace

std::optional<CorrectionMatch> MatchCorrection(const MessageDigest& digest, const std::vector<uint32_t>& record,
                                               const std::vector<Correction>& corrections, double threshold) {
  std::optional<CorrectionMatch> best;
  for (const Correction& correction : corrections) {
    // Corrections are stored under the message's current key only.
    if (correction.digest == digest.key) return CorrectionMatch{correction.is_spam, true, 1.0};
  }
  for (const Correction& correction : corrections) {
    const std::shared_ptr<const std::vector<uint32_t>> keys = Unpacked().Keys(correction);
    if (!keys || CannotReach(record, *keys, threshold)) continue;
    const double similarity = SimilarityFrom(record, *keys, threshold);
    // Corrections come by digest ascending: the first of equals is the smaller digest.
    if (similarity >= threshold && (!best || similarity > best->similarity)) {
      best = CorrectionMatch{correction.is_spam, false, similarity};
    }
  }
  return best;
}

std::vector<Correction> ReadCorrections(SpamModel* model) {
  if (model == nullptr) return {};
  model->BeginRead();
  std::vector<Correction> corrections = model->Corrections();
  model->Commit();
  return corrections;
}

}  // namespace varnolt::engine
