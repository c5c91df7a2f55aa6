// The special folders of a mailbox the filter needs to recognise.
#pragma once

#include <string>

#include "diagnostics/reporter.h"
#include "store/record.h"

namespace varnolt {

// The URL of the user's Deleted Items folder as the mailbox root names it;
// "" with a "Detection of WasteBasket failed: " report (source "domain/user")
// when it cannot be read. Never creates anything.
std::string DetectWasteBasket(Reporter& reporter, Connection& connection, const std::string& domain,
                              const std::string& user);

// The URL of the user's Inbox as the mailbox root names it; "" when the root
// names none or cannot be read (the caller has its own answer then).
std::string DetectInbox(Connection& connection, const std::string& domain, const std::string& user);

}  // namespace varnolt
