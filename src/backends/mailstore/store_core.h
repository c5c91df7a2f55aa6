// The store's data on one database connection: mailboxes, folders and items
// (nodes), their content and properties. Shared by the MailStore, its
// connections and records. Callers open the write transactions; every
// method here only reads or writes inside whatever is open.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/mailstore/message_properties.h"
#include "backends/sqlite/database.h"
#include "platform/com/variant.h"

namespace varnolt::mailstore {

using sqlite::Database;
using sqlite::Statement;
using sqlite::WriteTransaction;

struct Node {
  int64_t id = 0;
  int64_t parent_id = 0;  // 0 for a mailbox root
  std::string url;        // as created
  std::string name;
  bool is_folder = false;
  bool outside = false;  // the content came from outside the organisation
};

class StoreCore {
 public:
  // Opens the database and creates or checks the schema.
  static std::shared_ptr<StoreCore> Open(const std::string& path, bool create_if_missing);
  // Opens an existing store for reading only: nothing is written to the file,
  // its journal mode included. nullptr when the file must be written before it
  // can be read (an empty file, a store of an earlier release): Open does that.
  // Throws kStoreNotFound, kStoreNotAStore.
  static std::shared_ptr<StoreCore> OpenReadOnly(const std::string& path);

  Database& db() { return *db_; }
  const std::string& guid() const { return guid_; }

  // Lookups ignore letter case.
  std::optional<Node> Find(const std::string& url);
  std::optional<Node> FindById(int64_t id);
  // The node at the URL; throws kStoreNotFound.
  Node Require(const std::string& url);
  // The folder at the URL; throws kStoreNotFound, kStoreNotAFolder.
  Node RequireFolder(const std::string& url);

  // A mailbox root and its row; throws kStoreAlreadyExists, kStoreInvalidName.
  Node CreateMailboxRoot(const std::string& domain, const std::string& user);
  struct MailboxRow {
    std::string domain;
    std::string user;
  };
  std::vector<MailboxRow> Mailboxes();

  // A new folder at the URL, without properties. Throws kStoreInvalidUrl,
  // kStoreInvalidName, kStoreParentNotFound, kStoreNotAFolder, kStoreAlreadyExists.
  Node CreateFolder(const std::string& url);
  // A new empty item named exactly name in the folder; kStoreAlreadyExists
  // when taken, kStoreRootHoldsNoItems when the folder is a mailbox root.
  Node CreateItem(const Node& folder, const std::string& name, bool outside);
  // A new empty item at the URL, replacing an item (not a folder) there.
  Node CreateOrReplaceItem(const std::string& url);
  // name, or the first free of its "-2", "-3"... forms, in the folder.
  std::string FreeName(const Node& folder, const std::string& name);

  // Moves an item to the URL (parent folder + name); never overwrites, never
  // into a mailbox root (kStoreRootHoldsNoItems). Returns the moved node.
  Node MoveItem(const Node& item, const std::string& destination_url);

  // Stores the content and replaces the properties derived from the previous
  // content with those of the new one (derived: computed beforehand, so that
  // parsing can happen outside the write lock).
  void SaveContent(const Node& item, std::string_view bytes, const PropertyList* derived = nullptr);
  std::string Content(const Node& item);

  // Stored properties only; lookups ignore letter case.
  std::optional<Variant> StoredProperty(int64_t id, const std::string& name);
  void SetProperty(int64_t id, const std::string& name, const Variant& value, bool derived);
  // Stored plus computed properties (DAV:href, parentname, displayname, iscollection).
  std::optional<Variant> Property(const Node& node, const std::string& name);
  // Every property, sorted by name ignoring letter case.
  PropertyList AllProperties(const Node& node);

  std::vector<Node> Children(int64_t folder_id, bool folders);

 private:
  enum class FileKind { kEmpty, kStore, kEarlierStore, kOther };
  // What the open file holds, by its signature (application id and schema version).
  FileKind ClassifyFile();
  // Whether every table of the store's schema is there.
  bool HasStoreTables();
  explicit StoreCore(std::unique_ptr<Database> db) : db_(std::move(db)) {}
  void PrepareSchema();
  // Reads the store's identifier; false when the file is not yet a store of this version.
  bool ReadIdentity();
  // The existing folder that would hold a node at the URL; *name gets the
  // URL's last segment. Throws kStoreInvalidUrl, kStoreInvalidName,
  // kStoreParentNotFound, kStoreNotAFolder.
  Node ParentFolderOf(const std::string& url, std::string* name);
  Node InsertNode(int64_t parent_id, const std::string& url, const std::string& name, bool is_folder, bool outside);
  void DeleteNode(int64_t id);

  std::unique_ptr<Database> db_;
  std::string guid_;
};

// True for the properties the store computes on every read.
bool IsComputedProperty(const std::string& name);
// The URL of the folder holding the node at url (the text before the last "/").
std::string ParentUrlOf(const std::string& url);

}  // namespace varnolt::mailstore
