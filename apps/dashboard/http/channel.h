// One client connection's bytes, plain or TLS, on a non-blocking socket: each
// call does what it can now and says what it waits for, so that one thread
// can keep hundreds of slow clients without blocking on any of them.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <string>

namespace varnolt::http {

enum class IoStatus {
  kDone,       // did something (or, for Handshake, the handshake is complete)
  kWantRead,   // call again when the socket is readable
  kWantWrite,  // call again when the socket is writable
  kClosed,     // the peer closed the connection or it failed: drop it
};

class Channel {
 public:
  // Takes the socket; tls: the server's context, null for plain HTTP.
  Channel(int fd, SSL_CTX* tls);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  int fd() const { return fd_; }
  // The TLS handshake; kDone at once for plain HTTP.
  IoStatus Handshake();
  // Appends what has arrived to *in, at most up to limit bytes in all; kDone
  // when something came.
  IoStatus Read(std::string* in, size_t limit);
  // Sends from data; *sent grows by what went out.
  IoStatus Write(const char* data, size_t size, size_t* sent);

 private:
  IoStatus TlsStatus(int result);

  int fd_;
  SSL* ssl_ = nullptr;
  bool handshake_done_ = false;
};

}  // namespace varnolt::http
