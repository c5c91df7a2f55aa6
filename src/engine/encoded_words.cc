#include "engine/encoded_words.h"

#include <cstdint>
#include <optional>

#include "engine/text_tokens.h"

namespace varnolt::engine {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const int v = Base64Value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

std::string DecodeQ(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out.push_back(' ');
    } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

struct EncodedWord {
  size_t length;
  std::string charset;
  std::string decoded;
};

// Parses "=?charset?X?text?=" at the start of text.
std::optional<EncodedWord> ParseEncodedWord(std::string_view text) {
  if (text.substr(0, 2) != "=?") return std::nullopt;
  const size_t q1 = text.find('?', 2);
  if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') return std::nullopt;
  const size_t end = text.find("?=", q1 + 3);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view payload = text.substr(q1 + 3, end - q1 - 3);
  const char encoding = static_cast<char>(text[q1 + 1] | 0x20);
  if (encoding != 'b' && encoding != 'q') return std::nullopt;
  std::string charset = FoldCase(text.substr(2, q1 - 2));
  if (const size_t star = charset.find('*'); star != std::string::npos) charset.resize(star);  // language suffix
  return EncodedWord{end + 2, std::move(charset), encoding == 'b' ? DecodeBase64(payload) : DecodeQ(payload)};
}

}  // namespace

std::string DecodeEncodedWords(std::string_view value, std::vector<std::string>* charsets) {
  std::string out;
  size_t pos = 0;
  size_t pending_blanks = 0;  // blanks after an encoded word, dropped if another follows
  bool after_word = false;
  while (pos < value.size()) {
    if (auto word = ParseEncodedWord(value.substr(pos))) {
      if (!after_word) out.append(value.substr(pos - pending_blanks, pending_blanks));
      out += word->decoded;
      charsets->push_back(std::move(word->charset));
      pos += word->length;
      pending_blanks = 0;
      after_word = true;
      continue;
    }
    const char c = value[pos++];
    if (c == ' ' || c == '\t') {
      ++pending_blanks;
      continue;
    }
    out.append(value.substr(pos - 1 - pending_blanks, pending_blanks));
    out.push_back(c);
    pending_blanks = 0;
    after_word = false;
  }
  if (!after_word) out.append(value.substr(value.size() - pending_blanks));
  return out;
}

}  // namespace varnolt::engine
