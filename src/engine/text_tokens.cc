#include "engine/text_tokens.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace varnolt::engine {
namespace {

constexpr bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Inner punctuation that may stay inside a word ("don't", "e-mail", "$19.95",
// "www.example.com", "user@host"); stripped again at the word's ends.
constexpr bool IsInnerPunct(unsigned char c) {
  return c == '\'' || c == '-' || c == '_' || c == '.' || c == '@' || c == '$' || c == '%';
}

// Which ASCII bytes belong to words, looked up once per byte of text.
constexpr std::array<bool, 0x80> kAsciiWordBytes = [] {
  std::array<bool, 0x80> table{};
  for (unsigned char c = 0; c < 0x80; ++c) table[c] = IsAsciiAlnum(c) || IsInnerPunct(c);
  return table;
}();

// Decodes one UTF-8 sequence at text[pos]; false when it is not valid.
bool DecodeUtf8(std::string_view text, size_t pos, uint32_t* code_point, size_t* length) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  size_t n;
  uint32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07;
  } else {
    return false;
  }
  if (pos + n > text.size()) return false;
  for (size_t i = 1; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[pos + i]);
    if ((c & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (c & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    return false;
  }
  *code_point = cp;
  *length = n;
  return true;
}

// Unicode blanks and punctuation that separate words like ASCII ones do; a
// no-break space from "&nbsp;" must not glue two words together.
bool IsUnicodeSeparator(uint32_t cp) {
  return (cp >= 0xA0 && cp <= 0xBF) || cp == 0xD7 || cp == 0xF7 || (cp >= 0x2000 && cp <= 0x206F) ||
         (cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFF01 && cp <= 0xFF0F) || cp == 0xFEFF || cp == 0xFFFD;
}

char LongKind(unsigned char first) {
  if (first >= 0x80) return 'u';
  if (first >= '0' && first <= '9') return '9';
  if (IsAsciiAlnum(first)) return 'a';
  return 'p';
}

void EmitWord(std::string_view word, std::string_view prefix, const WordLimits& limits, TokenSink& sink) {
  while (!word.empty() && IsInnerPunct(word.back())) word.remove_suffix(1);
  while (!word.empty() && IsInnerPunct(word.front()) && word.front() != '$') word.remove_prefix(1);
  if (word.size() < limits.min_length) return;
  if (word.size() > limits.max_length) {
    const std::string kind(1, LongKind(static_cast<unsigned char>(word.front())));
    sink.Add(prefix, "long:" + kind + std::to_string(std::min<size_t>(word.size() / 10, 20)));
    return;
  }
  sink.AddFolded(prefix, word);
}

// FoldCase(text) == lower for an all-ASCII lower-case word, without making
// the folded copy (a body has many dots and colons to test).
bool FoldsTo(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') c += 32;
    if (c != static_cast<unsigned char>(lower[i])) return false;
  }
  return true;
}

size_t HostLength(std::string_view text, size_t start) {
  size_t end = start;
  while (end < text.size()) {
    const auto c = static_cast<unsigned char>(text[end]);
    if (!IsAsciiAlnum(c) && c != '.' && c != '-' && c != '_') break;
    ++end;
  }
  return end - start;
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // U+00C0..U+00DE except U+00D7 are the Latin-1 capitals.
      const auto next = static_cast<unsigned char>(out[i + 1]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) out[i + 1] = static_cast<char>(next + 0x20);
      ++i;
    }
  }
  return out;
}

