// The seam between `varnolt serve` and the HTTP server, which lives in a
// module of its own (libvarnolt_http.so, over cpp-httplib): the command loads
// it with dlopen only when it serves, so that the deliveries, one process per
// message, never load the HTTP, TLS and compression libraries.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace varnolt::dashboard {

struct HttpRequest {
  std::string method;  // "GET", "HEAD" or "POST"
  std::string path;    // without the query
  std::map<std::string, std::string> query;
  std::map<std::string, std::string> form;  // a POST's url-encoded fields
  std::string authorization;   // the Authorization header, "" when none
  std::string remote_address;  // the client's numeric address ("192.0.2.7", "2001:db8::7")
  std::string client;          // what limits count per client: the address, or an IPv6 address's /64
};

struct HttpResponse {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // Held back this long before it is sent (a failed login), without holding
  // up anybody else's request.
  int delay_ms = 0;
};

// Answers requests; called from the server's threads one at a time.
class HttpHandler {
 public:
  virtual ~HttpHandler() = default;
  virtual HttpResponse Handle(const HttpRequest& request) = 0;
  // Called once the server listens, with the port it got (port 0 asks for any free one).
  virtual void Listening(int port) = 0;
};

struct HttpServeOptions {
  std::string address;  // numeric: "127.0.0.1", "::1", "0.0.0.0"
  int port = 0;
  // Both set: HTTPS with this certificate chain and private key (PEM files).
  std::string tls_certificate;
  std::string tls_key;
};

// The module's entry point: serves until SIGINT or SIGTERM. Returns 0 after a
// clean stop, else 1 with *error saying why (the port is in use, the
// certificate cannot be read...).
using VarnoltHttpServeFunction = int (*)(const HttpServeOptions& options, HttpHandler* handler, std::string* error);
inline constexpr const char* kHttpServeSymbol = "VarnoltHttpServe";
inline constexpr const char* kHttpModuleName = "libvarnolt_http.so";

}  // namespace varnolt::dashboard
