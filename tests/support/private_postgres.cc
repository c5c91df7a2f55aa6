#include "support/private_postgres.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <sstream>

namespace varnolt::testing {
namespace {

namespace fs = std::filesystem;

// The newest server of Debian's layout, else initdb on the PATH.
std::string FindBinFolder() {
  std::string best;
  int best_version = -1;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const std::string name = entry.path().filename().string();
    const int version = std::atoi(name.c_str());
    if (version > best_version && fs::exists(entry.path() / "bin" / "initdb")) {
      best_version = version;
      best = (entry.path() / "bin").string();
    }
  }
  if (!best.empty()) return best;
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (!folder.empty() && fs::exists(fs::path(folder) / "initdb") && fs::exists(fs::path(folder) / "pg_ctl")) {
      return folder;
    }
  }
  return "";
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string ReadTail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  return s.size() > 600 ? s.substr(s.size() - 600) : s;
}

}  // namespace

std::unique_ptr<PrivatePostgres> PrivatePostgres::Start(const Options& options, std::string* why) {
  std::unique_ptr<PrivatePostgres> server(new PrivatePostgres());
  server->durable_ = options.durable;
  server->bin_ = FindBinFolder();
  if (server->bin_.empty()) {
    *why = "no initdb (install the postgresql package: scripts/setup)";
    return nullptr;
  }
  if (::geteuid() == 0) {
    const passwd* user = ::getpwnam("postgres");
    if (user == nullptr) {
      *why = "running as root and there is no postgres user to run the server as";
      return nullptr;
    }
    server->owner_uid_ = static_cast<int>(user->pw_uid);
    server->owner_gid_ = static_cast<int>(user->pw_gid);
  }
  char folder[] = "/tmp/varnolt-pg-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    *why = "cannot make a temporary folder";
    return nullptr;
  }
  server->folder_ = folder;
  if (server->owner_uid_ >= 0 && ::chown(folder, server->owner_uid_, server->owner_gid_) != 0) {
    *why = "cannot hand the temporary folder to the postgres user";
    return nullptr;
  }
  server->port_ = FreeLoopbackPort();
  if (!server->RunAsOwner("initdb", {"-D", server->folder_ + "/data", "-A", "trust", "-U", "postgres", "--no-sync",
                                     "-E", "UTF8", "--locale=C"},
                          why) ||
      !server->StartServer(why)) {
    return nullptr;
  }
  return server;
}

PrivatePostgres::~PrivatePostgres() {
  if (running_) {
    std::string ignored;
    RunAsOwner("pg_ctl", {"-D", folder_ + "/data", "-m", "immediate", "-w", "stop"}, &ignored);
  }
  if (!folder_.empty()) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
}

bool PrivatePostgres::RunAsOwner(const std::string& program, const std::vector<std::string>& args,
                                 std::string* why) const {
  const std::string path = bin_ + "/" + program;
  const std::string log = folder_ + "/" + program + ".out";
  std::vector<std::string> argv_text = {path};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    *why = "cannot fork";
    return false;
  }
  if (pid == 0) {
    if (owner_uid_ >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(owner_gid_) != 0 || ::setuid(owner_uid_) != 0)) {
      ::_exit(126);
    }
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *why = program + " failed: " + ReadTail(log) + ReadTail(folder_ + "/server.log");
  return false;
}

bool PrivatePostgres::StartServer(std::string* why) {
  std::string settings = "-k " + folder_ + " -p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1";
  if (!durable_) settings += " -c fsync=off -c full_page_writes=off";
  running_ = RunAsOwner("pg_ctl", {"-D", folder_ + "/data", "-l", folder_ + "/server.log", "-o", settings, "-w", "-t",
                                   "60", "start"},
                        why);
  return running_;
}

bool PrivatePostgres::Stop() {
  std::string ignored;
  running_ = !RunAsOwner("pg_ctl", {"-D", folder_ + "/data", "-m", "fast", "-w", "stop"}, &ignored);
  return !running_;
}

bool PrivatePostgres::Restart() {
  std::string ignored;
  return StartServer(&ignored);
}

std::string PrivatePostgres::ConnectionString(const std::string& database) const {
  return "host=" + folder_ + " port=" + std::to_string(port_) + " user=postgres dbname=" + database;
}

std::string PrivatePostgres::TcpConnectionString(const std::string& database) const {
  return "host=127.0.0.1 port=" + std::to_string(port_) + " user=postgres dbname=" + database;
}

}  // namespace varnolt::testing
