#include "backends/mailstore/store_core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "backends/mailstore/store_errors.h"
#include "backends/mailstore/store_names.h"
#include "backends/system/new_files.h"
#include "platform/com/guid.h"
#include "platform/names/data_layout.h"
#include "platform/names/file_ids.h"
#include "store/property_names.h"

namespace varnolt::mailstore {
namespace {

constexpr mode_t kNewFileMode = 0660;

// The file header's application id marks a mailbox store. Stores of the first
// releases carry the id the spam engine's models carried too; such a store is
// re-marked when it is opened.
constexpr int64_t kApplicationId = kMailStoreApplicationId;
constexpr int64_t kSharedApplicationId = kEarlierSharedApplicationId;
constexpr int64_t kSchemaVersion = 1;
// The tables of schema version 1, all of which a store re-marked in place must have.
constexpr const char* kStoreTables[] = {"store_info", "nodes", "mailboxes", "contents", "properties"};

constexpr const char* kSchema = R"sql(
CREATE TABLE store_info(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE nodes(
  id INTEGER PRIMARY KEY,
  parent_id INTEGER REFERENCES nodes(id),
  url TEXT NOT NULL,
  url_key TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  is_folder INTEGER NOT NULL,
  outside INTEGER NOT NULL DEFAULT 0);
CREATE INDEX nodes_by_parent ON nodes(parent_id, is_folder, id);
CREATE TABLE mailboxes(
  domain TEXT NOT NULL,
  user TEXT NOT NULL,
  root_id INTEGER NOT NULL UNIQUE REFERENCES nodes(id));
CREATE TABLE contents(
  node_id INTEGER PRIMARY KEY REFERENCES nodes(id) ON DELETE CASCADE,
  bytes BLOB NOT NULL);
CREATE TABLE properties(
  id INTEGER PRIMARY KEY,
  node_id INTEGER NOT NULL REFERENCES nodes(id) ON DELETE CASCADE,
  name_key TEXT NOT NULL,
  name TEXT NOT NULL,
  kind INTEGER NOT NULL,
  value NOT NULL,
  derived INTEGER NOT NULL,
  UNIQUE(node_id, name_key));
)sql";

constexpr const char* kNodeColumns = "id, IFNULL(parent_id, 0), url, name, is_folder, outside";

std::string NewGuidText() {
  std::random_device random;
  Guid guid;
  guid.data1 = random();
  guid.data2 = static_cast<uint16_t>(random());
  guid.data3 = static_cast<uint16_t>((random() & 0x0FFF) | 0x4000);
  for (auto& byte : guid.data4) byte = static_cast<uint8_t>(random());
  guid.data4[0] = static_cast<uint8_t>((guid.data4[0] & 0x3F) | 0x80);
  return guid.ToString();
}

Node ReadNode(Statement& row) {
  return Node{row.Int(0), row.Int(1), row.Text(2), row.Text(3), row.Int(4) != 0, row.Int(5) != 0};
}

Variant ReadValue(Statement& row, int kind_column, int value_column) {
  switch (static_cast<Variant::Kind>(row.Int(kind_column))) {
    case Variant::Kind::kInt16: return Variant::Int16(static_cast<int16_t>(row.Int(value_column)));
    case Variant::Kind::kInt32: return Variant::Int32(static_cast<int32_t>(row.Int(value_column)));
    case Variant::Kind::kBool: return Variant::Bool(row.Int(value_column) != 0);
    case Variant::Kind::kText: return Variant::Text(row.Blob(value_column));
    case Variant::Kind::kEmpty: break;
  }
  return Variant();
}

bool LessIgnoringCase(const std::pair<std::string, Variant>& a, const std::pair<std::string, Variant>& b) {
  return LowerKey(a.first) < LowerKey(b.first);
}

}  // namespace

bool IsComputedProperty(const std::string& name) {
  const std::string key = LowerKey(name);
  return key == "dav:href" || key == "dav:parentname" || key == "dav:displayname" || key == "dav:iscollection";
}

std::string ParentUrlOf(const std::string& url) {
  const size_t slash = url.rfind('/');
  return slash == std::string::npos ? "" : url.substr(0, slash);
}

namespace {

// SQLite's failures as the store's numbers.
[[noreturn]] void ThrowStoreFailure(int code, const std::string& message) {
  if ((code & 0xFF) == SQLITE_BUSY) throw StoreError(kStoreBusy);
  if ((code & 0xFF) == SQLITE_NOTADB) throw StoreError(kStoreNotAStore);
  if ((code & 0xFF) == SQLITE_FULL) throw StoreError(kStoreFull);
  throw StoreDatabaseError(message);
}

}  // namespace

std::shared_ptr<StoreCore> StoreCore::Open(const std::string& path, bool create_if_missing) {
  struct stat st {};
  const bool memory = path == ":memory:";
  if (!memory && !create_if_missing && ::stat(path.c_str(), &st) != 0) throw StoreError(kStoreNotFound);
  if (!memory && create_if_missing) {
    // Mail is private: the file is made here, as SQLite would make it world-readable;
    // its journal files take its mode and owner. An existing file keeps the mode it has.
    CreateFileIfMissing(path, kNewFileMode);
  }
  sqlite::OpenOptions options;
  options.create_if_missing = create_if_missing;
  std::shared_ptr<StoreCore> core(new StoreCore(Database::Open(path, options, ThrowStoreFailure)));
  core->PrepareSchema();
  return core;
}

std::shared_ptr<StoreCore> StoreCore::OpenReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw StoreError(kStoreNotFound);
  sqlite::OpenOptions options;
  options.create_if_missing = false;
  options.read_only = true;
  std::shared_ptr<StoreCore> core(new StoreCore(Database::Open(path, options, ThrowStoreFailure)));
  return core->ReadIdentity() ? core : nullptr;
}

