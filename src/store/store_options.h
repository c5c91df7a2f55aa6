// The numeric options of the store's record operations, with their original values.
#pragma once

#include <cstdint>

namespace varnolt {

enum class ConnectMode : int32_t {
  kRead = 1,       // adModeRead
  kReadWrite = 3,  // adModeReadWrite
};

enum class RecordCreateOptions : int32_t {
  kFailIfNotExists = -1,         // adFailIfNotExists: open existing
  kCreateCollection = 0x2000,    // adCreateCollection: create a folder
  kCreateOverwrite = 0x4000000,  // adCreateOverwrite: create an item, replacing one of that name
};

enum class RecordOpenOptions : int32_t {
  kUnspecified = -1,            // adOpenRecordUnspecified
  kDelayFetchStream = 0x4000,   // adDelayFetchStream
  kDelayFetchFields = 0x8000,   // adDelayFetchFields
  kDelayFetchAll = 0xC000,      // both of the above
};

enum class MoveRecordOptions : int32_t {
  kUnspecified = -1,  // adMoveUnspecified: never overwrites
};

enum class StreamType : int32_t {
  kBinary = 1,  // adTypeBinary
  kText = 2,    // adTypeText
};

// Field.Status of a property the item does not have (adFieldDoesNotExist).
constexpr int32_t kFieldDoesNotExist = 16;
constexpr int32_t kFieldOK = 0;

// Fields.Item index of the item's content stream (adDefaultStream).
constexpr int32_t kDefaultStream = -1;

}  // namespace varnolt
