// Why the filter would judge a stored message as it does, in the order it
// decides: mail from inside the organisation is trusted, then a whitelisted
// sender (with UseWhiteList on), and only then the engine, whose score and
// strongest clues are given. The engine is asked now, so a model that has
// learned since the delivery may answer differently from the journal.
#pragma once

#include <string>

#include "engine/score_explanation.h"
#include "varnolt/json_output.h"
#include "varnolt/session.h"

namespace varnolt::cli {

struct ItemExplanation {
  std::string url;
  std::string mailbox;         // user@domain
  std::string decided_by;      // "internal", "whitelist" or "engine"
  std::string sender;          // the address the whitelist is searched for
  std::string marker;          // the item's marker now: "HAM", "SPAM" or ""
  engine::ScoreExplanation score;  // asked even when a rule decided, for comparison
  std::string models;          // the models the clues come from
};

// Explains the item at url; throws CommandError or ComError when it cannot be read.
ItemExplanation ExplainItem(Session& session, const std::string& url, size_t max_clues);

Json ExplanationJson(const ItemExplanation& explanation);
// "models: ..." : the models the engine consulted, with their sizes.
std::string ModelsText(const ItemExplanation& explanation);
std::string ExplanationText(const ItemExplanation& explanation);

}  // namespace varnolt::cli
