// The spam marker in Dovecot, where a stored message never changes: the
// X-Varnolt header written at delivery, and IMAP keywords for every marker
// since, which take precedence. $Junk / $NotJunk let mail clients show the
// verdict; our own keywords carry the marker's value and "hidden".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnolt::dovecot {

inline constexpr const char* kJunkKeyword = "$Junk";
inline constexpr const char* kNotJunkKeyword = "$NotJunk";
inline constexpr const char* kHiddenKeyword = "$VarnoltHidden";
// Followed by the marker's value in decimal: "$VarnoltMarker2".
inline constexpr const char* kMarkerKeywordPrefix = "$VarnoltMarker";

// The marker a message's keywords carry (letter case ignored); nullopt when none does.
std::optional<int32_t> MarkerOfKeywords(const std::vector<std::string>& keywords);

// The keywords that state the marker: ours, and $Junk for SPAM or $NotJunk for HAM.
std::vector<std::string> KeywordsOfMarker(int32_t marker);

// The keywords among the message's that state another marker than this one.
std::vector<std::string> StaleMarkerKeywords(const std::vector<std::string>& keywords, int32_t marker);

// The message as it is stored: every X-Varnolt header line removed and, for
// a marker other than 0, "X-Varnolt: <marker>" added as the header's last
// line, ended like the message's own lines.
std::string StampMessage(std::string_view content, int32_t marker);

}  // namespace varnolt::dovecot
