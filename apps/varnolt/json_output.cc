#include "varnolt/json_output.h"

namespace varnolt::cli {

Json JsonValue(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::kEmpty:
      return nullptr;
    case Variant::Kind::kInt16:
    case Variant::Kind::kInt32:
      return value.AsNumber();
    case Variant::Kind::kBool:
      return value.AsBool();
    case Variant::Kind::kText:
      return value.AsText();
  }
  return nullptr;
}

std::string JsonText(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace varnolt::cli
