// Who decides a delivered message: mail submitted inside the organisation and
// mail from a whitelisted sender are trusted as HAM without asking the engine;
// the engine judges the rest. The filter acts on this answer; `explain` asks
// the same question in a dry run, so the two cannot tell different stories.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/reporter.h"
#include "platform/save_verdict.h"
#include "platform/text_files.h"
#include "store/record.h"

namespace varnolt {

struct TrustAnswer {
  DecidedBy decided_by = DecidedBy::kEngine;  // kInternal, kWhitelist or kEngine
  std::string sender;  // the address searched in the whitelist; "" when it was not searched
};

// Internal: address type "EX" and no transport headers. Whitelisted: with
// use_white_list not 0, a sender address (GetSenderAddress) that is on the
// user's whitelist beside dat_path (InWhiteList). Failures of the readers are
// reported through the reporter and read as "not trusted"; nothing is written.
TrustAnswer WhoDecides(Reporter& reporter, TextFiles& files, Record& record, const std::string& dat_path,
                       int32_t use_white_list);

}  // namespace varnolt
