// What a user's correction decides from then on: the corrected message, and
// any near-duplicate of it (the next issue of a newsletter, the same campaign
// with another Message-ID, date or line), is judged in that user's mailbox
// as the user said, whatever the counts and the fit say. A user who moved a
// message into the junk folder never sees it back in the Inbox.
//
// Near-duplicates are found on the messages' key records (key_record.h): the
// smallest keys of each message's tokens, a consistent sample of them, so
// that the share of the keys two records hold in common estimates the share
// of the tokens the two messages share. Only the user's own corrections
// count, never the domain's: the rule is each user's own. Which correction
// matches depends only on the set of corrections and the message, never on
// the order they were made in.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/feature_hash.h"
#include "engine/spam_model.h"

namespace varnolt::engine {

// The share of keys two records have in common, from 0 to 1: the Jaccard
// index of the two sets, estimated on the keys below the point both records
// reach (a full record stops at its largest key).
double KeySimilarity(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);

// From this similarity on a message is a near-duplicate of a corrected one.
// On the SpamAssassin development groups (bench/tools/near_duplicates.cc,
// 3,250 messages): the next issue of a message (a new Message-ID and date,
// one line more) reaches it for 99.85% of them, while no message comes as
// close to any message of the other class (the closest pairs across the
// classes stay below 0.6); 8% have a message of their own class this close.
constexpr double kNearDuplicateSimilarity = 0.8;

struct CorrectionMatch {
  bool is_spam = false;
  bool exact = false;      // the corrected message itself
  double similarity = 0;   // of its key record to the corrected message's (1 when exact)
};

// The correction that decides the message: the message itself when it was
// corrected, else the most similar corrected message from threshold on
// (ties: the smaller digest). record holds the message's record keys
// (RecordKeys). Damaged stored records are passed over.
std::optional<CorrectionMatch> MatchCorrection(const MessageDigest& digest, const std::vector<uint32_t>& record,
                                               const std::vector<Correction>& corrections,
                                               double threshold = kNearDuplicateSimilarity);

// The user's corrections in model, read in a transaction of their own.
std::vector<Correction> ReadCorrections(SpamModel* model);

}  // namespace varnolt::engine
