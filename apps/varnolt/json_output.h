// JSON output of the commands that offer --json.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "platform/com/variant.h"

namespace varnolt::cli {

using Json = nlohmann::ordered_json;

// empty -> null, numbers -> numbers, booleans -> booleans, text -> string.
Json JsonValue(const Variant& value);

// The document indented by two, with a final line break. Bytes that are not
// UTF-8 (8-bit headers of old mail) become U+FFFD instead of failing the output.
std::string JsonText(const Json& document);

}  // namespace varnolt::cli
