#include "store/item_addressing.h"

#include <vector>

#include "platform/com/com_error.h"

namespace varnolt {
namespace {

std::vector<std::string> SplitAtSlash(const std::string& url) {
  std::vector<std::string> segments;
  size_t start = 0;
  for (;;) {
    const size_t slash = url.find('/', start);
    if (slash == std::string::npos) {
      segments.push_back(url.substr(start));
      return segments;
    }
    segments.push_back(url.substr(start, slash - start));
    start = slash + 1;
  }
}

const std::string& Segment(const std::vector<std::string>& segments, size_t index) {
  if (index >= segments.size()) throw RuntimeError(kSubscriptOutOfRange);
  return segments[index];
}

}  // namespace

void SplitItemUrl(const std::string& url, std::string* domain, std::string* user, std::string* mail_file) {
  const std::vector<std::string> segments = SplitAtSlash(url);
  *domain = Segment(segments, 4);
  *user = Segment(segments, 6);
  *mail_file = segments.back();
}

std::string GetInbox(Reporter& reporter, const std::string& url) {
  try {
    const size_t slash = url.rfind('/');
    // Taking the text before a "/" that is not there is an invalid call.
    if (slash == std::string::npos) throw RuntimeError(kInvalidProcedureCall);
    return url.substr(0, slash);
  } catch (const ComError& error) {
    reporter.LogError("GetInbox failed: " + error.description(), error.number(), url);
    return "";
  }
}

Variant AsVariant(const std::string& text) { return Variant::Text(text); }

}  // namespace varnolt
