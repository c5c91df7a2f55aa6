#include "backends/registry/value_text.h"

#include <cstdio>

#include "platform/registry.h"

namespace varnolt {
namespace {

constexpr size_t kWrapColumn = 76;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

void SkipSpaces(const std::string& text, size_t* pos) {
  while (*pos < text.size() && IsSpace(text[*pos])) ++*pos;
}

// A quoted string at *pos with the escapes \\ and \"; other backslashes are
// taken literally, as a hand-written path would mean them.
std::optional<std::string> ParseQuoted(const std::string& text, size_t* pos) {
  if (*pos >= text.size() || text[*pos] != '"') return std::nullopt;
  std::string out;
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
    out += text[i];
  }
  return std::nullopt;  // no closing quote
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// "xx,xx,..." with blanks and line continuations between the bytes.
std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  size_t i = 0;
  bool expect_byte = true;
  while (i < text.size()) {
    const char c = text[i];
    if (IsSpace(c) || c == '\\') {
      ++i;
    } else if (c == ',' && !expect_byte) {
      expect_byte = true;
      ++i;
    } else if (expect_byte && i + 1 < text.size() && HexDigit(c) >= 0 && HexDigit(text[i + 1]) >= 0) {
      bytes.push_back(static_cast<uint8_t>(HexDigit(c) * 16 + HexDigit(text[i + 1])));
      expect_byte = false;
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  if (expect_byte && !bytes.empty()) return std::nullopt;  // trailing comma
  return bytes;
}

std::optional<RegValue> ParseData(const std::string& data) {
  RegValue value;
  size_t pos = 0;
  if (!data.empty() && data[0] == '"') {
    const auto text = ParseQuoted(data, &pos);
    SkipSpaces(data, &pos);
    if (!text || pos != data.size()) return std::nullopt;
    value.type = REG_SZ;
    value.data.assign(text->begin(), text->end());
    value.data.push_back(0);
    return value;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    std::string digits = data.substr(6);
    while (!digits.empty() && IsSpace(digits.back())) digits.pop_back();
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t number = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return std::nullopt;
      number = number * 16 + static_cast<uint32_t>(HexDigit(c));
    }
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
    return value;
  }
  size_t colon = std::string::npos;
  if (data.compare(0, 4, "hex:") == 0) {
    value.type = REG_BINARY;
    colon = 3;
  } else if (data.compare(0, 4, "hex(") == 0) {
    const size_t close = data.find("):", 4);
    if (close == std::string::npos || close == 4 || close > 12) return std::nullopt;
    uint32_t type = 0;
    for (size_t i = 4; i < close; ++i) {
      if (HexDigit(data[i]) < 0) return std::nullopt;
      type = type * 16 + static_cast<uint32_t>(HexDigit(data[i]));
    }
    value.type = type;
    colon = close + 1;
  } else {
    return std::nullopt;
  }
  auto bytes = ParseHexBytes(data.substr(colon + 1));
  if (!bytes) return std::nullopt;
  value.data = std::move(*bytes);
  return value;
}

std::string FormatName(const std::string& name) { return name.empty() ? "@" : Quote(name); }

// The text of a REG_SZ value when it can be written as a quoted string.
std::optional<std::string> PlainText(const RegValue& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return std::nullopt;
  std::string text(value.data.begin(), value.data.end() - 1);
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return std::nullopt;
  return text;
}

std::vector<std::string> FormatHex(const std::string& prefix, const RegValue& value) {
  char type_text[16];
  if (value.type == REG_BINARY) {
    std::snprintf(type_text, sizeof type_text, "hex:");
  } else {
    std::snprintf(type_text, sizeof type_text, "hex(%x):", value.type);
  }
  std::vector<std::string> lines;
  std::string line = prefix + type_text;
  for (size_t i = 0; i < value.data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", value.data[i]);
    line += byte;
    if (i + 1 == value.data.size()) break;
    line += ',';
    if (line.size() >= kWrapColumn) {
      lines.push_back(line + "\\");
      line = "  ";
    }
  }
  lines.push_back(line);
  return lines;
}

}  // namespace

bool ContinuesOnNextLine(const std::string& line) {
  size_t end = line.size();
  while (end > 0 && IsSpace(line[end - 1])) --end;
  if (end == 0 || line[end - 1] != '\\') return false;
  const size_t eq = line.find("=hex");
  return eq != std::string::npos;
}

std::optional<NamedValue> ParseValueLines(const std::vector<std::string>& lines) {
  if (lines.empty()) return std::nullopt;
  std::string text;
  for (const auto& line : lines) text += line;
  NamedValue named;
  size_t pos = 0;
  SkipSpaces(text, &pos);
  if (pos < text.size() && text[pos] == '@') {
    ++pos;
  } else {
    auto name = ParseQuoted(text, &pos);
    if (!name) return std::nullopt;
    named.name = std::move(*name);
  }
  SkipSpaces(text, &pos);
  if (pos >= text.size() || text[pos] != '=') return std::nullopt;
  ++pos;
  SkipSpaces(text, &pos);
  auto value = ParseData(text.substr(pos));
  if (!value) return std::nullopt;
  named.value = std::move(*value);
  return named;
}

std::vector<std::string> FormatValueLines(const NamedValue& value) {
  const std::string prefix = FormatName(value.name) + "=";
  if (const auto text = PlainText(value.value)) return {prefix + Quote(*text)};
  if (value.value.type == REG_DWORD && value.value.data.size() == 4) {
    const auto& d = value.value.data;
    const uint32_t number = d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24);
    char text[24];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    return {prefix + text};
  }
  return FormatHex(prefix, value.value);
}

}  // namespace varnolt
