// One message learned into one model, inside a write the caller holds: the
// step that every lesson shares, whoever teaches it (a user, a trusted
// sender's mail, the engine's own verdict, users agreeing for their domain).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/feature_hash.h"
#include "engine/spam_model.h"

namespace varnolt::engine {

enum class LessonResult { kLearned, kMoved, kAlreadyKnown };

// Inside a write on model: learns the message (its sorted token ids, digest
// and packed key record) as is_spam. A message known as that class changes
// nothing; one known as the other class moves; the engine's own verdict
// (automatic) never moves what was taught, and a lesson taught over an own
// verdict makes it taught. Counts the change since the last fit.
LessonResult ApplyLesson(SpamModel& model, const std::vector<uint64_t>& ids, const MessageDigest& digest,
                         const std::string& keys, bool is_spam, bool automatic);

}  // namespace varnolt::engine
