// The mailbox store: mailboxes, folders and items with their content and
// properties in one SQLite database, and the host operations that raise the
// store's events on a registered filter.
//
// URLs have the form file://./backofficestorage/<domain>/MBX/<user>/<folder path>/<item name>
// with no trailing "/". Lookups ignore letter case (ASCII); every URL the store
// reports is spelled as it was created.
//
// Every failure throws ComError with one of the store's numbers (store_errors.h).
// A MailStore and everything obtained from it are used by one thread at a time.
// Several processes may open the same database file at once: writes are
// serialised by the database, and a writer waits up to 60 s for another one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "store/record.h"
#include "store/store_events.h"

namespace varnolt {

// Names of the folders every new mailbox gets, in creation order.
inline constexpr const char* kStandardFolders[] = {"Inbox", "Sent Items", "Deleted Items", "Drafts", "Junk E-Mail"};

struct DeliveryOptions {
  // Submitted inside the organisation: sender address type "EX" and no
  // transport headers. Otherwise the mail came from outside: "SMTP" and the
  // header block as received.
  bool internal = false;
  // The item name in full ("Hello.EML"); empty: the subject + ".EML".
  // Either way "-2", "-3"... go before the extension when the name is taken.
  std::string item_name;
};

struct MailboxName {
  std::string domain;
  std::string user;
};

// One item of a folder, for listings.
struct ItemSummary {
  std::string url;
  std::string name;
  std::string subject;  // "urn:schemas:httpmail:subject", "" when missing
  std::string from;     // "urn:schemas:mailheader:from", "" when missing
  // The X-Varnolt marker as a number; nullopt when the item has none or it is no number.
  std::optional<int32_t> marker;
  bool hidden = false;  // property x67aa000b is true
  // The store's number for the item: unique in the store and kept for the
  // item's life (a move keeps it); ItemUrlById finds the item by it.
  int64_t id = 0;
  int64_t size = 0;  // bytes of content
  // The Date header as seconds since 1970 (UTC); nullopt when missing or unreadable.
  std::optional<int64_t> date;
};

// One folder of a mailbox, for the folder tree.
struct FolderSummary {
  std::string url;
  std::string path;  // below the mailbox root: "Inbox", "Inbox/Sub"
  int depth = 0;     // 0 for a top-level folder
  int64_t item_count = 0;
};

// Everything the store knows about one item or folder.
struct RecordView {
  std::string url;
  std::string parent;  // the DAV:parentname form
  bool is_folder = false;
  // Stored, derived and computed properties, sorted by name (letter case ignored).
  std::vector<std::pair<std::string, Variant>> properties;
};

// What the sink of a save event receives, before the store hands it over: a
// test may wrap both (fault injection: tests/support/faulty_connection.h).
struct EventParts {
  std::shared_ptr<Connection> connection;
  std::shared_ptr<Record> record;
};
using EventWrapper = std::function<EventParts(EventParts)>;

class MailStore {
 public:
  // Opens the store in the database file at path, creating the schema in a new
  // or empty file; ":memory:" gives a private in-memory store. A new file is
  // created readable and writable by its owner and group only (mode 0660 less
  // the umask), and so are the database's journal files. Fails with
  // kStoreNotFound when create_if_missing is false and the file does not
  // exist, kStoreNotAStore for a file that is not a store of a version this
  // code reads (left exactly as it was), kStoreDatabaseError when the file
  // cannot be opened.
  static std::unique_ptr<MailStore> Open(const std::string& path, bool create_if_missing = true);
  // Opens an existing store for lookups: the file is only read, so that a
  // command that only looks something up costs no write (nor the creation and
  // removal of the journal files). A change through it fails. A file that must
  // be written before it can be read (an empty file, a store of an earlier
  // release) is opened as Open(path, false) opens it. Fails as Open does.
  static std::unique_ptr<MailStore> OpenForReading(const std::string& path);
  ~MailStore();
  MailStore(const MailStore&) = delete;
  MailStore& operator=(const MailStore&) = delete;

  // The shared URL forms of platform/names/data_layout.h, here for callers
  // that hold a store: "file://./backofficestorage/" + domain + "/MBX/" + user.
  static std::string MailboxUrl(const std::string& domain, const std::string& user);
  // The mailbox URL + "/" + path ("Inbox/Sub"; "/" separated, no leading or
  // trailing "/" needed). Pure text; nothing is looked up.
  static std::string FolderUrl(const std::string& domain, const std::string& user, const std::string& path);

  // ---- Provisioning (raise no events) ----

  // Creates the mailbox root (content class folder, and the
  // urn:schemas:httpmail: deleteditems, inbox, sentitems, drafts URLs of its
  // folders) with the standard folders. A domain that other mailboxes have
  // already (letter case ignored) is spelt as they spell it. Returns the
  // root's URL. Fails with kStoreAlreadyExists when the mailbox exists,
  // kStoreInvalidName for an empty domain or user, one holding "/", "\", a
  // control character, or being "." or "..", a user of more than 64 bytes
  // or a domain of more than 255.
  std::string AddMailbox(const std::string& domain, const std::string& user);

  // Every mailbox, ordered by domain then user (letter case ignored).
  std::vector<MailboxName> ListMailboxes();