void AddWords(std::string_view text, std::string_view prefix, const WordLimits& limits, TokenSink& sink) {
  size_t start = std::string_view::npos;
  size_t pos = 0;
  while (pos < text.size() && !sink.full()) {
    const auto c = static_cast<unsigned char>(text[pos]);
    size_t step = 1;
    bool letter;
    if (c < 0x80) {
      letter = kAsciiWordBytes[c];
    } else {
      uint32_t cp = 0;
      size_t length = 0;
      if (DecodeUtf8(text, pos, &cp, &length)) {
        step = length;
        letter = !IsUnicodeSeparator(cp);
      } else {
        letter = true;
      }
    }
    if (letter) {
      if (start == std::string_view::npos) start = pos;
    } else if (start != std::string_view::npos) {
      EmitWord(text.substr(start, pos - start), prefix, limits, sink);
      start = std::string_view::npos;
    }
    pos += step;
  }
  if (start != std::string_view::npos) EmitWord(text.substr(start), prefix, limits, sink);
}

bool IsIpAddress(std::string_view host) {
  int parts = 0;
  size_t digits = 0;
  for (char c : host) {
    if (c >= '0' && c <= '9') {
      if (++digits > 3) return false;
    } else if (c == '.') {
      if (digits == 0) return false;
      ++parts;
      digits = 0;
    } else {
      return false;
    }
  }
  return parts == 3 && digits > 0;
}

void AddHost(std::string_view host, std::string_view prefix, TokenSink& sink) {
  while (!host.empty() && (host.back() == '.' || host.back() == '-')) host.remove_suffix(1);
  while (!host.empty() && (host.front() == '.' || host.front() == '-')) host.remove_prefix(1);
  if (host.empty() || host.size() > 100) return;
  const std::string folded = FoldCase(host);
  std::string_view h = folded;
  if (IsIpAddress(h)) {
    sink.Add(prefix, "ip");
    sink.Add(prefix, h);
    const size_t last = h.rfind('.');
    sink.Add(prefix, h.substr(0, last));
    sink.Add(prefix, h.substr(0, h.rfind('.', last - 1)));
    return;
  }
  sink.Add(prefix, h);
  // Parent domains down to two labels: mail.example.com -> example.com.
  for (size_t dot = h.find('.'); dot != std::string_view::npos; dot = h.find('.')) {
    h.remove_prefix(dot + 1);
    if (h.find('.') == std::string_view::npos) break;
    sink.Add(prefix, h);
  }
}

void AddUrlHosts(std::string_view text, TokenSink& sink) {
  auto ends_with_scheme = [&](size_t colon) {
    for (std::string_view scheme : {"http", "https", "ftp"}) {
      if (colon >= scheme.size() && FoldsTo(text.substr(colon - scheme.size(), scheme.size()), scheme)) return true;
    }
    return false;
  };
  auto find_www = [&](size_t from) {
    for (size_t at = text.find('.', from); at != std::string_view::npos; at = text.find('.', at + 1)) {
      if (at >= from + 3 && FoldsTo(text.substr(at - 3, 3), "www")) return at - 3;
    }
    return std::string_view::npos;
  };
  size_t count = 0;
  size_t pos = 0;
  size_t www = find_www(0);
  while (!sink.full()) {
    // The next "scheme://" or bare "www.", whichever comes first.
    size_t scheme = text.find("://", pos);
    while (scheme != std::string_view::npos && !ends_with_scheme(scheme)) scheme = text.find("://", scheme + 3);
    if (www != std::string_view::npos && www < pos) www = find_www(pos);
    if (scheme == std::string_view::npos && www == std::string_view::npos) break;
    size_t host = std::min(scheme == std::string_view::npos ? www : scheme + 3, www);
    size_t length = HostLength(text, host);
    // "http://trusted.example@203.0.113.9/" really goes to the host after "@".
    if (host + length < text.size() && text[host + length] == '@') {
      sink.Add("url:", "userinfo");
      host += length + 1;
      length = HostLength(text, host);
    }
    if (length > 0) {
      AddHost(text.substr(host, length), "url:", sink);
      ++count;
    }
    pos = host + std::max<size_t>(length, 1);
  }
  if (count > 0) sink.Add("url:count:", std::to_string(std::min<size_t>(count, 10)));
}

}  // namespace varnolt::engine
