#include "backends/mailstore/store_errors.h"

namespace varnolt {

std::string StoreErrorDescription(int32_t number) {
  switch (number) {
    case kStoreNotFound: return "The item or folder does not exist";
    case kStoreAlreadyExists: return "An item or folder of that name already exists";
    case kStoreParentNotFound: return "The parent folder does not exist";
    case kStoreNotAFolder: return "The target is not a folder";
    case kStoreNotAnItem: return "The target is not an item";
    case kStoreInvalidUrl: return "The URL does not name a place in a mailbox";
    case kStoreInvalidName: return "The name is not allowed in the store";
    case kStoreInvalidArgument: return "The arguments are not a supported combination";
    case kStoreRecordClosed: return "Operation is not allowed when the record is closed";
    case kStoreRecordOpen: return "Operation is not allowed when the record is open";
    case kStoreReadOnly: return "The record was opened read-only";
    case kStorePropertyMissing: return "The item has no such property";
    case kStorePropertyReadOnly: return "The property is computed by the store and cannot be written";
    case kStoreBadValueType: return "The value is of a type the store cannot hold";
    case kStoreNoStream: return "The field is not the content stream of an item";
    case kStoreFileOpenFailed: return "File could not be opened";
    case kStoreSameFolder: return "The item is already in that folder";
    case kStoreEventEnded: return "The save event this object belongs to has ended";
    case kStoreEventAborted: return "The event sink failed; the change was rolled back";
    case kStoreBusy: return "The store is locked by another writer";
    case kStoreNotAStore: return "The file is not a mailbox store this program can read";
    case kStoreDatabaseError: return "The store's database failed";
    case kStoreForeignObject: return "The connection belongs to another store";
    case kStoreEmptyMessage: return "The message is empty: there is nothing to store";
    case kStoreFull: return "The disk or the store is full";
    case kStoreRootHoldsNoItems: return "A mailbox root holds folders only, no items";
    default: return "";
  }
}

ComError StoreError(int32_t number) { return ComError(number, StoreErrorDescription(number)); }

ComError StoreDatabaseError(const std::string& detail) {
  return ComError(kStoreDatabaseError, StoreErrorDescription(kStoreDatabaseError) + ": " + detail);
}

}  // namespace varnolt
