// How the user's own model and the shared model of the user's domain answer
// together: their counts added, the user's weighted up, so that the domain's
// mail teaches a new mailbox from its first message while the user's own
// lessons soon outweigh it on the user's own mail. Both stay sets of counts
// of their own, so each is still a function of the messages it learned.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/chi_square.h"
#include "platform/spam_engine.h"

namespace varnolt::engine {

// The counts of each token in both models: user_weight * user + domain.
// domain may be empty (no shared model), else as long as user.
std::vector<TokenCounts> MergeTokenCounts(const std::vector<TokenCounts>& user,
                                          const std::vector<TokenCounts>& domain, uint32_t user_weight);

// The numbers of messages, weighted the same way.
TokenCounts MergeMessageCounts(const SpamCounts& user, const SpamCounts& domain, uint32_t user_weight);

// The messages of each class that both models learned, unweighted: the
// evidence the models hold.
SpamCounts EvidenceOf(const SpamCounts& user, const SpamCounts& domain);

}  // namespace varnolt::engine
