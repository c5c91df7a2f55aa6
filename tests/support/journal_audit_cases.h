// The dashboard's audit trail, run against each backend: actions on two
// records, read back per record in the order taken.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "backends/journal/journal.h"

namespace varnolt::testing {

inline void ExpectAuditTrail(journal::Journal& journal) {
  using journal::AuditedAction;
  EXPECT_TRUE(journal.ActionsOn(1).empty());  // none before the first action
  const std::vector<AuditedAction> actions = {
      {1796637900, "helpdesk", 1, "to_inbox", "moved", "Moved to the Inbox."},
      {1796637960, "admin", 2, "to_junk", "failed", "doveadm said: it's \"gone\"; DROP TABLE x"},
      {1796638020, "ops", 1, "to_inbox", "already", "Already in the Inbox."},
  };
  for (const AuditedAction& action : actions) journal.RecordAction(action);
  struct Case {
    int64_t record_id;
    std::vector<AuditedAction> expected;
  } cases[] = {
      {1, {actions[0], actions[2]}},
      {2, {actions[1]}},
      {3, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record_id);
    EXPECT_EQ(c.expected, journal.ActionsOn(c.record_id));
  }
}

}  // namespace varnolt::testing
