// The automation value: empty, a 16-bit or 32-bit integer, a boolean or text.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace varnolt {

class Variant {
 public:
  enum class Kind { kEmpty, kInt16, kInt32, kBool, kText };

  Variant() = default;
  static Variant Int16(int16_t v) { return Variant(Storage(std::in_place_index<1>, v)); }
  static Variant Int32(int32_t v) { return Variant(Storage(std::in_place_index<2>, v)); }
  static Variant Bool(bool v) { return Variant(Storage(std::in_place_index<3>, v)); }
  static Variant Text(std::string v) { return Variant(Storage(std::in_place_index<4>, std::move(v))); }

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool IsEmpty() const { return kind() == Kind::kEmpty; }
  bool IsNumber() const { return kind() == Kind::kInt16 || kind() == Kind::kInt32; }
  bool IsText() const { return kind() == Kind::kText; }

  // Accessors for a value known to be of that kind.
  int32_t AsNumber() const;  // kInt16 or kInt32
  bool AsBool() const { return std::get<3>(value_); }
  const std::string& AsText() const { return std::get<4>(value_); }

  // Conversion to a 32-bit integer with the classic rules: empty -> 0; a number
  // -> itself; text -> a decimal number, blanks around it allowed, a fraction
  // rounded half to even. Anything else throws ComError 13 "Type mismatch"; a
  // result outside the 32-bit range throws ComError 6 "Overflow".
  int32_t ToInt32() const;

  // Conversion to text: empty -> "", numbers in decimal, booleans "True"/"False".
  std::string ToText() const;

  bool operator==(const Variant& other) const = default;

 private:
  using Storage = std::variant<std::monostate, int16_t, int32_t, bool, std::string>;
  explicit Variant(Storage v) : value_(std::move(v)) {}
  Storage value_;
};

}  // namespace varnolt
