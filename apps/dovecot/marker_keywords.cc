#include "dovecot/marker_keywords.h"

#include <charconv>

#include "backends/mailstore/raw_headers.h"
#include "backends/mailstore/store_names.h"
#include "store/mail_marker.h"
#include "store/property_names.h"

namespace varnolt::dovecot {
namespace {

std::optional<int32_t> MarkerOfKeyword(const std::string& keyword) {
  const std::string prefix = mailstore::LowerKey(kMarkerKeywordPrefix);
  if (keyword.size() <= prefix.size() || mailstore::LowerKey(keyword.substr(0, prefix.size())) != prefix) {
    return std::nullopt;
  }
  int32_t marker = 0;
  const char* begin = keyword.data() + prefix.size();
  const char* end = keyword.data() + keyword.size();
  const auto [stop, error] = std::from_chars(begin, end, marker);
  if (error != std::errc() || stop != end) return std::nullopt;
  return marker;
}

bool SameKeyword(const std::string& a, const std::string& b) {
  return mailstore::LowerKey(a) == mailstore::LowerKey(b);
}

}  // namespace

std::optional<int32_t> MarkerOfKeywords(const std::vector<std::string>& keywords) {
  for (const std::string& keyword : keywords) {
    if (auto marker = MarkerOfKeyword(keyword)) return marker;
  }
  return std::nullopt;
}

std::vector<std::string> KeywordsOfMarker(int32_t marker) {
  std::vector<std::string> keywords{kMarkerKeywordPrefix + std::to_string(marker)};
  if (marker == kMarkerSpam) keywords.emplace_back(kJunkKeyword);
  if (marker == kMarkerHam) keywords.emplace_back(kNotJunkKeyword);
  return keywords;
}

std::vector<std::string> StaleMarkerKeywords(const std::vector<std::string>& keywords, int32_t marker) {
  const std::vector<std::string> wanted = KeywordsOfMarker(marker);
  std::vector<std::string> stale;
  for (const std::string& keyword : keywords) {
    bool is_marker_keyword = MarkerOfKeyword(keyword).has_value() || SameKeyword(keyword, kJunkKeyword) ||
                             SameKeyword(keyword, kNotJunkKeyword);
    bool still_wanted = false;
    for (const std::string& w : wanted) still_wanted = still_wanted || SameKeyword(keyword, w);
    if (is_marker_keyword && !still_wanted) stale.push_back(keyword);
  }
  return stale;
}

std::string StampMessage(std::string_view content, int32_t marker) {
  std::string message = mailstore::RemoveHeaderLines(content, kMailMarkerHeader);
  if (marker == kMarkerNone) return message;
  const size_t first_lf = message.find('\n');
  const std::string eol = first_lf != std::string::npos && first_lf > 0 && message[first_lf - 1] == '\r' ? "\r\n" : "\n";
  const size_t header_end = mailstore::HeaderBlockLength(message);
  std::string line = std::string(kMailMarkerHeader) + ": " + std::to_string(marker) + eol;
  // A header that runs to the end without a line ending gets one first.
  if (header_end > 0 && message[header_end - 1] != '\n') line = eol + line;
  message.insert(header_end, line);
  return message;
}

}  // namespace varnolt::dovecot
