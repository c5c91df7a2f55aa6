// cpp-httplib's view of one request that has arrived whole: it reads the
// request from memory and writes its answer to memory, so the HTTP code
// never waits on a client's socket (the connection gate does the waiting).
#pragma once

#include <httplib.h>

#include <string>

namespace varnolt::http {

class MemoryStream : public httplib::Stream {
 public:
  MemoryStream(const std::string& in, std::string& out, const std::string& remote_address, int remote_port,
               const std::string& local_address, int local_port)
      : in_(in), out_(out), remote_address_(remote_address), remote_port_(remote_port),
        local_address_(local_address), local_port_(local_port) {}

  // Bytes of the input the request used; the rest is the next request.
  size_t consumed() const { return consumed_; }

  bool is_readable() const override { return consumed_ < in_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t n = std::min(size, in_.size() - consumed_);
    in_.copy(ptr, n, consumed_);
    consumed_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    out_.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = remote_address_;
    port = remote_port_;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = local_address_;
    port = local_port_;
  }
  // No socket of its own: cpp-httplib asks only to watch it, which this stream never needs.
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  const std::string& in_;
  std::string& out_;
  const std::string& remote_address_;
  int remote_port_;
  const std::string& local_address_;
  int local_port_;
  size_t consumed_ = 0;
};

}  // namespace varnolt::http
