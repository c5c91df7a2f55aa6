#include "dashboard/http/channel.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>

namespace varnolt::http {

Channel::Channel(int fd, SSL_CTX* tls) : fd_(fd) {
  if (tls) {
    ssl_ = SSL_new(tls);
    if (ssl_) SSL_set_fd(ssl_, fd_);
  }
  handshake_done_ = tls == nullptr;
}

Channel::~Channel() {
  if (ssl_) {
    if (handshake_done_) SSL_shutdown(ssl_);  // one close_notify, never waited for
    SSL_free(ssl_);
  }
  close(fd_);
}

IoStatus Channel::TlsStatus(int result) {
  switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ:
      return IoStatus::kWantRead;
    case SSL_ERROR_WANT_WRITE:
      return IoStatus::kWantWrite;
    default:
      ERR_clear_error();  // a client's failed handshake must not linger in this thread's queue
      return IoStatus::kClosed;
  }
}

IoStatus Channel::Handshake() {
  if (handshake_done_) return IoStatus::kDone;
  if (!ssl_) return IoStatus::kClosed;
  const int result = SSL_accept(ssl_);
  if (result == 1) {
    handshake_done_ = true;
    return IoStatus::kDone;
  }
  return TlsStatus(result);
}

IoStatus Channel::Read(std::string* in, size_t limit) {
  bool got = false;
  char buffer[16384];
  while (in->size() < limit) {
    const size_t want = std::min(sizeof buffer, limit - in->size());
    ssize_t n;
    if (ssl_) {
      const int result = SSL_read(ssl_, buffer, static_cast<int>(want));
      if (result <= 0) {
        // What came before an end is still a request to answer; the end shows on the next call.
        const IoStatus status = TlsStatus(result);
        return got ? IoStatus::kDone : status;
      }
      n = result;
    } else {
      n = recv(fd_, buffer, want, 0);
      if (n == 0) return got ? IoStatus::kDone : IoStatus::kClosed;
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return got ? IoStatus::kDone : IoStatus::kWantRead;
        return IoStatus::kClosed;
      }
    }
    in->append(buffer, static_cast<size_t>(n));
    got = true;
  }
  return IoStatus::kDone;
}

IoStatus Channel::Write(const char* data, size_t size, size_t* sent) {
  while (*sent < size) {
    const size_t left = size - *sent;
    if (ssl_) {
      const int result = SSL_write(ssl_, data + *sent, static_cast<int>(std::min<size_t>(left, 1 << 20)));
      if (result <= 0) return TlsStatus(result);
      *sent += static_cast<size_t>(result);
    } else {
      const ssize_t n = send(fd_, data + *sent, left, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return IoStatus::kWantWrite;
        return IoStatus::kClosed;
      }
      *sent += static_cast<size_t>(n);
    }
  }
  return IoStatus::kDone;
}

}  // namespace varnolt::http