  // Creates a folder (content class folder, folder class "IPF.Note") at the
  // URL; its parent must exist and be a folder of a mailbox. Returns the
  // folder's URL. Fails with kStoreAlreadyExists, kStoreParentNotFound,
  // kStoreNotAFolder, kStoreInvalidUrl or kStoreInvalidName.
  std::string AddFolder(const std::string& folder_url);

  // ---- Sinks ----

  // The filter that receives save events; null unregisters. Held as a COM
  // reference until replaced or the store is destroyed.
  void RegisterSyncSink(ComPtr<IExStoreSyncEvents> sink);
  // The filter that receives the system events; null unregisters.
  void RegisterSystemSink(ComPtr<IExStoreSystemEvents> sink);
  // Applied to the connection and item record of every save event before the
  // sink sees them; an empty function removes it.
  void SetEventWrapper(EventWrapper wrapper);

  // ---- Host operations (raise events) ----
  //
  // Each runs in one write transaction: the change is made, the save event is
  // raised synchronously on the sync sink (if any) with the event's own
  // connection (changes through it raise no further events), and the
  // transaction commits after the sink returns. When the sink returns a
  // failure status the change is rolled back and the operation fails with
  // kStoreEventAborted. A process that dies before the commit leaves the store
  // as it was before the operation. Must not be called from inside a sink.

  // Stores the message as delivered mail in the folder and raises the event
  // with kEventFlagsDelivery. A leading envelope line ("From " ...) and the
  // header lines "X-Varnolt" of the message's own header block are removed;
  // every other byte is stored as given. Returns the URL of the item after
  // the event (where the filter left it, e.g. in a junk folder), or "" when
  // the filter removed it. Fails with kStoreEmptyMessage when nothing is left
  // to store, kStoreNotFound / kStoreNotAFolder for the folder,
  // kStoreRootHoldsNoItems for a mailbox root, kStoreInvalidName for a bad
  // options.item_name.
  std::string Deliver(const std::string& folder_url, const std::string& bytes, const DeliveryOptions& options = {});

  // A user's move of an item into another folder, under the same name or,
  // when that is taken, the next free "-2", "-3"... name; raises the event
  // with kEventFlagsUserMove. Returns the item's URL after the event. Fails
  // with kStoreNotFound (item or folder), kStoreNotAnItem, kStoreNotAFolder,
  // kStoreSameFolder, kStoreRootHoldsNoItems.
  std::string MoveItem(const std::string& item_url, const std::string& folder_url);

  // A client creating an item in a folder with the given name (free name
  // chosen as for delivery) and content, stored as given (a client's own
  // X-Varnolt lines stay: they model a copy of a judged message) and saved as
  // mail submitted inside the organisation; raises the event with
  // kEventFlagsClientCreate. Returns the item's URL after the event. Fails
  // with kStoreRootHoldsNoItems for a mailbox root.
  std::string CreateItem(const std::string& folder_url, const std::string& name, const std::string& bytes);

  // Raises a save event with exactly these flags on an existing item or
  // folder, in a write transaction of its own. Returns the item's URL after
  // the event ("" when it is gone).
  std::string RaiseSaveEvent(const std::string& url, int32_t flags);

  // The system events on the system sink (nothing happens without one). The
  // store's identifier is a GUID made when the database was created; its name
  // is "Mailbox Store". A failure status of the sink is thrown as its ComError.
  void RaiseStartup();
  void RaiseShutdown();
  void RaiseTimer();

  // ---- Reading ----

  // The items (not subfolders) of a folder, in the order they came into the
  // store (a moved item keeps its place).
  std::vector<ItemSummary> ListItems(const std::string& folder_url);
  // The folder tree of a mailbox, depth first, siblings by name.
  std::vector<FolderSummary> ListFolders(const std::string& domain, const std::string& user);
  // One item or folder with all its properties; kStoreNotFound when missing.
  RecordView Describe(const std::string& url);
  // An item's content, byte for byte; kStoreNotFound, kStoreNotAnItem.
  std::string ReadContent(const std::string& item_url);

  // A connection for reading and writing records directly. Changes through it
  // raise no events; each write commits on its own. Valid as long as the
  // store; do not use it while a save event of this store is running.
  std::shared_ptr<Connection> Connect();

  // The store's identifier (a GUID text in braces).
  std::string StoreGuid();

  // ---- Administration (mail_store_admin.cc; raise no events) ----

  // The URL of the item with the number ItemSummary::id gave; nullopt when
  // no item (folders never) has it.
  std::optional<std::string> ItemUrlById(int64_t id);

  // The URLs of the items whose Message-ID header is message_id, compared
  // without the angle brackets and blanks around it, letter case kept; in
  // the order the items came into the store.
  std::vector<std::string> FindItemsByMessageId(const std::string& message_id);

  // One stored property of an item or folder (name case ignored); nullopt
  // when it has none. kStoreNotFound when nothing is at the URL. Cheaper than
  // Describe, which computes every property.
  std::optional<Variant> StoredProperty(const std::string& url, const std::string& name);

  // The number of items in all folders of the mailbox; kStoreNotFound when
  // there is no such mailbox.
  int64_t CountMailboxItems(const std::string& domain, const std::string& user);

  // Deletes the mailbox with every folder and item in it, in one transaction.
  // Fails with kStoreNotFound when there is no such mailbox.
  void RemoveMailbox(const std::string& domain, const std::string& user);

 private:
  struct Impl;
  explicit MailStore(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnolt
