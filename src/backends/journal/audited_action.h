// What an administrator did to a message from the dashboard (a release from
// the junk folder, a message sent there): the journal keeps one row per
// action beside its records, never pruned, as an audit trail should not age
// out with the verdicts.
#pragma once

#include <cstdint>
#include <string>

namespace varnolt::journal {

struct AuditedAction {
  int64_t time = 0;       // seconds since the epoch, UTC
  std::string who;        // the administrator's login name, "admin" when none was given
  int64_t record_id = 0;  // the verdict record acted on
  std::string action;     // "to_inbox" or "to_junk"
  std::string outcome;    // "moved", "already", "gone" or "failed"
  std::string detail;     // what the administrator was told

  bool operator==(const AuditedAction&) const = default;
};

}  // namespace varnolt::journal
