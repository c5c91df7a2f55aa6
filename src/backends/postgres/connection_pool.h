// Connections to PostgreSQL kept per process, so that a delivery does not pay
// for a new connection (a server process, authentication) each time.
//
// A connection is taken out while one caller uses it (so one connection
// serves one thread at a time) and comes back when the lease ends, unless it
// broke or was left inside a transaction: such a one is closed, and the next
// Acquire connects anew, so a server that went away and came back needs
// nothing repaired. A process made by fork starts with an empty pool: its
// inherited connections share their sockets with the parent and are dropped
// without a word to the server.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backends/postgres/connection.h"

namespace varnolt::postgres {

class ConnectionPool {
 public:
  // At most this many idle connections are kept per connection string.
  explicit ConnectionPool(size_t idle_per_server = 4);
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // The process's pool.
  static ConnectionPool& Shared();

  // A connection in use; handed back to the pool when destroyed.
  class Lease {
   public:
    Lease(ConnectionPool* pool, std::string conninfo, std::unique_ptr<Connection> connection);
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease();
    Connection& operator*() const { return *connection_; }
    Connection* operator->() const { return connection_.get(); }

   private:
    ConnectionPool* pool_;
    std::string conninfo_;
    std::unique_ptr<Connection> connection_;
  };

  // An idle connection made with this connection string, else a new one.
  // Thread-safe. Throws kPgUnavailable when the server cannot be reached.
  Lease Acquire(const std::string& conninfo);

  // Idle connections for this connection string (for tests and statistics).
  size_t IdleCount(const std::string& conninfo);

 private:
  void GiveBack(const std::string& conninfo, std::unique_ptr<Connection> connection);
  void ForgetAfterFork();  // under mutex_

  const size_t idle_per_server_;
  std::mutex mutex_;
  pid_t owner_;
  std::map<std::string, std::vector<std::unique_ptr<Connection>>> idle_;
};

}  // namespace varnolt::postgres
