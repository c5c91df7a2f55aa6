#include "backends/mailstore/raw_headers.h"

#include "backends/mailstore/store_names.h"
#include "store/property_names.h"

namespace varnolt::mailstore {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whether lines of the text end in a lone CR: it holds CRs but no LF at all. A
// stray CR inside a line of ordinary mail ends nothing.
bool EndsLinesWithCr(std::string_view text) {
  return text.find('\n') == std::string_view::npos && text.find('\r') != std::string_view::npos;
}

// The line starting at pos, with its ending: LF, or (cr_only) a lone CR.
std::string_view LineAt(std::string_view text, size_t pos, bool cr_only) {
  const size_t end = text.find(cr_only ? '\r' : '\n', pos);
  return text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos + 1);
}

bool IsEmptyLine(std::string_view line) { return line == "\n" || line == "\r\n" || line == "\r"; }

// The length of the field name of a header line ("Name:" or "Name :"), 0
// when the line is no header line.
size_t FieldNameLength(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && line[i] > ' ' && line[i] < 127 && line[i] != ':') ++i;
  if (i == 0) return 0;
  size_t j = i;
  while (j < line.size() && IsBlank(line[j])) ++j;
  return j < line.size() && line[j] == ':' ? i : 0;
}

// Where the field whose first line ends at end stops: past its
// continuation lines, those that start with a blank.
size_t FieldEnd(std::string_view message, size_t end, bool cr_only) {
  while (end < message.size() && IsBlank(message[end])) end += LineAt(message, end, cr_only).size();
  return end;
}

// Calls visit(name, whole header text with continuations, start offset) for
// each header of the block; returns the block length.
template <typename Visit>
size_t WalkHeaders(std::string_view message, Visit visit) {
  const bool cr_only = EndsLinesWithCr(message);
  size_t pos = 0;
  while (pos < message.size()) {
    const std::string_view line = LineAt(message, pos, cr_only);
    if (IsEmptyLine(line)) break;
    const size_t name_length = FieldNameLength(line);
    if (name_length == 0) break;
    const size_t end = FieldEnd(message, pos + line.size(), cr_only);
    visit(message.substr(pos, name_length), message.substr(pos, end - pos), pos);
    pos = end;
  }
  return pos;
}

// The name a mail server gives the field starting with this line: the bytes
// before its first ":" less blanks before it, or the whole line (without its
// ending) when it has no colon. Any byte may be part of it.
std::string_view SectionFieldName(std::string_view line) {
  size_t end = line.find(':');
  if (end == std::string_view::npos) {
    end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
  }
  while (end > 0 && IsBlank(line[end - 1])) --end;
  return line.substr(0, end);
}

// Like WalkHeaders, but over the whole header section as a mail server reads
// it: every line up to the blank line (or the end) is a field, with the lines
// after it that start with a blank, whether or not it is a well-formed header.
template <typename Visit>
size_t WalkSection(std::string_view message, Visit visit) {
  const bool cr_only = EndsLinesWithCr(message);
  size_t pos = 0;
  while (pos < message.size()) {
    const std::string_view line = LineAt(message, pos, cr_only);
    if (IsEmptyLine(line)) break;
    const size_t end = FieldEnd(message, pos + line.size(), cr_only);
    visit(SectionField{SectionFieldName(line), message.substr(pos, end - pos), cr_only ? '\r' : '\n'});
    pos = end;
  }
  return pos;
}

}  // namespace

bool HasCrLineEnds(std::string_view message) { return EndsLinesWithCr(message); }

std::string_view WithoutEnvelopeLine(std::string_view message) {
  if (message.substr(0, 5) != "From ") return message;
  return message.substr(LineAt(message, 0, EndsLinesWithCr(message)).size());
}

size_t HeaderBlockLength(std::string_view message) {
  return WalkHeaders(message, [](std::string_view, std::string_view, size_t) {});
}

std::vector<RawHeader> ParseHeaderBlock(std::string_view block) {
  std::vector<RawHeader> headers;
  WalkHeaders(block, [&](std::string_view name, std::string_view whole, size_t) {
    const size_t colon = whole.find(':');
    headers.push_back({std::string(name), std::string(whole.substr(colon + 1))});
  });
  return headers;
}

size_t ForEachSectionField(std::string_view message, const std::function<void(const SectionField&)>& visit) {
  return WalkSection(message, visit);
}

std::vector<std::string_view> FieldLines(const SectionField& field) {
  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < field.text.size();) {
    std::string_view line = LineAt(field.text, pos, field.line_end == '\r');
    pos += line.size();
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

std::string UnfoldValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c != '\r' && c != '\n') out += c;
  }
  const size_t begin = out.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return out.substr(begin, out.find_last_not_of(" \t") - begin + 1);
}

std::string RemoveHeaderLines(std::string_view message, std::string_view name) {
  const std::string key = LowerKey(name);
  std::string out;
  out.reserve(message.size());
  const size_t section = WalkSection(message, [&](const SectionField& field) {
    if (LowerKey(field.name) != key) out.append(field.text);
  });
  out.append(message.substr(section));
  return out;
}

bool HasSectionField(std::string_view message, std::string_view name) {
  const std::string key = LowerKey(name);
  bool found = false;
  WalkSection(message, [&](const SectionField& field) { found = found || LowerKey(field.name) == key; });
  return found;
}

size_t CompleteHeaderSectionLength(std::string_view text) {
  // Lines end in a lone CR only in a message without any LF: undecided until one comes.
  if (text.find('\n') == std::string_view::npos) return 0;
  const size_t section = WalkSection(text, [](const SectionField&) {});
  if (section >= text.size()) return 0;
  const std::string_view blank = LineAt(text, section, false);
  return blank.back() == '\n' ? section + blank.size() : 0;
}

std::string DeliveredContent(std::string_view message) {
  std::string storage;
  const std::string_view content = DeliveredView(message, &storage);
  return storage.empty() ? std::string(content) : std::move(storage);
}

std::string_view DeliveredView(std::string_view message, std::string* storage) {
  const std::string_view content = WithoutEnvelopeLine(message);
  // Read as a mail server reads the header section, on to the blank line, so
  // that a marker behind a malformed line is found too.
  if (!HasSectionField(content, kMailMarkerHeader)) return content;
  *storage = RemoveHeaderLines(content, kMailMarkerHeader);
  return *storage;
}

}  // namespace varnolt::mailstore
