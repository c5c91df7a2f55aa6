// The server's front: one thread accepts connections and reads each request
// whole, within a deadline, before a worker sees it; workers answer from
// memory, and the same thread sends the answers. So an idle or slow client
// costs a socket and a few bytes, never a worker, and a fresh request is
// answered however many of them are connected. Connections per client
// address are bounded; at the bound on all connections the one that has
// waited longest for its request makes room.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <functional>
#include <string>

namespace varnolt::http {

struct GateLimits {
  int per_address = 16;                            // connections of one client (client_address.h)
  int total = 1000;                                // all connections (lowered to the open-file limit)
  std::chrono::milliseconds request{10000};        // from connect or the last answer to the whole next request
  std::chrono::milliseconds answer{30000};         // to send an answer
  int requests_per_connection = 100;               // then the connection is closed
  int workers = 4;
};

// What a worker does with one complete request: reads it from in (erasing
// what it used), appends the answer to *out and says whether the connection
// must close after it; *delay_ms holds the answer back (a failed login).
struct Exchange {
  std::string* in;
  std::string* out;
  const std::string& remote_address;
  int remote_port;
  const std::string& local_address;
  int local_port;
  bool last;  // the connection closes after this answer whatever the client asked
  int* delay_ms;
};
using Answerer = std::function<bool(Exchange& exchange)>;  // false: close after the answer

// Serves on the listening socket (non-blocking) until stop_fd (an eventfd)
// becomes readable. tls: the context of HTTPS, null for plain HTTP.
void RunGate(int listen_fd, int stop_fd, SSL_CTX* tls, const GateLimits& limits, const Answerer& answer);

}  // namespace varnolt::http
