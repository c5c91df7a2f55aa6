// Tokens of a message's transport headers, tagged with the header they came from.
#pragma once

#include <string_view>

#include "engine/text_tokens.h"
#include "engine/token_sink.h"

namespace varnolt::engine {

// The header block as received: fields "Name: value", folded lines start with
// a blank, the block ends at the first empty line. Adds "hdr:" + the name of
// every field and tagged tokens from the fields that carry signal (subject,
// senders, Received hosts and addresses, content type, message-id domain,
// mailer, ...).
void AddHeaderTokens(std::string_view header, const WordLimits& limits, TokenSink& sink);

}  // namespace varnolt::engine
