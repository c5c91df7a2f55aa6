// Who a client is, for the bounds that count per client: its IPv4 address,
// or the /64 prefix of its IPv6 address (one host is handed a whole /64, so
// counting its addresses one by one would bound nothing).
#pragma once

#include <string>

namespace varnolt::http {

// "192.0.2.7" stays; "2001:db8:1:2:aaaa::7" becomes "2001:db8:1:2::/64".
std::string ClientOf(const std::string& address);

}  // namespace varnolt::http
