// A PostgreSQL server of its own for a test or a benchmark, from Debian's
// postgresql package: a cluster made by initdb in a new temporary folder
// (as the postgres user when running as root, which initdb refuses), started
// by pg_ctl with its Unix socket in that folder and a free loopback port.
// Stopped, and the folder removed, when the object goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace varnolt::testing {

class PrivatePostgres {
 public:
  struct Options {
    // Flush every commit to disk as an installed server does (benchmarks);
    // tests run without, which changes no result.
    bool durable = false;
  };

  // A running server, or nullptr with the reason in *why (no postgresql
  // package, no postgres user while root, a cluster that would not start).
  static std::unique_ptr<PrivatePostgres> Start(const Options& options, std::string* why);
  ~PrivatePostgres();
  PrivatePostgres(const PrivatePostgres&) = delete;
  PrivatePostgres& operator=(const PrivatePostgres&) = delete;

  // libpq connection strings for a database, over the Unix socket or loopback TCP.
  std::string ConnectionString(const std::string& database = "postgres") const;
  std::string TcpConnectionString(const std::string& database = "postgres") const;

  // Stops the server (a fast shutdown: sessions end) / starts it again on the same port.
  bool Stop();
  bool Restart();
  const std::string& folder() const { return folder_; }

 private:
  PrivatePostgres() = default;
  bool RunAsOwner(const std::string& program, const std::vector<std::string>& args, std::string* why) const;
  bool StartServer(std::string* why);

  std::string bin_;     // the folder of initdb and pg_ctl
  std::string folder_;  // socket, log and data/
  int port_ = 0;
  bool durable_ = false;
  bool running_ = false;
  int owner_uid_ = -1;  // the postgres user when running as root
  int owner_gid_ = -1;
};

// The main of a test program whose cases share one private server: starts
// it, hands it to the cases through *shared, and runs them; exits 77
// (skipped) where no server can start.
int RunTestsWithPrivatePostgres(int argc, char** argv, PrivatePostgres** shared);

}  // namespace varnolt::testing
