#include "dashboard/http/connection_gate.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dashboard/http/channel.h"
#include "dashboard/http/client_address.h"
#include "dashboard/http/request_frame.h"

namespace varnolt::http {
namespace {

using Clock = std::chrono::steady_clock;

enum class Phase { kHandshake, kReading, kAnswering, kHolding, kSending };

struct Connection {
  Connection(int fd, SSL_CTX* tls) : channel(fd, tls) {}
  Channel channel;
  std::string address;
  std::string client;  // ClientOf(address): what the bound per client counts
  int port = 0;
  Phase phase = Phase::kReading;
  std::string in, out;
  size_t sent = 0;
  Clock::time_point deadline, send_at;
  int delay_ms = 0;
  bool close_after = false;
  int answered = 0;
  uint32_t events = 0;  // what epoll watches for it now
  bool watched = true;  // false while answering after the client hung up
  bool dropped = false;  // closed; freed once the events in hand are through
};

// "192.0.2.7" for IPv4 and IPv4-mapped IPv6, else the IPv6 text.
std::string AddressText(const sockaddr_storage& address, int* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    *port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    *port = ntohs(v6->sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      inet_ntop(AF_INET, reinterpret_cast<const char*>(&v6->sin6_addr) + 12, text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
  }
  return text;
}

// The workers: they take connections whose request is complete, answer
// from memory and hand them back through a queue and an eventfd.
class Workers {
 public:
  Workers(int count, const Answerer& answer, std::string local_address, int local_port)
      : answer_(answer), local_address_(std::move(local_address)), local_port_(local_port) {
    done_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Run(); });
  }
  ~Workers() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    close(done_fd_);
  }
  int done_fd() const { return done_fd_; }

  void Give(Connection* connection, bool last) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      todo_.push_back({connection, last});
    }
    ready_.notify_one();
  }
  std::vector<Connection*> TakeDone() {
    uint64_t ignored;
    if (read(done_fd_, &ignored, sizeof ignored) < 0) {
      // Nothing signalled yet: the queue below says the same.
    }
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Connection*> done;
    done.swap(done_);
    return done;
  }
  bool Busy() {
    std::lock_guard<std::mutex> guard(lock_);
    return !todo_.empty() || working_ > 0 || !done_.empty();
  }

 private:
  void Run() {
    for (;;) {
      std::pair<Connection*, bool> job;
      {
        std::unique_lock<std::mutex> guard(lock_);
        ready_.wait(guard, [this] { return stopping_ || !todo_.empty(); });
        if (todo_.empty()) return;
        job = todo_.front();
        todo_.pop_front();
        ++working_;
      }
      Connection& c = *job.first;
      c.delay_ms = 0;
      Exchange exchange{&c.in, &c.out, c.address, c.port, local_address_, local_port_, job.second, &c.delay_ms};
      bool keep = false;
      try {
        keep = answer_(exchange);
      } catch (...) {
        keep = false;  // an answer that failed closes its connection, nothing more
      }
      c.close_after = !keep || job.second;
      {
        std::lock_guard<std::mutex> guard(lock_);
        --working_;
        done_.push_back(&c);
      }
      const uint64_t one = 1;
      if (write(done_fd_, &one, sizeof one) < 0) {
        // The counter is full only after 2^64 wakes; the gate reads it first.
      }
    }
  }

  const Answerer& answer_;
  const std::string local_address_;
  const int local_port_;
  int done_fd_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<std::pair<Connection*, bool>> todo_;
  std::vector<Connection*> done_;
  int working_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

class Gate {
 public:
  Gate(int listen_fd, int stop_fd, SSL_CTX* tls, const GateLimits& limits, const Answerer& answer)
      : listen_fd_(listen_fd), stop_fd_(stop_fd), tls_(tls), limits_(limits) {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    getsockname(listen_fd, reinterpret_cast<sockaddr*>(&local), &size);
    local_address_ = AddressText(local, &local_port_);
    limits_.total = std::max(1, std::min(limits_.total, OpenFileRoom()));
    workers_ = std::make_unique<Workers>(limits_.workers, answer, local_address_, local_port_);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    Watch(listen_fd_, EPOLLIN, nullptr);
    Watch(stop_fd_, EPOLLIN, nullptr);
    Watch(workers_->done_fd(), EPOLLIN, nullptr);
  }
  ~Gate() {
    close(epoll_);
  }

