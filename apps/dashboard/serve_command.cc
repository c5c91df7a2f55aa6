// `serve`: the dashboard of the home over HTTP or HTTPS.
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

#include "dashboard/dashboard_server.h"
#include "dashboard/http_service.h"
#include "dashboard/password_hash.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"

namespace varnolt::dashboard {
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
    throw cli::UsageError("--listen takes HOST:PORT (like 127.0.0.1:8025), not '" + text + "'");
  }
  address.host = text.substr(0, colon);
  if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  const std::string port = text.substr(colon + 1);
  if (address.host.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) > 65535) {
    throw cli::UsageError("--listen takes HOST:PORT (like 127.0.0.1:8025), not '" + text + "'");
  }
  address.port = std::stoi(port);
  return address;
}

// The address a name stands for, numeric, as the server will bind it: the
// loopback rule is applied to it, never to the name (a name that begins with
// "127." may resolve anywhere).
struct ResolvedAddress {
  std::string numeric;
  bool loopback = false;
};

ResolvedAddress Resolve(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0 || !found) {
    throw hosting::CommandError("cannot listen on " + host + ": " + (status ? gai_strerror(status) : "no address"));
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
  char text[NI_MAXHOST] = "";
  getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
  ResolvedAddress resolved{text, false};
  if (found->ai_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    resolved.loopback = (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  } else if (found->ai_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
    resolved.loopback = IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr) ||
                        (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == 127);
  }
  return resolved;
}

std::string UrlHost(const std::string& numeric) {
  return numeric.find(':') != std::string::npos ? "[" + numeric + "]" : numeric;
}

// A password, or its hash, in a file every local user can read is no secret.
void RefuseReadableSecret(const std::string& config_path) {
  struct stat info {};
  if (stat(config_path.c_str(), &info) != 0) return;  // a home without varnolt.conf holds no password
  if ((info.st_mode & (S_IROTH | S_IWOTH)) != 0) {
    throw hosting::CommandError(config_path +
                                " holds the dashboard's password and every user of this machine can read it: " +
                                "make it private first (chmod o-rwx " + config_path + ")");
  }
}

std::string LocateHttpModule() {
  std::error_code error;
  const fs::path dir = fs::read_symlink("/proc/self/exe", error).parent_path();
  if (error) throw hosting::CommandError("cannot tell where this program lives: " + error.message());
  for (const fs::path& candidate :
       {dir / kHttpModuleName, dir / ".." / ".." / kHttpModuleName, dir / ".." / "lib" / kHttpModuleName}) {
    std::error_code ignored;
    if (fs::is_regular_file(candidate, ignored)) return candidate.lexically_normal().string();
  }
  throw hosting::CommandError(std::string("cannot find ") + kHttpModuleName + " beside " + dir.string() +
                              " (it is built when libcpp-httplib-dev is installed)");
}

// The password from the terminal (twice, not echoed) or one line of stdin.
std::string ReadNewPassword() {
  std::string password;
  if (isatty(STDIN_FILENO)) {
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    termios quiet = before;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string again;
    std::cerr << "Password: " << std::flush;
    std::getline(std::cin, password);
    std::cerr << "\nAgain: " << std::flush;
    std::getline(std::cin, again);
    std::cerr << std::endl;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    if (password != again) throw hosting::CommandError("the two passwords differ; nothing was hashed");
  } else {
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }
  if (password.empty()) throw hosting::CommandError("an empty password protects nothing; nothing was hashed");
  return password;
}

void RunHashPassword() {
  std::cout << HashPassword(ReadNewPassword()) << "\n"
            << std::flush;
  std::cerr << "varnolt: put it in varnolt.conf as [serve] password_hash = <the line above>" << std::endl;
}

