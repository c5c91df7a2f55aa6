// libvarnolt_http.so: the HTTP server of `varnolt serve` over cpp-httplib.
// Requests are handed to the command's handler one at a time; only GET and
// HEAD reach it, so nothing served here can change anything.
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "dashboard/http_service.h"

namespace {

using varnolt::cli::HttpHandler;
using varnolt::cli::HttpRequest;
using varnolt::cli::HttpResponse;

void Answer(HttpHandler& handler, std::mutex& lock, const httplib::Request& in, httplib::Response& out) {
  HttpRequest request;
  request.method = in.method;
  request.path = in.path;
  for (const auto& [name, value] : in.params) request.query.emplace(name, value);
  request.authorization = in.get_header_value("Authorization");
  HttpResponse response;
  try {
    std::lock_guard<std::mutex> guard(lock);
    response = handler.Handle(request);
  } catch (const std::exception& error) {
    response = {500, "text/plain; charset=utf-8", std::string("internal error: ") + error.what() + "\n", {}};
  }
  out.status = response.status;
  for (const auto& [name, value] : response.headers) out.set_header(name, value);
  out.set_content(response.body, response.content_type);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int VarnoltHttpServe(const char* host, int port,
                                                                       HttpHandler* handler, std::string* error) {
  httplib::Server server;
  std::mutex lock;
  auto answer = [handler, &lock](const httplib::Request& in, httplib::Response& out) {
    Answer(*handler, lock, in, out);
  };
  server.Get(".*", answer);
  auto refuse = [](const httplib::Request&, httplib::Response& out) {
    out.status = 405;
    out.set_header("Allow", "GET, HEAD");
    out.set_content("read-only: only GET and HEAD\n", "text/plain; charset=utf-8");
  };
  server.Post(".*", refuse);
  server.Put(".*", refuse);
  server.Patch(".*", refuse);
  server.Delete(".*", refuse);
  server.Options(".*", refuse);
  server.set_payload_max_length(64 * 1024);
  server.set_keep_alive_max_count(20);

  // The signals end the server from a thread of their own: stopping from a
  // signal handler would not be safe.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound < 0) {
    *error = std::string("cannot listen on ") + host + ":" + std::to_string(port) + " (address in use or not local)";
    return 1;
  }
  std::atomic<bool> signalled{false};
  std::thread stopper([&server, &signalled, stop_signals] {
    int which = 0;
    sigwait(&stop_signals, &which);
    signalled = true;
    server.stop();
  });
  handler->Listening(bound);
  const bool clean = server.listen_after_bind();
  // Ended without a signal: wake the waiting thread.
  if (!signalled) pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return clean ? 0 : 1;
}
