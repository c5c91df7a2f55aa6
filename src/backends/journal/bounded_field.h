// Sender-controlled texts (Message-ID, address, domain, subject) are kept to a few
// hundred bytes in the journal: a message with a 2 MB Message-ID would
// otherwise grow the file, the dashboard's page and its API by as much.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnolt::journal {

inline constexpr size_t kMessageIdBytes = 300;
inline constexpr size_t kDomainBytes = 255;  // a DNS name has at most 253
inline constexpr size_t kSubjectBytes = 300;
inline constexpr size_t kAddressBytes = 320;  // 64 bytes before the "@", the "@", a domain of 255

// The text's first max_bytes bytes or fewer: never a part of a UTF-8
// sequence at the end, so that a cut cannot make valid text invalid.
std::string BoundedField(std::string_view text, size_t max_bytes);

}  // namespace varnolt::journal
