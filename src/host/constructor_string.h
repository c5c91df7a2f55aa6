// The data folder named by the constructor string.
#pragma once

#include <string>

namespace varnolt {

// The first ";"-separated field, blanks (only " ") trimmed on both sides, with
// a "\" appended unless it already ends in one (a "/" does not count). An
// empty string has no first field: throws ComError 9 "Subscript out of range".
std::string DataFolderFromConstructorString(const std::string& constructor_string);

}  // namespace varnolt
