// The header block of a message as received, read without a MIME parser so
// that malformed mail still yields what it has.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnolt::mailstore {

struct RawHeader {
  std::string name;   // as written
  std::string value;  // after the ":", continuation lines and their endings included
};

// Whether the message ends its lines in a lone CR (old Macintosh style): it
// holds CRs and no LF at all. Such lines are read like any others.
bool HasCrLineEnds(std::string_view message);

// The message without a leading envelope line ("From " + sender and date, as
// mail transfer agents put in front of a message they pipe to a delivery
// program); any other message as it is.
std::string_view WithoutEnvelopeLine(std::string_view message);

// The length of the header block at the start of the message: the header
// lines with their continuation lines and line endings (CR LF or LF; a lone CR
// when the message has no LF at all), up to the blank line, the first line
// that is no header line, or the end.
size_t HeaderBlockLength(std::string_view message);

// The header lines of a block, in order.
std::vector<RawHeader> ParseHeaderBlock(std::string_view block);

// Joins continuation lines and drops blanks around the value.
std::string UnfoldValue(std::string_view value);

// What delivery keeps of a message as received: no leading envelope line, and
// none of the sender's own "X-Varnolt" header lines (the marker is only ever
// what the filter wrote); every other byte as it came.
std::string DeliveredContent(std::string_view message);
// The same without a copy when the message holds no X-Varnolt line: a view of
// message, or of *storage, which then holds the edited copy.
std::string_view DeliveredView(std::string_view message, std::string* storage);

// The message without the fields (lines and their continuations) of that
// name (letter case ignored) anywhere in its header section, read as a mail
// server reads it: up to the first blank line, past lines that are no header
// line (no colon, a name with blanks or 8-bit bytes), a line without a colon
// being a field named by the whole line. So nothing a mail server would show
// as such a header is left. The rest byte for byte.
std::string RemoveHeaderLines(std::string_view message, std::string_view name);

// One field of a header section as a mail server reads it.
struct SectionField {
  std::string_view name;  // the bytes before the first ":" less blanks, or the whole line without one
  std::string_view text;  // the first line to the last continuation line, line endings included
  char line_end = '\n';  // what ends the message's lines: LF, or a lone CR in a message without LF
};

// Calls visit for each field of the header section, in order, read as
// RemoveHeaderLines reads it (a line that is no well-formed header is a field
// too); returns the section's length without the blank line.
size_t ForEachSectionField(std::string_view message, const std::function<void(const SectionField&)>& visit);

// The lines of a field's text without their endings (a CR before an LF
// included).
std::vector<std::string_view> FieldLines(const SectionField& field);

// Whether the header section (read as RemoveHeaderLines reads it) holds a
// field of that name (letter case ignored).
bool HasSectionField(std::string_view message, std::string_view name);

// The length of the header section with the blank line that ends it, when
// text (the start of a message) holds all of it, the blank line with its LF;
// 0 when the text ends first. What follows that length cannot change how the
// section reads, so editing its fields needs no more of the message.
size_t CompleteHeaderSectionLength(std::string_view text);

}  // namespace varnolt::mailstore
