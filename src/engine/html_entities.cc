#include <cstdint>
#include <string>
#include <string_view>

#include "engine/html_text.h"

namespace varnolt::engine {
namespace {

struct NamedEntity {
  std::string_view name;
  uint32_t code_point;
};

// The references that occur in mail; anything else is left as written.
constexpr NamedEntity kNamedEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", ' '},     {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"euro", 0x20AC},
    {"pound", 0xA3},   {"yen", 0xA5},     {"cent", 0xA2},    {"middot", 0xB7},  {"bull", 0x2022},
    {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013}, {"laquo", 0xAB},   {"raquo", 0xBB},
    {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"shy", 0xAD},
    {"eacute", 0xE9},  {"egrave", 0xE8},  {"aacute", 0xE1},  {"agrave", 0xE0},  {"iacute", 0xED},
    {"oacute", 0xF3},  {"uacute", 0xFA},  {"ntilde", 0xF1},  {"ccedil", 0xE7},  {"auml", 0xE4},
    {"ouml", 0xF6},    {"uuml", 0xFC},    {"szlig", 0xDF},   {"Auml", 0xC4},    {"Ouml", 0xD6},
    {"Uuml", 0xDC},    {"Eacute", 0xC9},
};

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Parses "#65", "#x41" at text[0..]; returns the characters used, 0 when malformed.
size_t ParseNumeric(std::string_view text, uint32_t* code_point) {
  size_t pos = 1;
  const bool hex = pos < text.size() && (text[pos] == 'x' || text[pos] == 'X');
  if (hex) ++pos;
  const size_t first_digit = pos;
  uint64_t value = 0;
  while (pos < text.size() && pos - first_digit < 8) {
    const char c = text[pos];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    value = value * (hex ? 16 : 10) + digit;
    ++pos;
  }
  if (pos == first_digit) return 0;
  // Out-of-range and surrogate numbers are what a browser shows as U+FFFD.
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
  *code_point = static_cast<uint32_t>(value);
  return pos;
}

}  // namespace

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendDecodedEntities(text, out);
  return out;
}

void AppendDecodedEntities(std::string_view text, std::string& out) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, amp - pos));
    const std::string_view rest = text.substr(amp + 1);
    uint32_t cp = 0;
    size_t used = 0;
    if (!rest.empty() && rest[0] == '#') {
      used = ParseNumeric(rest, &cp);
    } else {
      for (const NamedEntity& entity : kNamedEntities) {
        if (rest.substr(0, entity.name.size()) == entity.name) {
          cp = entity.code_point;
          used = entity.name.size();
          break;
        }
      }
    }
    if (used == 0) {
      out.push_back('&');
      pos = amp + 1;
      continue;
    }
    AppendUtf8(cp, out);
    pos = amp + 1 + used;
    if (pos < text.size() && text[pos] == ';') ++pos;
  }
}

}  // namespace varnolt::engine
