// A store record (an item or a folder) and the connection records are opened with.
// Failures throw ComError with the store's number and description.
#pragma once

#include <memory>
#include <string>

#include "platform/com/com_error.h"
#include "store/fields.h"
#include "store/store_options.h"

namespace varnolt {

class Connection;

class Record {
 public:
  virtual ~Record() = default;

  // Opens (or creates, by create_options) the record at the URL through the connection:
  //   open existing: kRead, kFailIfNotExists, kDelayFetchAll -> fails when nothing is there
  //   create folder: kReadWrite, kCreateCollection, kUnspecified -> fails when it exists
  //   create item:   kReadWrite, kCreateOverwrite, kUnspecified -> replaces an item of that name
  virtual void Open(const std::string& source, Connection& connection, ConnectMode mode,
                    RecordCreateOptions create_options, RecordOpenOptions open_options,
                    const std::string& user_name = "", const std::string& password = "") = 0;
  virtual Fields& GetFields() = 0;
  // The record's URL as it was created.
  virtual std::string Source() = 0;
  // The URL of the folder that holds the record.
  virtual std::string ParentURL() = 0;
  // Moves the item at source to destination; never overwrites (fails when the
  // destination exists). Returns the new URL.
  virtual std::string MoveRecord(const std::string& source, const std::string& destination,
                                 const std::string& user_name, const std::string& password,
                                 MoveRecordOptions options, bool async) = 0;
  virtual void Close() = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;
  // A fresh, unopened record bound to this store.
  virtual std::unique_ptr<Record> CreateRecord() = 0;
};

// record.Source(), or "" when even that fails: an error report must not fail itself.
inline std::string SourceForReport(Record& record) {
  try {
    return record.Source();
  } catch (const ComError&) {
    return "";
  }
}

}  // namespace varnolt
