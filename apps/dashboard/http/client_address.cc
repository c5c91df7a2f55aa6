#include "dashboard/http/client_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace varnolt::http {

std::string ClientOf(const std::string& address) {
  in6_addr v6{};
  if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
  std::memset(reinterpret_cast<unsigned char*>(&v6) + 8, 0, 8);
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(AF_INET6, &v6, text, sizeof text);
  return std::string(text) + "/64";
}

}  // namespace varnolt::http
