// The special folders of a mailbox the filter needs to recognise.
#pragma once

#include <string>

#include "host/interfaces.h"
#include "store/record.h"

namespace varnolt {

// The URL of the user's Deleted Items folder as the mailbox root names it;
// "" with a "Detection of WasteBasket failed: " report (source "domain/user")
// when it cannot be read. Never creates anything.
std::string DetectWasteBasket(IExchangeFilter& filter, Connection& connection, const std::string& domain,
                              const std::string& user);

}  // namespace varnolt
