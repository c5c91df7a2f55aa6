#include "backends/postgres/connection_pool.h"

#include <unistd.h>

namespace varnolt::postgres {

ConnectionPool::ConnectionPool(size_t idle_per_server) : idle_per_server_(idle_per_server), owner_(::getpid()) {}

ConnectionPool::~ConnectionPool() {
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetAfterFork();
}

ConnectionPool& ConnectionPool::Shared() {
  // Never destroyed: a connection closed during exit would race other threads' last calls.
  static ConnectionPool* pool = new ConnectionPool();
  return *pool;
}

void ConnectionPool::ForgetAfterFork() {
  if (owner_ == ::getpid()) return;
  for (auto& [conninfo, connections] : idle_) {
    for (auto& connection : connections) connection->AbandonAfterFork();
  }
  idle_.clear();
  owner_ = ::getpid();
}

ConnectionPool::Lease ConnectionPool::Acquire(const std::string& conninfo) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ForgetAfterFork();
    auto found = idle_.find(conninfo);
    if (found != idle_.end() && !found->second.empty()) {
      std::unique_ptr<Connection> connection = std::move(found->second.back());
      found->second.pop_back();
      return Lease(this, conninfo, std::move(connection));
    }
  }
  // Connecting takes a round trip or more: not under the lock.
  return Lease(this, conninfo, Connection::Open(conninfo));
}

size_t ConnectionPool::IdleCount(const std::string& conninfo) {
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetAfterFork();
  auto found = idle_.find(conninfo);
  return found == idle_.end() ? 0 : found->second.size();
}

void ConnectionPool::GiveBack(const std::string& conninfo, std::unique_ptr<Connection> connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (owner_ != ::getpid()) {
    // Leased before a fork and returned in the child: the socket is the parent's.
    connection->AbandonAfterFork();
    ForgetAfterFork();
    return;
  }
  if (connection->Broken() || connection->InTransaction()) return;  // closed here; the next caller connects anew
  std::vector<std::unique_ptr<Connection>>& connections = idle_[conninfo];
  if (connections.size() < idle_per_server_) connections.push_back(std::move(connection));
}

ConnectionPool::Lease::Lease(ConnectionPool* pool, std::string conninfo, std::unique_ptr<Connection> connection)
    : pool_(pool), conninfo_(std::move(conninfo)), connection_(std::move(connection)) {}

ConnectionPool::Lease::~Lease() {
  if (connection_) pool_->GiveBack(conninfo_, std::move(connection_));
}

}  // namespace varnolt::postgres