  void Run() {
    bool stopping = false;
    std::vector<epoll_event> events(256);
    while (!stopping || workers_->Busy()) {
      const int timeout = stopping ? 50 : WaitMilliseconds();
      const int count = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), timeout);
      if (count < 0 && errno != EINTR) break;
      for (int i = 0; i < count; ++i) {
        const epoll_event& event = events[static_cast<size_t>(i)];
        if (event.data.ptr == &listen_fd_) {
          if (!stopping) Accept();
        } else if (event.data.ptr == &stop_fd_) {
          stopping = true;
        } else if (event.data.ptr == &done_tag_) {
          for (Connection* c : workers_->TakeDone()) Answered(*c);
        } else if (auto* c = static_cast<Connection*>(event.data.ptr); !c->dropped) {
          Ready(*c, event.events);
        }
      }
      Expire();
      dropped_.clear();
    }
    // The connections' sockets close with them; answers not yet sent are dropped.
    connections_.clear();
    dropped_.clear();
  }

 private:
  static int OpenFileRoom() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1000;
    if (limit.rlim_cur < limit.rlim_max) {
      limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
      setrlimit(RLIMIT_NOFILE, &limit);
      getrlimit(RLIMIT_NOFILE, &limit);
    }
    // Room for the journal, the models and the libraries besides the clients.
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20)) - 64;
  }

  void Watch(int fd, uint32_t events, Connection* connection) {
    epoll_event event{};
    event.events = events;
    if (connection) {
      event.data.ptr = connection;
    } else if (fd == listen_fd_) {
      event.data.ptr = &listen_fd_;
    } else if (fd == stop_fd_) {
      event.data.ptr = &stop_fd_;
    } else {
      event.data.ptr = &done_tag_;
    }
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
  }

  void Interest(Connection& c, uint32_t events) {
    if (c.watched && c.events == events) return;
    epoll_event event{};
    event.events = events;
    event.data.ptr = &c;
    epoll_ctl(epoll_, c.watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c.channel.fd(), &event);
    c.events = events;
    c.watched = true;
  }

  // Deadlines are checked at least every 250 ms (a few hundred connections
  // are scanned in microseconds), held answers when they are due.
  int WaitMilliseconds() const {
    const Clock::time_point now = Clock::now();
    auto wait = std::chrono::milliseconds(250);
    for (const auto& [key, c] : connections_) {
      if (c->phase == Phase::kHolding) {
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(c->send_at - now) +
                                  std::chrono::milliseconds(1));
      }
    }
    return static_cast<int>(std::max<int64_t>(0, wait.count()));
  }

  void Drop(Connection& c) {
    auto count = per_address_.find(c.client);
    if (count != per_address_.end() && --count->second == 0) per_address_.erase(count);
    if (c.watched) epoll_ctl(epoll_, EPOLL_CTL_DEL, c.channel.fd(), nullptr);
    // Later events of the same batch may still name it: it is freed after them.
    auto owned = connections_.find(&c);
    c.dropped = true;
    dropped_.push_back(std::move(owned->second));
    connections_.erase(owned);
  }

  // At the bound on all connections, the one waiting longest for its request goes.
  bool MakeRoom() {
    Connection* oldest = nullptr;
    for (auto& [key, c] : connections_) {
      if ((c->phase == Phase::kReading || c->phase == Phase::kHandshake) &&
          (!oldest || c->deadline < oldest->deadline)) {
        oldest = c.get();
      }
    }
    if (!oldest) return false;
    Drop(*oldest);
    return true;
  }

  void Accept() {
    for (;;) {
      sockaddr_storage peer{};
      socklen_t size = sizeof peer;
      const int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;  // EAGAIN: all taken; EMFILE and the like: the bound below keeps it rare
      }
      int port = 0;
      std::string address = AddressText(peer, &port);
      std::string client = ClientOf(address);
      if (per_address_[client] >= limits_.per_address ||
          (static_cast<int>(connections_.size()) >= limits_.total && !MakeRoom())) {
        if (per_address_[client] == 0) per_address_.erase(client);
        close(fd);
        continue;
      }
      auto owned = std::make_unique<Connection>(fd, tls_);
      Connection& c = *owned;
      c.address = std::move(address);
      c.client = std::move(client);
      c.port = port;
      c.phase = tls_ ? Phase::kHandshake : Phase::kReading;
      c.deadline = Clock::now() + limits_.request;
      c.events = EPOLLIN;
      ++per_address_[c.client];
      connections_.emplace(&c, std::move(owned));
      Watch(fd, EPOLLIN, &c);
    }
  }

  void Ready(Connection& c, uint32_t events) {
    // A hang-up is reported whatever is watched: one while a worker has the
    // connection is dealt with once the answer is back (sending it fails).
    if ((events & (EPOLLHUP | EPOLLERR)) != 0 && c.phase == Phase::kAnswering) {
      epoll_ctl(epoll_, EPOLL_CTL_DEL, c.channel.fd(), nullptr);
      c.watched = false;
      return;
    }
    if ((events & (EPOLLHUP | EPOLLERR)) != 0 && c.phase == Phase::kHolding) return Drop(c);
    if (c.phase == Phase::kHandshake) {
      switch (c.channel.Handshake()) {
        case IoStatus::kDone:
          c.phase = Phase::kReading;
          break;
        case IoStatus::kWantRead:
          return Interest(c, EPOLLIN);
        case IoStatus::kWantWrite:
          return Interest(c, EPOLLOUT);
        case IoStatus::kClosed:
          return Drop(c);
      }
    }
    if (c.phase == Phase::kReading) {
      const IoStatus status = c.channel.Read(&c.in, kMaxRequestHead + kMaxRequestBody + 1);
      if (status == IoStatus::kClosed) return Drop(c);
      if (status == IoStatus::kWantWrite) return Interest(c, EPOLLOUT);
      return Examine(c);
    }
    if (c.phase == Phase::kSending) Send(c);
  }

  // A request complete goes to a worker; a head too large closes the connection.
  void Examine(Connection& c) {
    switch (FrameRequest(c.in)) {
      case Frame::kIncomplete:
        return Interest(c, EPOLLIN);
      case Frame::kTooLarge:
        return Drop(c);
      case Frame::kComplete:
        c.phase = Phase::kAnswering;
        Interest(c, 0);
        workers_->Give(&c, c.answered + 1 >= limits_.requests_per_connection);
        return;
    }
  }

  void Answered(Connection& c) {
    ++c.answered;
    c.sent = 0;
    c.deadline = Clock::now() + limits_.answer;
    if (c.delay_ms > 0) {
      c.phase = Phase::kHolding;
      c.send_at = Clock::now() + std::chrono::milliseconds(c.delay_ms);
      return;
    }
    c.phase = Phase::kSending;
    Send(c);
  }

  void Send(Connection& c) {
    switch (c.channel.Write(c.out.data(), c.out.size(), &c.sent)) {
      case IoStatus::kWantWrite:
        return Interest(c, EPOLLOUT);
      case IoStatus::kWantRead:
        return Interest(c, EPOLLIN);
      case IoStatus::kClosed:
        return Drop(c);
      case IoStatus::kDone:
        break;
    }
    c.out.clear();
    c.sent = 0;
    if (c.close_after) {
      shutdown(c.channel.fd(), SHUT_WR);
      return Drop(c);
    }
    // The next request, perhaps already here (pipelined), within a fresh deadline.
    c.phase = Phase::kReading;
    c.deadline = Clock::now() + limits_.request;
    Examine(c);
  }

  void Expire() {
    const Clock::time_point now = Clock::now();
    std::vector<Connection*> late, due;
    for (auto& [key, c] : connections_) {
      if (c->phase == Phase::kHolding) {
        if (c->send_at <= now) due.push_back(c.get());
      } else if (c->phase != Phase::kAnswering && c->deadline <= now) {
        late.push_back(c.get());
      }
    }
    for (Connection* c : late) Drop(*c);
    for (Connection* c : due) {
      c->phase = Phase::kSending;
      Send(*c);
    }
  }

  int listen_fd_;
  int stop_fd_;
  int done_tag_ = 0;
  SSL_CTX* tls_;
  GateLimits limits_;
  std::string local_address_;
  int local_port_ = 0;
  int epoll_ = -1;
  std::unordered_map<Connection*, std::unique_ptr<Connection>> connections_;
  std::vector<std::unique_ptr<Connection>> dropped_;
  std::map<std::string, int> per_address_;  // connections per client (ClientOf)
  std::unique_ptr<Workers> workers_;
};

}  // namespace

void RunGate(int listen_fd, int stop_fd, SSL_CTX* tls, const GateLimits& limits, const Answerer& answer) {
  Gate gate(listen_fd, stop_fd, tls, limits, answer);
  gate.Run();
}

}  // namespace varnolt::http
