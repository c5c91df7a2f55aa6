// The mailbox store's error numbers, HRESULT-style (negative), with their fixed
// descriptions. Every store failure is a ComError carrying one of them.
//
//   number       name                  description
//   0x80047001   kStoreNotFound        "The item or folder does not exist"
//   0x80047002   kStoreAlreadyExists   "An item or folder of that name already exists"
//   0x80047003   kStoreParentNotFound  "The parent folder does not exist"
//   0x80047004   kStoreNotAFolder      "The target is not a folder"
//   0x80047005   kStoreNotAnItem       "The target is not an item"
//   0x80047006   kStoreInvalidUrl      "The URL does not name a place in a mailbox"
//   0x80047007   kStoreInvalidName     "The name is not allowed in the store"
//   0x80047008   kStoreInvalidArgument "The arguments are not a supported combination"
//   0x80047009   kStoreRecordClosed    "Operation is not allowed when the record is closed"
//   0x8004700A   kStoreRecordOpen      "Operation is not allowed when the record is open"
//   0x8004700B   kStoreReadOnly        "The record was opened read-only"
//   0x8004700C   kStorePropertyMissing "The item has no such property"
//   0x8004700D   kStorePropertyReadOnly"The property is computed by the store and cannot be written"
//   0x8004700E   kStoreBadValueType    "The value is of a type the store cannot hold"
//   0x8004700F   kStoreNoStream        "The field is not the content stream of an item"
//   0x80047010   kStoreFileOpenFailed  "File could not be opened"
//   0x80047011   kStoreSameFolder      "The item is already in that folder"
//   0x80047012   kStoreEventEnded      "The save event this object belongs to has ended"
//   0x80047013   kStoreEventAborted    "The event sink failed; the change was rolled back"
//   0x80047014   kStoreBusy            "The store is locked by another writer"
//   0x80047015   kStoreNotAStore       "The file is not a mailbox store this program can read"
//   0x80047016   kStoreDatabaseError   "The store's database failed" (+ ": " and the database's message)
//   0x80047017   kStoreForeignObject   "The connection belongs to another store"
//   0x80047018   kStoreEmptyMessage    "The message is empty: there is nothing to store"
//   0x80047019   kStoreFull            "The disk or the store is full"
//   0x8004701A   kStoreRootHoldsNoItems"A mailbox root holds folders only, no items"
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/com_error.h"

namespace varnolt {

enum StoreErrorNumber : int32_t {
  kStoreNotFound = static_cast<int32_t>(0x80047001u),
  kStoreAlreadyExists = static_cast<int32_t>(0x80047002u),
  kStoreParentNotFound = static_cast<int32_t>(0x80047003u),
  kStoreNotAFolder = static_cast<int32_t>(0x80047004u),
  kStoreNotAnItem = static_cast<int32_t>(0x80047005u),
  kStoreInvalidUrl = static_cast<int32_t>(0x80047006u),
  kStoreInvalidName = static_cast<int32_t>(0x80047007u),
  kStoreInvalidArgument = static_cast<int32_t>(0x80047008u),
  kStoreRecordClosed = static_cast<int32_t>(0x80047009u),
  kStoreRecordOpen = static_cast<int32_t>(0x8004700Au),
  kStoreReadOnly = static_cast<int32_t>(0x8004700Bu),
  kStorePropertyMissing = static_cast<int32_t>(0x8004700Cu),
  kStorePropertyReadOnly = static_cast<int32_t>(0x8004700Du),
  kStoreBadValueType = static_cast<int32_t>(0x8004700Eu),
  kStoreNoStream = static_cast<int32_t>(0x8004700Fu),
  kStoreFileOpenFailed = static_cast<int32_t>(0x80047010u),
  kStoreSameFolder = static_cast<int32_t>(0x80047011u),
  kStoreEventEnded = static_cast<int32_t>(0x80047012u),
  kStoreEventAborted = static_cast<int32_t>(0x80047013u),
  kStoreBusy = static_cast<int32_t>(0x80047014u),
  kStoreNotAStore = static_cast<int32_t>(0x80047015u),
  kStoreDatabaseError = static_cast<int32_t>(0x80047016u),
  kStoreForeignObject = static_cast<int32_t>(0x80047017u),
  kStoreEmptyMessage = static_cast<int32_t>(0x80047018u),
  kStoreFull = static_cast<int32_t>(0x80047019u),
  kStoreRootHoldsNoItems = static_cast<int32_t>(0x8004701Au),
};

// The fixed description of a store error number ("" for other numbers).
std::string StoreErrorDescription(int32_t number);

// A ComError with the number and its fixed description.
ComError StoreError(int32_t number);

// kStoreDatabaseError with the database's own message appended.
ComError StoreDatabaseError(const std::string& detail);

}  // namespace varnolt
