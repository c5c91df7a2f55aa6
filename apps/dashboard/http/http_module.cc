// libvarnolt_http.so: the HTTP server of `varnolt serve` over cpp-httplib.
// cpp-httplib parses requests, routes them and writes the answers; the
// connection gate (connection_gate.h) owns the sockets, so that idle and
// slow clients cannot take its threads. Requests are handed to the
// command's handler one at a time: GET, HEAD and POST (the handler takes a
// form only where an administrator acts, and refuses it elsewhere).
#include <errno.h>
#include <netdb.h>
#include <signal.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "dashboard/http/client_address.h"
#include "dashboard/http/connection_gate.h"
#include "dashboard/http/memory_stream.h"
#include "dashboard/http/request_frame.h"
#include "dashboard/http_service.h"

namespace {

using varnolt::dashboard::HttpHandler;
using varnolt::dashboard::HttpRequest;
using varnolt::dashboard::HttpResponse;
using varnolt::dashboard::HttpServeOptions;

// The answer's hold-back, set by the handler, read by the worker that runs it.
thread_local int* current_delay_ms = nullptr;

// A server whose request processing the gate drives (cpp-httplib keeps it
// for its own accept loop otherwise).
template <class Base>
class GatedServer : public Base {
 public:
  using Base::Base;
  bool Process(httplib::Stream& stream, bool last, bool& closed) {
    return this->process_request(stream, last, closed, nullptr);
  }
};

void Answer(HttpHandler& handler, std::mutex& lock, const httplib::Request& in, httplib::Response& out) {
  HttpRequest request;
  request.method = in.method;
  request.path = in.path;
  for (const auto& [name, value] : in.params) request.query.emplace(name, value);
  request.authorization = in.get_header_value("Authorization");
  request.remote_address = in.remote_addr;
  request.client = varnolt::http::ClientOf(in.remote_addr);
  if (in.method == "POST" && in.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
    httplib::Params form;
    httplib::detail::parse_query_text(in.body, form);
    for (const auto& [name, value] : form) request.form.emplace(name, value);
  }
  HttpResponse response;
  try {
    std::lock_guard<std::mutex> guard(lock);
    response = handler.Handle(request);
  } catch (const std::exception& error) {
    response = {500, "text/plain; charset=utf-8", std::string("internal error: ") + error.what() + "\n", {}, 0};
  }
  out.status = response.status;
  for (const auto& [name, value] : response.headers) out.set_header(name, value);
  out.set_content(response.body, response.content_type);
  if (current_delay_ms) *current_delay_ms = response.delay_ms;
}

void Route(httplib::Server& server, HttpHandler* handler, std::mutex& lock) {
  server.Get(".*", [handler, &lock](const httplib::Request& in, httplib::Response& out) {
    Answer(*handler, lock, in, out);
  });
  server.Post(".*", [handler, &lock](const httplib::Request& in, httplib::Response& out) {
    Answer(*handler, lock, in, out);
  });
  auto refuse = [](const httplib::Request&, httplib::Response& out) {
    out.status = 405;
    out.set_header("Allow", "GET, HEAD");
    out.set_content("only GET and HEAD (and POST where the dashboard acts)\n", "text/plain; charset=utf-8");
  };
  server.Put(".*", refuse);
  server.Patch(".*", refuse);
  server.Delete(".*", refuse);
  server.Options(".*", refuse);
  server.set_payload_max_length(varnolt::http::kMaxRequestBody);
}

// The listening socket: SO_REUSEADDR (a restart may bind while old
// connections linger) but never SO_REUSEPORT, so that a second server on a
// port in use fails instead of sharing its requests.
int Listen(const HttpServeOptions& options, std::string* error) {
  const std::string where = (options.address.find(':') != std::string::npos ? "[" + options.address + "]"
                                                                              : options.address) +
                            ":" + std::to_string(options.port);
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(options.address.c_str(), std::to_string(options.port).c_str(), &hints, &found) != 0 || !found) {
    *error = "cannot listen on " + where + ": not a numeric address";
    return -1;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = "cannot listen on " + where + ": " + strerror(errno);
    return -1;
  }
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 511) != 0) {
    const int why = errno;
    close(fd);
    *error = "cannot listen on " + where + ": " +
             (why == EADDRINUSE ? std::string("the port is in use (by another varnolt serve or another program)")
                                : std::string(strerror(why)));
    return -1;
  }
  return fd;
}

int LocalPort(int fd) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
  return local.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port)
                                     : ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
}

template <class Server>
varnolt::http::Answerer AnswererFor(Server& server) {
  return [&server](varnolt::http::Exchange& exchange) {
    varnolt::http::MemoryStream stream(*exchange.in, *exchange.out, exchange.remote_address, exchange.remote_port,
                                       exchange.local_address, exchange.local_port);
    current_delay_ms = exchange.delay_ms;
    bool closed = false;
    const bool answered = server.Process(stream, exchange.last, closed);
    current_delay_ms = nullptr;
    exchange.in->erase(0, stream.consumed());
    return answered && !closed;
  };
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int VarnoltHttpServe(const HttpServeOptions& options,
                                                                       HttpHandler* handler, std::string* error) {
  std::mutex lock;
  std::unique_ptr<GatedServer<httplib::Server>> plain;
  std::unique_ptr<GatedServer<httplib::SSLServer>> tls;
  varnolt::http::Answerer answer;
  if (options.tls_certificate.empty()) {
    plain = std::make_unique<GatedServer<httplib::Server>>();
    Route(*plain, handler, lock);
    answer = AnswererFor(*plain);
  } else {
    tls = std::make_unique<GatedServer<httplib::SSLServer>>(options.tls_certificate.c_str(),
                                                            options.tls_key.c_str());
    if (!tls->is_valid()) {
      *error = "cannot use the TLS certificate " + options.tls_certificate + " with the key " + options.tls_key +
               " (unreadable, not PEM, or not a pair)";
      return 1;
    }
    SSL_CTX* context = tls->ssl_context();
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // The gate writes from a buffer that may move between tries, a part at a time.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    Route(*tls, handler, lock);
    answer = AnswererFor(*tls);
  }

  // The signals end the server from a thread of their own: stopping from a
  // signal handler would not be safe.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // A client gone mid-answer makes a write fail with EPIPE instead of ending
  // the server (OpenSSL writes to the socket without MSG_NOSIGNAL).
  signal(SIGPIPE, SIG_IGN);

  const int listen_fd = Listen(options, error);
  if (listen_fd < 0) return 1;
  const int stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::atomic<bool> finished{false};
  std::thread stopper([stop_fd, stop_signals, &finished] {
    int which = 0;
    sigwait(&stop_signals, &which);
    if (finished) return;
    const uint64_t one = 1;
    if (write(stop_fd, &one, sizeof one) < 0) {
      // Cannot fail on a fresh eventfd.
    }
  });
  handler->Listening(LocalPort(listen_fd));
  varnolt::http::RunGate(listen_fd, stop_fd, tls ? tls->ssl_context() : nullptr, {}, answer);
  // Ended without a signal: wake the waiting thread.
  finished = true;
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  close(stop_fd);
  close(listen_fd);
  return 0;
}
