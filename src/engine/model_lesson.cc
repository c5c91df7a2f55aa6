#include "engine/model_lesson.h"

namespace varnolt::engine {
namespace {

int32_t& CountOf(SpamCounts& counts, bool is_spam) { return is_spam ? counts.spam : counts.ham; }

TokenDelta DeltaFor(int sign, bool is_spam) {
  TokenDelta delta;
  (is_spam ? delta.spam : delta.ham) = sign;
  return delta;
}

}  // namespace

LessonResult ApplyLesson(SpamModel& model, const std::vector<uint64_t>& ids, const MessageDigest& digest,
                         const std::string& keys, bool is_spam, bool automatic) {
  const std::optional<LearnedMessage> before = model.FindMessage(digest);
  if (before && (before->is_spam == is_spam || automatic)) {
    // Taught now what it had guessed: a later guess must not move it.
    if (!automatic && before->automatic) model.PutMessage(digest, {is_spam, false, keys});
    return LessonResult::kAlreadyKnown;
  }
  SpamCounts counts = model.Counts();
  if (before) {
    model.Update(ids, DeltaFor(-1, before->is_spam));
    --CountOf(counts, before->is_spam);
  }
  model.Update(ids, DeltaFor(1, is_spam));
  ++CountOf(counts, is_spam);
  model.PutMessage(digest, {is_spam, automatic, keys});
  model.SetCounts(counts);
  model.SetChangesSinceFit(model.ChangesSinceFit() + 1);
  return before ? LessonResult::kMoved : LessonResult::kLearned;
}

}  // namespace varnolt::engine
