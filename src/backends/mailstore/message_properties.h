// The properties a message's content gives its item, derived whenever the
// content is saved. Never fails on malformed mail: it yields what can be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/variant.h"

namespace varnolt::mailstore {

using PropertyList = std::vector<std::pair<std::string, Variant>>;

inline constexpr const char* kMailHeaderPrefix = "urn:schemas:mailheader:";
inline constexpr const char* kSubjectProperty = "urn:schemas:httpmail:subject";

// Bounds on what the derivation keeps of a message, so that mail of any size
// is stored in bounded time and memory (the content itself is kept whole).
// The spam engine reads far less of each (a few dozen KiB), so a text cut
// here is judged as the whole would be.
// - a body (plain or HTML) holds at most the first kMaxBodyTextBytes of its
//   decoded text, cut at a character; decoding stops there;
// - the transport headers hold at most the first kMaxHeaderBlockBytes of the
//   header block, and header properties are derived from that part only.
// - the MIME structure is read up to the line that would open its
//   kMaxMimeParts-th part (any line starting with "--" counts): the parser
//   keeps every part in memory, some 2 KB each however small the part.
inline constexpr size_t kMaxBodyTextBytes = size_t{4} << 20;
inline constexpr size_t kMaxMimeParts = 10000;
inline constexpr size_t kMaxHeaderBlockBytes = size_t{1} << 20;

// The texts of a message that its item's properties carry and that the
// filter hands the spam engine: the header block as received (the transport
// headers of mail from outside), and the first plain and HTML bodies that
// are no attachment, decoded to UTF-8 (absent when there is none).
struct MessageTexts {
  std::string header_block;
  std::optional<std::string> plain_body;
  std::optional<std::string> html_body;
  bool has_attachment = false;
};
MessageTexts DeriveMessageTexts(std::string_view content);

// DAV:contentclass; urn:schemas:mailheader:<name> for the first occurrence of
// each top-level header (name in lower case, value unfolded and RFC 2047
// decoded to UTF-8); the subject; message class x001A001E "IPM.Note"; plain
// body x1000001E and HTML body x1013001E (first such part that is no
// attachment, decoded to UTF-8; absent when there is none); message flags
// x0E070003 (0x10 when the message has attachments). outside: mail that came
// from outside the organisation gets address type x0C1E001E "SMTP" and
// transport headers x007D001E = the header block as received; inside mail
// gets "EX" and no transport headers.
PropertyList DeriveMessageProperties(std::string_view content, bool outside);

// A Date header's value as seconds since 1970 (UTC); nullopt when it is no date.
std::optional<int64_t> MailDateSeconds(const std::string& value);

}  // namespace varnolt::mailstore
