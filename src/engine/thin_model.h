// What a model that knows too little of one class may still say.
//
// Token probabilities need both classes: with no HAM learned, every token
// that one SPAM held looks like pure SPAM, and a model taught one spam calls
// all mail SPAM. So until the models hold enough messages of each class the
// engine answers with a middle score and files nothing, with one exception:
// a message nearly the same as SPAM the model was taught (most of its tokens
// known from SPAM, and its sender's tokens all among them) is SPAM, so that a
// user's first drag into the junk folder is heeded for that promotion at
// once. Meanwhile a message that shares little with the SPAM known may be
// learned as HAM from the engine's own verdict, so that the model finds the
// user's everyday mail without waiting for mistakes; never the other class.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/chi_square.h"
#include "engine/tokenizer.h"
#include "platform/spam_engine.h"

namespace varnolt::engine {

struct ThinModelOptions {
  // Messages of each class (the user's and the domain's together) before the
  // score counts.
  int min_each_class = 10;
  // The share of a message's tokens known from SPAM from which it is nearly
  // a message taught as SPAM (with its sender's tokens all known from SPAM).
  double duplicate_share = 0.75;
  // Below this share a message is unlike the SPAM known: a model still short
  // of HAM may learn it as HAM from its own verdict.
  double unlike_spam_share = 0.5;
};

// Whether the models hold enough of each class to be believed.
bool HasEvidence(const SpamCounts& evidence, const ThinModelOptions& options);

// The share of the tokens that SPAM held (0 for none).
double SpamShare(const std::vector<TokenCounts>& tokens);

// The ids of the message's sender tokens (those of its From field that the
// message's own ids hold, without the field's name); empty without a From.
std::vector<uint64_t> SenderIds(std::string_view header, const MessageFeatures& features,
                                const TokenizerOptions& options);

// True when every one of the sorted sender ids is among the sorted ids
// whose counts show SPAM; false for no sender ids.
bool SenderKnownAsSpam(const std::vector<uint64_t>& sender_ids, const std::vector<uint64_t>& ids,
                       const std::vector<TokenCounts>& counts);

}  // namespace varnolt::engine
