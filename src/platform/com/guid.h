// Class, interface and type-library identifiers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace varnolt {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any letter case).
  static std::optional<Guid> Parse(const std::string& text);
  // Parses a literal known to be well formed; aborts on a typo.
  static Guid FromLiteral(const char* text);
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
  std::string ToString() const;

  bool operator==(const Guid&) const = default;
};

using IID = Guid;
using CLSID = Guid;

}  // namespace varnolt
