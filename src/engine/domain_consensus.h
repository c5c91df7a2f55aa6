// No single user steers a domain: a user's lesson (a correction, or a
// trusted sender's mail) teaches the domain's shared model only once enough
// distinct users of the domain taught the same message, or a near duplicate
// of it, as the same class. Until then it waits in the domain's model (one
// per user and message: a user who changes their mind replaces it), and its
// user's own model has it already.
//
// When a lesson brings the agreement, the domain learns every lesson of that
// group, its own and the waiting ones, and they stop waiting. A lesson the
// domain already holds as taught needs no agreement and never waits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/feature_hash.h"
#include "engine/spam_model.h"

namespace varnolt::engine {

// A near duplicate for agreement: at least this share of the larger record's keys are in both.
constexpr double kConsensusSharedKeys = 0.6;

// Whether two key records (ascending) are of one message, one campaign or
// one newsletter's issues: most of their keys shared. Empty records are like nothing.
bool ConsensusNearDuplicate(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);

// A message's token ids kept as the model's token keys (token_buckets.h):
// 4 bytes each, little-endian, ascending, distinct. What they unpack to
// learns the same counts as the ids themselves.
std::string PackTokenKeys(const std::vector<uint64_t>& ids);
// nullopt for bytes that are no such list.
std::optional<std::vector<uint64_t>> UnpackTokenKeys(std::string_view packed);

// The name a user's lessons wait under: the file name of the user's model.
std::string ConsensusUserOf(const std::string& dat_path);

struct ConsensusOutcome {
  int taught = 0;        // messages the domain learned or moved now
  bool waiting = false;  // the lesson waits for others
};

// In one write on the domain's model: offers the user's lesson on the message
// (its sorted token ids and digest) as is_spam, and teaches the domain the
// agreeing group once `needed` distinct users are in it (1: at once). Throws
// ComError as the model does; a failure keeps nothing of the write.
ConsensusOutcome OfferLessonToDomain(SpamModel& domain, const std::string& user, const std::vector<uint64_t>& ids,
                                     const MessageDigest& digest, bool is_spam, uint32_t needed, WriteSync sync);

}  // namespace varnolt::engine
