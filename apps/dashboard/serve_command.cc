// `serve`: the read-only dashboard of the home over HTTP.
#include <dlfcn.h>

#include <filesystem>

#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "dashboard/dashboard_server.h"
#include "dashboard/http_service.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

struct ListenAddress {
  std::string host;
  int port = 0;
};

ListenAddress ParseListen(const std::string& text) {
  ListenAddress address;
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) {
    throw UsageError("--listen takes HOST:PORT (like 127.0.0.1:8025), not '" + text + "'");
  }
  address.host = text.substr(0, colon);
  if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  const std::string port = text.substr(colon + 1);
  if (address.host.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) > 65535) {
    throw UsageError("--listen takes HOST:PORT (like 127.0.0.1:8025), not '" + text + "'");
  }
  address.port = std::stoi(port);
  return address;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

std::string LocateHttpModule() {
  std::error_code error;
  const fs::path dir = fs::read_symlink("/proc/self/exe", error).parent_path();
  if (error) throw CommandError("cannot tell where this program lives: " + error.message());
  for (const fs::path& candidate :
       {dir / kHttpModuleName, dir / ".." / ".." / kHttpModuleName, dir / ".." / "lib" / kHttpModuleName}) {
    std::error_code ignored;
    if (fs::is_regular_file(candidate, ignored)) return candidate.lexically_normal().string();
  }
  throw CommandError(std::string("cannot find ") + kHttpModuleName + " beside " + dir.string() +
                     " (it is built when libcpp-httplib-dev is installed)");
}

void RunServe(Session& session, const std::string& listen) {
  const ListenAddress address = ParseListen(listen);
  const HomeConfig& config = session.Config();
  if (!IsLoopback(address.host) && config.serve_password.empty()) {
    throw CommandError("the dashboard listens on " + address.host +
                       ", beyond this machine, only with a password: set [serve] password in " + config.home +
                       "/varnolt.conf (or listen on 127.0.0.1)");
  }
  session.DataFolder();  // says once when the data folder is missing, before the first request
  const std::string module = LocateHttpModule();
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw CommandError("cannot load " + module + ": " + (why ? why : "unknown error"));
  }
  auto serve = reinterpret_cast<VarnoltHttpServeFunction>(dlsym(handle, kHttpServeSymbol));
  if (!serve) throw CommandError(module + " has no entry point " + kHttpServeSymbol);
  DashboardHandler handler(session, config.serve_password, address.host);
  std::string error;
  if (serve(address.host.c_str(), address.port, &handler, &error) != 0) throw CommandError(error);
}

}  // namespace

void AddServeCommand(CLI::App& app, Session& session) {
  auto listen = std::make_shared<std::string>("127.0.0.1:8025");
  CLI::App* serve = app.add_subcommand(
      "serve", "A read-only web dashboard of the home: verdicts, corrections, mailboxes, explanations, settings; "
               "/metrics for Prometheus and /api/... JSON");
  serve->add_option("--listen", *listen,
                    "HOST:PORT to listen on (port 0: any free one). Beyond loopback only with [serve] password "
                    "in varnolt.conf")
      ->capture_default_str();
  serve->footer(
      "Pages: / (the dashboard), /explain?id=N, /metrics, /api/summary, /api/mailboxes, /api/verdicts?limit=N,\n"
      "/api/explain?id=N, /api/settings. With [serve] password set every request needs it (HTTP basic\n"
      "authentication, any user name). SIGINT or SIGTERM stops the server.");
  serve->callback([&session, listen] { RunServe(session, *listen); });
}

}  // namespace varnolt::cli