void RunServe(cli::Session& session, const std::string& listen) {
  const ListenAddress address = ParseListen(listen);
  const hosting::HomeConfig& config = session.Config();
  const std::string config_path = config.home + "/" + hosting::kConfigFileName;
  const bool has_password = !config.serve_password.empty() || !config.serve_password_hash.empty();
  if (!config.serve_password_hash.empty() && !IsStrongPasswordHash(config.serve_password_hash)) {
    throw hosting::CommandError(config_path +
                                ": [serve] password_hash is no yescrypt, bcrypt or SHA-512 crypt hash; make " +
                                "one with `varnolt serve --hash-password`");
  }
  const ResolvedAddress resolved = Resolve(address.host);
  if (!resolved.loopback && !has_password) {
    throw hosting::CommandError("the dashboard listens on " + address.host +
                                (resolved.numeric == address.host ? "" : " (" + resolved.numeric + ")") +
                                ", beyond this machine, only with a password: set [serve] password_hash in " +
                                config_path + " (`varnolt serve --hash-password` makes one) or listen on 127.0.0.1");
  }
  if (has_password) RefuseReadableSecret(config_path);
  struct stat key_info {};
  if (!config.serve_tls_key.empty() && stat(config.serve_tls_key.c_str(), &key_info) == 0 &&
      (key_info.st_mode & S_IROTH) != 0) {
    std::cerr << "varnolt: warning: every user of this machine can read the TLS key " << config.serve_tls_key
              << " (chmod o-rwx " << config.serve_tls_key << ")" << std::endl;
  }
  if (!config.serve_password.empty() && config.serve_password_hash.empty()) {
    std::cerr << "varnolt: warning: [serve] password is kept in plain text in " << config_path
              << "; replace it with [serve] password_hash (`varnolt serve --hash-password` makes one)" << std::endl;
  }
  session.DataFolder();  // says once when the data folder is missing, before the first request
  const std::string module = LocateHttpModule();
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw hosting::CommandError("cannot load " + module + ": " + (why ? why : "unknown error"));
  }
  auto serve = reinterpret_cast<VarnoltHttpServeFunction>(dlsym(handle, kHttpServeSymbol));
  if (!serve) throw hosting::CommandError(module + " has no entry point " + kHttpServeSymbol);
  HttpServeOptions options;
  options.address = resolved.numeric;
  options.port = address.port;
  options.tls_certificate = config.serve_tls_certificate;
  options.tls_key = config.serve_tls_key;
  const std::string scheme = options.tls_certificate.empty() ? "http://" : "https://";
  // The hash wins over a plain password left beside it.
  DashboardHandler handler(session, config.serve_password_hash.empty() ? config.serve_password : "",
                           config.serve_password_hash, scheme + UrlHost(resolved.numeric),
                           hosting::LoadServeSettings(config_path));
  std::string error;
  if (serve(options, &handler, &error) != 0) throw hosting::CommandError(error);
}

}  // namespace
}  // namespace varnolt::dashboard

namespace varnolt::cli {

// The command belongs to the command line; what it runs is the dashboard's.
void AddServeCommand(CLI::App& app, Session& session) {
  auto listen = std::make_shared<std::string>("127.0.0.1:8025");
  auto hash_password = std::make_shared<bool>(false);
  CLI::App* serve = app.add_subcommand(
      "serve", "A web dashboard of the home: verdicts, corrections, mailboxes, explanations, settings; "
               "/metrics for Prometheus and /api/... JSON; with a password, a record's message moved to the "
               "Inbox or the junk folder");
  serve->add_option("--listen", *listen,
                    "HOST:PORT to listen on (port 0: any free one; [::1]:PORT for IPv6). Beyond loopback only "
                    "with a password in varnolt.conf")
      ->capture_default_str();
  serve->add_flag("--hash-password", *hash_password,
                  "Read a password (from the terminal, or one line of stdin), print its hash for [serve] "
                  "password_hash and exit");
  serve->footer(
      "Pages: / (the dashboard; /?before=N: older verdicts), /explain?id=N, /metrics, /api/summary,\n"
      "/api/mailboxes, /api/verdicts?limit=N&before=N, /api/explain?id=N, /api/settings.\n"
      "varnolt.conf [serve]: password_hash (from --hash-password; or password, in plain text) makes every\n"
      "request need it (HTTP basic authentication, any user name); failed logins are logged and slowed.\n"
      "tls_certificate and tls_key (PEM files) serve HTTPS. With a password, /explain?id=N can move the\n"
      "message as its user (POST /release, audited); doveadm (its path and options) does it for Dovecot.\n"
      "SIGINT or SIGTERM stops the server.");
  serve->callback([&session, listen, hash_password] {
    if (*hash_password) {
      dashboard::RunHashPassword();
    } else {
      dashboard::RunServe(session, *listen);
    }
  });
}

}  // namespace varnolt::cli
