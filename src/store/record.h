// A store record (an item or a folder) and the connection records are opened with.
// Failures throw ComError with the store's number and description.
#pragma once

#include <memory>
#include <string>

#include "platform/com/guid.h"
#include "platform/com/unknown.h"
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

inline const IID IID_IExStoreDispEventInfo = Guid::FromLiteral("{9DA0E110-86CE-11D1-8699-00C04FB98036}");

// The event information the store passes with each save event.
class IExStoreDispEventInfo : public IUnknown {
 public:
  // The record of the item being saved.
  virtual std::shared_ptr<Record> EventRecord() = 0;
  // The connection of the event; changes made through it raise no further events.
  virtual std::shared_ptr<Connection> EventConnection() = 0;
};

}  // namespace varnolt
