#include "engine/corrections.h"

#include <algorithm>
#include <limits>

#include "engine/key_record.h"

namespace varnolt::engine {

double KeySimilarity(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.empty() && b.empty()) return 1;
  // A record cut at kMaxRecordKeys knows nothing of the keys above its last.
  auto reach = [](const std::vector<uint32_t>& keys) {
    return keys.size() >= kMaxRecordKeys ? keys.back() : std::numeric_limits<uint32_t>::max();
  };
  const uint32_t limit = std::min(reach(a), reach(b));
  size_t i = 0, j = 0, shared = 0, either = 0;
  while ((i < a.size() && a[i] <= limit) || (j < b.size() && b[j] <= limit)) {
    const bool take_a = i < a.size() && a[i] <= limit;
    const bool take_b = j < b.size() && b[j] <= limit;
    ++either;
    if (take_a && take_b && a[i] == b[j]) {
      ++shared;
      ++i;
      ++j;
    } else if (take_a && (!take_b || a[i] < b[j])) {
      ++i;
    } else {
      ++j;
    }
  }
  return either == 0 ? 0 : static_cast<double>(shared) / static_cast<double>(either);
}

std::optional<CorrectionMatch> MatchCorrection(const MessageDigest& digest, const std::vector<uint32_t>& record,
                                               const std::vector<Correction>& corrections, double threshold) {
  std::optional<CorrectionMatch> best;
  for (const Correction& correction : corrections) {
    // Corrections are stored under the message's current key only.
    if (correction.digest == digest.key) return CorrectionMatch{correction.is_spam, true, 1.0};
  }
  for (const Correction& correction : corrections) {
    const std::optional<std::vector<uint32_t>> keys = UnpackKeys(correction.keys);
    if (!keys) continue;
    const double similarity = KeySimilarity(record, *keys);
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
