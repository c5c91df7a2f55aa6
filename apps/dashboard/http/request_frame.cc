#include "dashboard/http/request_frame.h"

#include <cctype>

namespace varnolt::http {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// The declared body length, or kMaxRequestBody + 1 for one too large to wait for.
size_t BodyLength(std::string_view head) {
  size_t line_start = 0;
  while (line_start < head.size()) {
    size_t line_end = head.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = head.size();
    std::string_view line = head.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (!StartsWithNoCase(line, "content-length:")) continue;
    size_t length = 0;
    for (char c : line.substr(15)) {
      if (c >= '0' && c <= '9') {
        length = length * 10 + static_cast<size_t>(c - '0');
        if (length > kMaxRequestBody) return kMaxRequestBody + 1;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        return 0;  // not a number: the HTTP code refuses the request
      }
    }
    return length;
  }
  return 0;
}

}  // namespace

Frame FrameRequest(std::string_view received) {
  const size_t crlf = received.find("\r\n\r\n");
  const size_t lf = received.find("\n\n");
  size_t head_end = std::string_view::npos;
  if (crlf != std::string_view::npos) head_end = crlf + 4;
  if (lf != std::string_view::npos && (head_end == std::string_view::npos || lf + 2 < head_end)) head_end = lf + 2;
  if (head_end == std::string_view::npos) {
    return received.size() > kMaxRequestHead ? Frame::kTooLarge : Frame::kIncomplete;
  }
  if (head_end > kMaxRequestHead) return Frame::kTooLarge;
  const size_t body = BodyLength(received.substr(0, head_end));
  if (body > kMaxRequestBody) return Frame::kComplete;
  return received.size() >= head_end + body ? Frame::kComplete : Frame::kIncomplete;
}

}  // namespace varnolt::http
