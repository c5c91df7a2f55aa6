#include "engine/model_copy.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "engine/engine_errors.h"
#include "engine/linear_fit.h"

namespace varnolt::engine {

bool SameContents(const ModelContents& a, const ModelContents& b) {
  auto same_tokens = [](const auto& x, const auto& y) {
    return x.first == y.first && x.second.ham == y.second.ham && x.second.spam == y.second.spam;
  };
  auto same_messages = [](const auto& x, const auto& y) {
    return x.first == y.first && x.second.is_spam == y.second.is_spam && x.second.automatic == y.second.automatic &&
           x.second.keys == y.second.keys;
  };
  auto same_corrections = [](const Correction& x, const Correction& y) {
    return x.digest == y.digest && x.is_spam == y.is_spam && x.keys == y.keys;
  };
  auto same_lessons = [](const PendingLesson& x, const PendingLesson& y) {
    return x.user == y.user && x.digest == y.digest && x.is_spam == y.is_spam && x.keys == y.keys &&
           x.tokens == y.tokens;
  };
  return a.totals.ham == b.totals.ham && a.totals.spam == b.totals.spam &&
         std::equal(a.corrections.begin(), a.corrections.end(), b.corrections.begin(), b.corrections.end(),
                    same_corrections) &&
         std::equal(a.pending.begin(), a.pending.end(), b.pending.begin(), b.pending.end(), same_lessons) &&
         std::equal(a.tokens.begin(), a.tokens.end(), b.tokens.begin(), b.tokens.end(), same_tokens) &&
         std::equal(a.messages.begin(), a.messages.end(), b.messages.begin(), b.messages.end(), same_messages);
}

ModelContents CopyModel(SpamModel& from, SpamModel& to) {
  const ModelContents contents = from.Contents();
  to.Clear();
  to.BeginWrite(WriteSync::kWait);
  // The totals first: a file model refuses a token counted in more messages than it learned.
  to.SetCounts(contents.totals);
  // Tokens of equal counts go in one update each: as ids whose key is theirs.
  std::map<std::pair<uint32_t, uint32_t>, std::vector<uint64_t>> by_counts;
  for (const auto& [key, counts] : contents.tokens) {
    by_counts[{counts.ham, counts.spam}].push_back(uint64_t{key} << 32);
  }
  for (auto& [counts, ids] : by_counts) {
    std::sort(ids.begin(), ids.end());
    to.Update(ids, TokenDelta{counts.first, counts.second});
  }
  for (const auto& [digest, learned] : contents.messages) {
    MessageDigest key;
    key.key = digest;
    to.PutMessage(key, learned);
  }
  for (const Correction& correction : contents.corrections) {
    MessageDigest key;
    key.key = correction.digest;
    to.PutCorrection(key, correction.keys);
  }
  // Oldest first, so that they keep their order of age.
  for (const PendingLesson& lesson : contents.pending) to.PutPendingLesson(lesson);
  // The linear fit goes along, so that the copy scores as its source did.
  from.BeginRead();
  const std::shared_ptr<const LinearFit> fit = from.Fit();
  const int32_t changes = from.ChangesSinceFit();
  from.Commit();
  to.PutFit(fit.get());
  to.SetChangesSinceFit(changes);
  to.Commit();
  ModelContents copied = to.Contents();
  std::sort(copied.messages.begin(), copied.messages.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  ModelContents expected = contents;
  std::sort(expected.messages.begin(), expected.messages.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  if (!SameContents(expected, copied)) {
    throw EngineError(kErrorCorruptDatabase, "", "the copied model reads back otherwise than its source");
  }
  return contents;
}

}  // namespace varnolt::engine
