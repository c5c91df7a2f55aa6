// Where a request ends in the bytes received so far. The server hands a
// connection to the HTTP code only once its whole request has arrived, so
// that a client sending a header line every few seconds holds up nobody.
#pragma once

#include <cstddef>
#include <string_view>

namespace varnolt::http {

inline constexpr size_t kMaxRequestHead = 16 * 1024;
inline constexpr size_t kMaxRequestBody = 64 * 1024;

enum class Frame {
  kIncomplete,  // wait for more
  kComplete,    // the head and its declared body are all here
  kTooLarge,    // a head beyond kMaxRequestHead: drop the connection
};

// The head ends at the first empty line (CR LF or LF alone, as HTTP readers
// accept); a body is the Content-Length's bytes after it. A body beyond
// kMaxRequestBody, or one sent in chunks, counts as complete at its head: the
// HTTP code then refuses it.
Frame FrameRequest(std::string_view received);

}  // namespace varnolt::http
