// What the filter decided for one save event, as one value: the filter hands
// it to its host through the platform when the event ends, so that a host
// reports, journals and stores what the filter did without judging the
// message again, reading the item back or reading the filter's log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/spam_engine.h"

namespace varnolt {

// Who gave the verdict.
enum class DecidedBy {
  kNobody,     // no verdict: SaveVerdict::left says why
  kInternal,   // mail submitted inside the organisation: HAM without asking the engine
  kWhitelist,  // a sender on the user's whitelist: HAM without asking the engine
  kEngine,     // the spam engine
  kUser,       // the user's move corrected the verdict (the engine relearned it)
};

// Why an event ended without a new verdict.
enum class LeftBecause {
  kJudged,            // it did not: there is one
  kIgnoredEvent,      // flags the filter does not handle
  kNotAMessage,       // the item is no message
  kProviderMode,      // ProviderMode is on and the user is neither known nor announced
  kDeletedItems,      // the user moved it into Deleted Items
  kAgreesWithMarker,  // the user moved it where its marker says it belongs
  kNoMarker,          // the user moved an item the filter never marked
  kFailed,            // SaveVerdict::failure
};

// The failure that ended an event early.
struct VerdictFailure {
  bool in_engine = false;  // a call of the spam engine failed (else the store, a file, a setting)
  int32_t number = 0;
  std::string description;
};

struct SaveVerdict {
  std::string item_url;  // as the event named the item
  DecidedBy decided_by = DecidedBy::kNobody;
  LeftBecause left = LeftBecause::kJudged;
  std::optional<bool> is_spam;      // the verdict; none without one
  std::string sender;               // the address searched in the whitelist; "" when it was not
  std::optional<SpamScore> score;   // the engine's answer, when the engine was asked
  std::optional<int32_t> marker;    // the marker written; none when none was (or its write failed)
  std::string moved_to;             // the folder the filter moved the item into; "" when it stayed
  bool hidden = false;              // the filter hid the item
  std::optional<VerdictFailure> failure;
  // Every error the filter reported during the event, as its log's "Err: "
  // line says it (the failure's own report included).
  std::vector<std::string> errors;
};

// "internal", "whitelist", "engine", "user", or "" without a verdict.
inline const char* DecidedByName(DecidedBy decided_by) {
  switch (decided_by) {
    case DecidedBy::kInternal:
      return "internal";
    case DecidedBy::kWhitelist:
      return "whitelist";
    case DecidedBy::kEngine:
      return "engine";
    case DecidedBy::kUser:
      return "user";
    case DecidedBy::kNobody:
      break;
  }
  return "";
}

}  // namespace varnolt
