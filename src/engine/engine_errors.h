// Failures of the built-in spam engine. They travel as ComError; besides the
// runtime numbers (70 Permission denied, 76 Path not found) the engine uses
// these numbers of its own, each with a description that names the file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/com_error.h"

namespace varnolt::engine {

// The file is not a database of this engine (another program's file, not a
// database at all, or a directory). It is left untouched.
constexpr int32_t kErrorForeignDatabase = static_cast<int32_t>(0x80047601);
// The file is an engine database but damaged. It is left untouched.
constexpr int32_t kErrorCorruptDatabase = static_cast<int32_t>(0x80047602);
// Written by a newer version of the engine, in a format this one does not know.
constexpr int32_t kErrorNewerFormat = static_cast<int32_t>(0x80047603);
// Written by the earlier engine, whose model depended on the order of the
// mail; it is refused rather than mixed with counts. It is left untouched.
constexpr int32_t kErrorEarlierFormat = static_cast<int32_t>(0x80047606);
// Another process held the database for longer than the busy timeout.
constexpr int32_t kErrorDatabaseBusy = static_cast<int32_t>(0x80047604);
// Any other failure of the database (disk full, I/O error, ...).
constexpr int32_t kErrorDatabaseFailed = static_cast<int32_t>(0x80047605);

// A ComError for one of the numbers above: "Spam database <path> " + what.
ComError EngineError(int32_t number, const std::string& path, const std::string& what);

}  // namespace varnolt::engine
