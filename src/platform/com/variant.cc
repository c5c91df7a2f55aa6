#include "platform/com/variant.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/com/com_error.h"

namespace varnolt {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Parses "[sign]digits[.digits][e[sign]digits]" with blanks around it; the
// whole text must be used. Returns false for anything else.
bool ParseDecimal(const std::string& text, double* out) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return false;
  const std::string core = text.substr(begin, end - begin);
  size_t i = 0;
  if (core[i] == '+' || core[i] == '-') ++i;
  size_t digits = 0;
  while (i < core.size() && std::isdigit(static_cast<unsigned char>(core[i]))) ++i, ++digits;
  if (i < core.size() && core[i] == '.') {
    ++i;
    while (i < core.size() && std::isdigit(static_cast<unsigned char>(core[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < core.size() && (core[i] == 'e' || core[i] == 'E')) {
    ++i;
    if (i < core.size() && (core[i] == '+' || core[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < core.size() && std::isdigit(static_cast<unsigned char>(core[i]))) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (i != core.size()) return false;
  *out = std::strtod(core.c_str(), nullptr);
  return true;
}

}  // namespace

int32_t Variant::AsNumber() const {
  if (kind() == Kind::kInt16) return std::get<1>(value_);
  return std::get<2>(value_);
}

int32_t Variant::ToInt32() const {
  switch (kind()) {
    case Kind::kEmpty: return 0;
    case Kind::kInt16:
    case Kind::kInt32: return AsNumber();
    case Kind::kText: {
      double parsed = 0;
      if (!ParseDecimal(AsText(), &parsed)) throw RuntimeError(kTypeMismatch);
      const double rounded = std::nearbyint(parsed);  // default mode rounds half to even
      if (!std::isfinite(rounded) || rounded < std::numeric_limits<int32_t>::min() ||
          rounded > std::numeric_limits<int32_t>::max()) {
        throw RuntimeError(kOverflow);
      }
      return static_cast<int32_t>(rounded);
    }
    case Kind::kBool: break;
  }
  throw RuntimeError(kTypeMismatch);
}

std::string Variant::ToText() const {
  switch (kind()) {
    case Kind::kEmpty: return "";
    case Kind::kInt16:
    case Kind::kInt32: return std::to_string(AsNumber());
    case Kind::kBool: return AsBool() ? "True" : "False";
    case Kind::kText: return AsText();
  }
  return "";
}

}  // namespace varnolt
