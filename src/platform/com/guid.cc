#include "platform/com/guid.h"

#include <cstdio>
#include <cstdlib>

namespace varnolt {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<Guid> Guid::Parse(const std::string& text) {
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return std::nullopt;
  std::string hex;
  for (size_t i = 0; i < s.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    if (HexValue(s[i]) < 0) return std::nullopt;
    hex += s[i];
  }
  auto byte_at = [&](size_t i) { return static_cast<uint8_t>(HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1])); };
  Guid g;
  g.data1 = (uint32_t{byte_at(0)} << 24) | (uint32_t{byte_at(1)} << 16) | (uint32_t{byte_at(2)} << 8) | byte_at(3);
  g.data2 = static_cast<uint16_t>((byte_at(4) << 8) | byte_at(5));
  g.data3 = static_cast<uint16_t>((byte_at(6) << 8) | byte_at(7));
  for (size_t i = 0; i < 8; ++i) g.data4[i] = byte_at(8 + i);
  return g;
}

Guid Guid::FromLiteral(const char* text) {
  auto g = Parse(text);
  if (!g) std::abort();
  return *g;
}

std::string Guid::ToString() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
  return buf;
}

}  // namespace varnolt