bool StoreCore::ReadIdentity() {
  // One read transaction for the signature and the identifier.
  db_->Exec("BEGIN");
  const FileKind kind = ClassifyFile();
  if (kind == FileKind::kOther) throw StoreError(kStoreNotAStore);
  if (kind == FileKind::kStore) {
    Statement guid(*db_, "SELECT value FROM store_info WHERE key = 'guid'");
    if (!guid.Step()) throw StoreError(kStoreNotAStore);
    guid_ = guid.Text(0);
  }
  db_->Exec("COMMIT");
  return kind == FileKind::kStore;
}

StoreCore::FileKind StoreCore::ClassifyFile() {
  const int64_t application_id = db_->QueryInt("PRAGMA application_id");
  const int64_t schema_version = db_->QueryInt("PRAGMA user_version");
  if (application_id == 0 && schema_version == 0) {
    return db_->QueryInt("SELECT count(*) FROM sqlite_master") == 0 ? FileKind::kEmpty : FileKind::kOther;
  }
  if (schema_version != kSchemaVersion) return FileKind::kOther;
  if (application_id == kApplicationId) return FileKind::kStore;
  if (application_id == kSharedApplicationId && HasStoreTables()) return FileKind::kEarlierStore;
  return FileKind::kOther;
}

void StoreCore::PrepareSchema() {
  db_->Exec("PRAGMA foreign_keys = ON; PRAGMA synchronous = FULL");
  // A file of another kind is refused before anything is written to it, the journal mode included.
  if (ClassifyFile() == FileKind::kOther) throw StoreError(kStoreNotAStore);
  {
    Statement wal(*db_, "PRAGMA journal_mode = WAL");
    wal.Run();
  }
  WriteTransaction transaction(*db_);
  // Again inside the transaction: another process may have created the store meanwhile.
  switch (ClassifyFile()) {
    case FileKind::kEmpty: {
      db_->Exec(kSchema);
      db_->Exec("PRAGMA application_id = " + std::to_string(kApplicationId) +
                "; PRAGMA user_version = " + std::to_string(kSchemaVersion));
      Statement insert(*db_, "INSERT INTO store_info(key, value) VALUES('guid', ?)");
      insert.Bind(1, NewGuidText()).Run();
      break;
    }
    case FileKind::kEarlierStore:
      // Committed with the rest of this transaction, or not at all.
      db_->Exec("PRAGMA application_id = " + std::to_string(kApplicationId));
      break;
    case FileKind::kStore:
      break;
    case FileKind::kOther:
      throw StoreError(kStoreNotAStore);
  }
  Statement guid(*db_, "SELECT value FROM store_info WHERE key = 'guid'");
  if (!guid.Step()) throw StoreError(kStoreNotAStore);
  guid_ = guid.Text(0);
  transaction.Commit();
}

