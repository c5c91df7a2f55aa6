#include "engine/domain_consensus.h"

#include <algorithm>
#include <set>

#include "engine/engine_errors.h"
#include "engine/key_record.h"
#include "engine/model_lesson.h"
#include "engine/token_buckets.h"

namespace varnolt::engine {
namespace {

constexpr size_t kTokenKeyBytes = 4;

std::vector<uint32_t> RecordOf(const std::string& packed) {
  if (packed.empty()) return {};
  std::optional<std::vector<uint32_t>> keys = UnpackKeys(packed);
  // A damaged record agrees with nothing; the lesson it belongs to still counts for its own message.
  return keys ? std::move(*keys) : std::vector<uint32_t>{};
}

}  // namespace

bool ConsensusNearDuplicate(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.empty() || b.empty()) return false;
  size_t shared = 0;
  for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    if (a[i] < b[j]) {
      ++i;
    } else if (b[j] < a[i]) {
      ++j;
    } else {
      ++shared, ++i, ++j;
    }
  }
  return static_cast<double>(shared) >= kConsensusSharedKeys * static_cast<double>(std::max(a.size(), b.size()));
}

std::string PackTokenKeys(const std::vector<uint64_t>& ids) {
  std::string packed;
  packed.reserve(ids.size() * kTokenKeyBytes);
  bool any = false;
  uint32_t last = 0;
  for (const uint64_t id : ids) {
    const uint32_t key = KeyOf(id);
    if (any && key == last) continue;
    for (size_t b = 0; b < kTokenKeyBytes; ++b) packed.push_back(static_cast<char>((key >> (8 * b)) & 0xFF));
    any = true;
    last = key;
  }
  return packed;
}

std::optional<std::vector<uint64_t>> UnpackTokenKeys(std::string_view packed) {
  if (packed.size() % kTokenKeyBytes != 0) return std::nullopt;
  std::vector<uint64_t> ids(packed.size() / kTokenKeyBytes);
  for (size_t i = 0; i < ids.size(); ++i) {
    uint32_t key = 0;
    for (size_t b = 0; b < kTokenKeyBytes; ++b) {
      key |= uint32_t{static_cast<uint8_t>(packed[i * kTokenKeyBytes + b])} << (8 * b);
    }
    ids[i] = uint64_t{key} << 32;
    if (i > 0 && ids[i] <= ids[i - 1]) return std::nullopt;
  }
  return ids;
}

std::string ConsensusUserOf(const std::string& dat_path) {
  const size_t separator = dat_path.find_last_of("\\/");
  return separator == std::string::npos ? dat_path : dat_path.substr(separator + 1);
}

ConsensusOutcome OfferLessonToDomain(SpamModel& domain, const std::string& user, const std::vector<uint64_t>& ids,
                                     const MessageDigest& digest, bool is_spam, uint32_t needed, WriteSync sync) {
  const std::string keys = PackKeys(RecordKeys(ids));
  ConsensusOutcome outcome;
  domain.BeginWrite(sync);
  const std::optional<LearnedMessage> known = domain.FindMessage(digest);
  if (needed <= 1 || (known && known->is_spam == is_spam)) {
    // Agreement needs nobody else, or the domain holds it so already: nothing waits.
    domain.DropPendingLesson(user, digest.key);
    outcome.taught = ApplyLesson(domain, ids, digest, keys, is_spam, false) == LessonResult::kAlreadyKnown ? 0 : 1;
    domain.Commit();
    return outcome;
  }
  // The group: this lesson and every waiting one of its class on the same
  // message or a near duplicate; the user's own earlier lesson on it is replaced.
  const std::vector<uint32_t> record = RecordKeys(ids);
  std::set<std::string> users{user};
  std::vector<PendingLesson> group;
  for (PendingLesson& waiting : domain.PendingLessons(false)) {
    if (waiting.user == user && waiting.digest == digest.key) continue;
    if (waiting.is_spam != is_spam) continue;
    if (waiting.digest != digest.key && !ConsensusNearDuplicate(record, RecordOf(waiting.keys))) continue;
    users.insert(waiting.user);
    group.push_back(std::move(waiting));
  }
  if (users.size() < needed) {
    domain.PutPendingLesson(PendingLesson{user, digest.key, is_spam, keys, PackTokenKeys(ids)});
    outcome.waiting = true;
    domain.Commit();
    return outcome;
  }
  domain.DropPendingLesson(user, digest.key);
  if (ApplyLesson(domain, ids, digest, keys, is_spam, false) != LessonResult::kAlreadyKnown) ++outcome.taught;
  if (!group.empty()) {
    // Their tokens are read only now that they are to be learned.
    std::set<std::pair<std::string, DigestBytes>> chosen;
    for (const PendingLesson& lesson : group) chosen.emplace(lesson.user, lesson.digest);
    for (const PendingLesson& lesson : domain.PendingLessons(true)) {
      if (chosen.count({lesson.user, lesson.digest}) == 0) continue;
      const std::optional<std::vector<uint64_t>> tokens = UnpackTokenKeys(lesson.tokens);
      if (!tokens) throw EngineError(kErrorCorruptDatabase, "", "a waiting lesson's tokens are damaged");
      domain.DropPendingLesson(lesson.user, lesson.digest);
      MessageDigest waiting_digest;
      waiting_digest.key = lesson.digest;
      if (ApplyLesson(domain, *tokens, waiting_digest, lesson.keys, lesson.is_spam, false) != LessonResult::kAlreadyKnown) {
        ++outcome.taught;
      }
    }
  }
  domain.Commit();
  return outcome;
}

}  // namespace varnolt::engine