bool StoreCore::HasStoreTables() {
  for (const char* table : kStoreTables) {
    Statement found(*db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
    found.Bind(1, std::string_view(table));
    if (!found.Step() || found.Int(0) != 1) return false;
  }
  return true;
}

std::optional<Node> StoreCore::Find(const std::string& url) {
  static const std::string sql = std::string("SELECT ") + kNodeColumns + " FROM nodes WHERE url_key = ?";
  Statement row(*db_, sql.c_str());
  row.Bind(1, LowerKey(url));
  if (!row.Step()) return std::nullopt;
  return ReadNode(row);
}

std::optional<Node> StoreCore::FindById(int64_t id) {
  static const std::string sql = std::string("SELECT ") + kNodeColumns + " FROM nodes WHERE id = ?";
  Statement row(*db_, sql.c_str());
  row.Bind(1, id);
  if (!row.Step()) return std::nullopt;
  return ReadNode(row);
}

Node StoreCore::Require(const std::string& url) {
  auto node = Find(url);
  if (!node) throw StoreError(kStoreNotFound);
  return *node;
}

Node StoreCore::RequireFolder(const std::string& url) {
  Node node = Require(url);
  if (!node.is_folder) throw StoreError(kStoreNotAFolder);
  return node;
}

Node StoreCore::InsertNode(int64_t parent_id, const std::string& url, const std::string& name, bool is_folder,
                           bool outside) {
  if (Find(url)) throw StoreError(kStoreAlreadyExists);
  Statement insert(*db_, "INSERT INTO nodes(parent_id, url, url_key, name, is_folder, outside) "
                         "VALUES(NULLIF(?, 0), ?, ?, ?, ?, ?)");
  insert.Bind(1, parent_id).Bind(2, url).Bind(3, LowerKey(url)).Bind(4, name);
  insert.Bind(5, int64_t{is_folder}).Bind(6, int64_t{outside}).Run();
  return Node{db_->LastInsertId(), parent_id, url, name, is_folder, outside};
}

Node StoreCore::CreateMailboxRoot(const std::string& typed_domain, const std::string& user) {
  CheckName(typed_domain);
  CheckName(user);
  // The limits of the mail standards; the filter also makes files of these names.
  if (user.size() > kMaxUserBytes || typed_domain.size() > kMaxDomainBytes) throw StoreError(kStoreInvalidName);
  // One domain, one spelling: URLs, and the filter's folder of the domain, follow the first mailbox's.
  Statement same(*db_, "SELECT domain FROM mailboxes WHERE lower(domain) = ? LIMIT 1");
  same.Bind(1, LowerKey(typed_domain));
  const std::string domain = same.Step() ? same.Text(0) : typed_domain;
  const std::string url = MailboxUrl(domain, user);
  Node root = InsertNode(0, url, user, true, false);
  Statement insert(*db_, "INSERT INTO mailboxes(domain, user, root_id) VALUES(?, ?, ?)");
  insert.Bind(1, domain).Bind(2, user).Bind(3, root.id).Run();
  return root;
}

std::vector<StoreCore::MailboxRow> StoreCore::Mailboxes() {
  std::vector<MailboxRow> rows;
  Statement select(*db_, "SELECT domain, user FROM mailboxes");
  while (select.Step()) rows.push_back({select.Text(0), select.Text(1)});
  std::sort(rows.begin(), rows.end(), [](const MailboxRow& a, const MailboxRow& b) {
    return std::make_pair(LowerKey(a.domain), LowerKey(a.user)) < std::make_pair(LowerKey(b.domain), LowerKey(b.user));
  });
  return rows;
}

Node StoreCore::ParentFolderOf(const std::string& url, std::string* name) {
  std::string parent_url;
  if (!SplitLast(url, &parent_url, name)) throw StoreError(kStoreInvalidUrl);
  CheckName(*name);
  auto parent = Find(parent_url);
  if (!parent) throw StoreError(kStoreParentNotFound);
  if (!parent->is_folder) throw StoreError(kStoreNotAFolder);
  return *parent;
}

Node StoreCore::CreateFolder(const std::string& url) {
  std::string name;
  const Node parent = ParentFolderOf(url, &name);
  return InsertNode(parent.id, parent.url + "/" + name, name, true, false);
}

Node StoreCore::CreateItem(const Node& folder, const std::string& name, bool outside) {
  CheckName(name);
  // No client lists a mailbox root's items: one put there would be lost to sight.
  if (folder.parent_id == 0) throw StoreError(kStoreRootHoldsNoItems);
  return InsertNode(folder.id, folder.url + "/" + name, name, false, outside);
}

Node StoreCore::CreateOrReplaceItem(const std::string& url) {
  std::string name;
  const Node parent = ParentFolderOf(url, &name);
  if (auto existing = Find(url)) {
    if (existing->is_folder) throw StoreError(kStoreAlreadyExists);
    DeleteNode(existing->id);
  }
  return CreateItem(parent, name, false);
}

void StoreCore::DeleteNode(int64_t id) {
  Statement erase(*db_, "DELETE FROM nodes WHERE id = ?");
  erase.Bind(1, id).Run();
}

std::string StoreCore::FreeName(const Node& folder, const std::string& name) {
  CheckName(name);
  std::string candidate = name;
  for (int n = 2; Find(folder.url + "/" + candidate); ++n) candidate = NumberedName(name, n);
  return candidate;
}

Node StoreCore::MoveItem(const Node& item, const std::string& destination_url) {
  if (item.is_folder) throw StoreError(kStoreNotAnItem);
  std::string name;
  const Node parent = ParentFolderOf(destination_url, &name);
  if (parent.parent_id == 0) throw StoreError(kStoreRootHoldsNoItems);
  const std::string url = parent.url + "/" + name;
  if (Find(url)) throw StoreError(kStoreAlreadyExists);
  Statement update(*db_, "UPDATE nodes SET parent_id = ?, url = ?, url_key = ?, name = ? WHERE id = ?");
  update.Bind(1, parent.id).Bind(2, url).Bind(3, LowerKey(url)).Bind(4, name).Bind(5, item.id).Run();
  Node moved = item;
  moved.parent_id = parent.id;
  moved.url = url;
  moved.name = name;
  return moved;
}

void StoreCore::SaveContent(const Node& item, std::string_view bytes, const PropertyList* derived) {
  if (item.is_folder) throw StoreError(kStoreNotAnItem);
  const PropertyList computed = derived ? PropertyList() : DeriveMessageProperties(bytes, item.outside);
  if (!derived) derived = &computed;
  Statement content(*db_, "INSERT OR REPLACE INTO contents(node_id, bytes) VALUES(?, ?)");
  // The content may be the largest thing in the process: SQLite reads it in place.
  content.Bind(1, item.id).BindBlobInPlace(2, bytes).Run();
  Statement forget(*db_, "DELETE FROM properties WHERE node_id = ? AND derived = 1");
  forget.Bind(1, item.id).Run();
  for (const auto& [name, value] : *derived) SetProperty(item.id, name, value, true);
}

std::string StoreCore::Content(const Node& item) {
  if (item.is_folder) throw StoreError(kStoreNotAnItem);
  Statement select(*db_, "SELECT bytes FROM contents WHERE node_id = ?");
  select.Bind(1, item.id);
  return select.Step() ? select.Blob(0) : std::string();
}

std::optional<Variant> StoreCore::StoredProperty(int64_t id, const std::string& name) {
  Statement select(*db_, "SELECT kind, value FROM properties WHERE node_id = ? AND name_key = ?");
  select.Bind(1, id).Bind(2, LowerKey(name));
  if (!select.Step()) return std::nullopt;
  return ReadValue(select, 0, 1);
}

void StoreCore::SetProperty(int64_t id, const std::string& name, const Variant& value, bool derived) {
  Statement upsert(*db_, "INSERT OR REPLACE INTO properties(node_id, name_key, name, kind, value, derived) "
                         "VALUES(?, ?, ?, ?, ?, ?)");
  upsert.Bind(1, id).Bind(2, LowerKey(name)).Bind(3, name).Bind(4, static_cast<int64_t>(value.kind()));
  switch (value.kind()) {
    case Variant::Kind::kInt16:
    case Variant::Kind::kInt32: upsert.Bind(5, int64_t{value.AsNumber()}); break;
    case Variant::Kind::kBool: upsert.Bind(5, int64_t{value.AsBool()}); break;
    case Variant::Kind::kText: upsert.BindBlob(5, value.AsText()); break;
    case Variant::Kind::kEmpty: throw StoreError(kStoreBadValueType);
  }
  upsert.Bind(6, int64_t{derived}).Run();
}

std::optional<Variant> StoreCore::Property(const Node& node, const std::string& name) {
  const std::string key = LowerKey(name);
  if (key == "dav:href") return Variant::Text(node.url);
  if (key == "dav:parentname") return Variant::Text(ParentUrlOf(node.url));
  if (key == "dav:displayname") return Variant::Text(node.name);
  if (key == "dav:iscollection") return Variant::Bool(node.is_folder);
  return StoredProperty(node.id, name);
}

PropertyList StoreCore::AllProperties(const Node& node) {
  PropertyList properties;
  for (const char* name : {"DAV:href", "DAV:parentname", "DAV:displayname", "DAV:iscollection"}) {
    properties.emplace_back(name, *Property(node, name));
  }
  Statement select(*db_, "SELECT name, kind, value FROM properties WHERE node_id = ?");
  select.Bind(1, node.id);
  while (select.Step()) properties.emplace_back(select.Text(0), ReadValue(select, 1, 2));
  std::sort(properties.begin(), properties.end(), LessIgnoringCase);
  return properties;
}

std::vector<Node> StoreCore::Children(int64_t folder_id, bool folders) {
  static const std::string sql =
      std::string("SELECT ") + kNodeColumns + " FROM nodes WHERE parent_id = ? AND is_folder = ? ORDER BY id";
  std::vector<Node> children;
  Statement select(*db_, sql.c_str());
  select.Bind(1, folder_id).Bind(2, int64_t{folders});
  while (select.Step()) children.push_back(ReadNode(select));
  return children;
}

}  // namespace varnolt::mailstore
