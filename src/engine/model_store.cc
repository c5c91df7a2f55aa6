#include "engine/model_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <cmath>
#include <filesystem>

#include "engine/engine_errors.h"
#include "platform/system/text_files.h"

namespace varnolt::engine {
namespace {

constexpr int kApplicationId = 0x564E4C54;  // "VNLT" in the file header
constexpr int kFormatVersion = 2;
constexpr int kWeightsOnlyVersion = 1;  // before tokens had counts
constexpr int kBusyTimeoutMs = 10000;

// The buckets' pages are read through a memory map rather than one read call
// each: a message touches most of a small model's pages, and the calls were
// most of a Classify. The map covers the file only, never past its end. Set
// up at the first look at the buckets: opening and reading the counts alone
// touches too few pages to pay for the map.
constexpr const char* kMapPages = "PRAGMA mmap_size = 268435456";

// Needed buckets at most this far apart are read by one range query: stepping
// over a few rows costs less than starting a query again.
constexpr uint32_t kMaxBucketGap = 8;

enum StatementIndex {
  kSelectBucket,
  kSelectBucketRange,
  kPutBucket,
  kDeleteBucket,
  kSelectAllMeta,
  kSetMeta,
  kSelectMessage,
  kPutMessage,
  kCount
};

// The distinct keys of sorted ids, sorted.
std::vector<uint32_t> KeysOf(const std::vector<uint64_t>& ids) {
  std::vector<uint32_t> keys;
  keys.reserve(ids.size());
  for (uint64_t id : ids) {
    if (keys.empty() || keys.back() != KeyOf(id)) keys.push_back(KeyOf(id));
  }
  return keys;
}

// Calls visit(bucket, first key, key count) for each run of keys in one bucket.
template <typename Visit>
void ForEachBucket(const std::vector<uint32_t>& keys, int depth, Visit visit) {
  for (size_t i = 0; i < keys.size();) {
    const uint32_t bucket = BucketOf(keys[i], depth);
    size_t j = i;
    while (j < keys.size() && BucketOf(keys[j], depth) == bucket) ++j;
    visit(bucket, keys.data() + i, j - i);
    i = j;
  }
}

}  // namespace

class ModelStore::Statement {
 public:
  Statement(ModelStore* store, const char* sql) : store_(store) {
    const int rc = sqlite3_prepare_v3(store->db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    if (rc != SQLITE_OK) store->Fail(rc, "preparing a query");
  }
  ~Statement() { sqlite3_finalize(stmt_); }

  Statement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, double value) {
    sqlite3_bind_double(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, const void* blob, int size) {
    sqlite3_bind_blob(stmt_, index, blob, size, SQLITE_STATIC);
    return *this;
  }
  Statement& Bind(int index, const char* text) {
    sqlite3_bind_text(stmt_, index, text, -1, SQLITE_STATIC);
    return *this;
  }
  // True while a row is there; resets the statement at the end.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    sqlite3_reset(stmt_);
    if (rc != SQLITE_DONE) store_->Fail(rc, "reading or writing the model");
    return false;
  }
  void Done() { sqlite3_reset(stmt_); }
  int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) { return sqlite3_column_double(stmt_, column); }
  const char* Text(int column) { return reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column)); }
  const void* Blob(int column) { return sqlite3_column_blob(stmt_, column); }
  size_t BlobSize(int column) { return static_cast<size_t>(sqlite3_column_bytes(stmt_, column)); }

 private:
  ModelStore* store_;
  sqlite3_stmt* stmt_ = nullptr;
};

std::unique_ptr<ModelStore> ModelStore::Open(const std::string& path, Mode mode) {
  namespace fs = std::filesystem;
  // SQLite would take an empty name for a private temporary database and
  // "succeed" without ever storing anything for the user.
  if (path.empty()) {
    if (mode == Mode::kExistingOnly) return nullptr;
    throw RuntimeError(kPathNotFound);
  }
  const std::string fs_path = ToFileSystemPath(path);
  std::error_code ec;
  const fs::file_status status = fs::status(fs_path, ec);
  if (status.type() == fs::file_type::not_found) {
    if (mode == Mode::kExistingOnly) return nullptr;
    fs::path parent = fs::path(fs_path).parent_path();
    if (parent.empty()) parent = ".";
    // The directory belongs to the caller's layout: never create it here.
    if (!fs::is_directory(parent, ec)) throw RuntimeError(kPathNotFound);
  } else if (status.type() == fs::file_type::directory) {
    throw EngineError(kErrorForeignDatabase, path, "is a directory, not a spam database");
  }

  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (mode == Mode::kCreate ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(fs_path.c_str(), &db, flags, nullptr);
  std::unique_ptr<ModelStore> store(new ModelStore(db, path));
  if (rc != SQLITE_OK) store->Fail(rc, "opening");
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // One read transaction from the first look on: each new transaction costs
  // a lock and a check of the file header.
  store->BeginRead();
  if (!store->IsInitialized()) {
    if (mode == Mode::kExistingOnly) return nullptr;
    store->Commit();
    store->Initialize();
    store->BeginRead();
  }
  return store;
}

ModelStore::ModelStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

ModelStore::~ModelStore() {
  if (in_transaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  statements_.clear();
  sqlite3_close_v2(db_);
}

void ModelStore::Fail(int rc, const std::string& doing) {
  const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  switch (rc & 0xFF) {
    case SQLITE_NOTADB:
      throw EngineError(kErrorForeignDatabase, path_, "is not a VarnoltFilter spam database (" + message + ")");
    case SQLITE_CORRUPT:
      throw EngineError(kErrorCorruptDatabase, path_, "is corrupt (" + message + ")");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw EngineError(kErrorDatabaseBusy, path_, "is busy: another process kept it locked");
    case SQLITE_READONLY:
    case SQLITE_PERM:
      throw RuntimeError(kPermissionDenied);
    case SQLITE_CANTOPEN:
      if (db_ != nullptr && sqlite3_system_errno(db_) == EACCES) throw RuntimeError(kPermissionDenied);
      if (db_ != nullptr && sqlite3_system_errno(db_) == ENOENT) throw RuntimeError(kPathNotFound);
      break;
    default:
      break;
  }
  throw EngineError(kErrorDatabaseFailed, path_, "failed while " + doing + " (" + message + ")");
}

void ModelStore::Exec(const char* sql, const char* doing) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc, doing);
}

ModelStore::Statement& ModelStore::Prepared(int index, const char* sql) {
  if (statements_.empty()) statements_.resize(kCount);
  if (!statements_[index]) statements_[index] = std::make_unique<Statement>(this, sql);
  return *statements_[index];
}

int64_t ModelStore::QueryInt(const char* sql) {
  Statement query(this, sql);
  if (!query.Step()) return 0;
  const int64_t value = query.Int(0);
  query.Done();
  return value;
}

bool ModelStore::IsInitialized() {
  if (QueryInt("PRAGMA application_id") == kApplicationId) {
    const int64_t version = QueryInt("PRAGMA user_version");
    if (version > kFormatVersion) {
      throw EngineError(kErrorNewerFormat, path_,
                        "was written by a newer engine (format " + std::to_string(version) + ")");
    }
    if (in_transaction_) version_ = static_cast<int>(version);
    return true;
  }
  // Only an empty file (one a creator left behind before its first commit)
  // is ours to fill; any other database belongs to someone else.
  if (QueryInt("PRAGMA page_count") == 0) return false;
  throw EngineError(kErrorForeignDatabase, path_, "is not a VarnoltFilter spam database");
}

void ModelStore::Initialize() {
  // Larger pages hold a whole bucket each, so that a lookup reads it in place
  // instead of gathering it from overflow pages. The size only takes effect
  // outside a transaction, and only while the file is still empty.
  Exec("PRAGMA page_size = 16384", "creating");
  BeginWrite();
  // Another process may have initialized the file since we looked (until it
  // commits, the file stays empty for everyone else). Inside a write
  // transaction an empty file already counts one page, so test the schema.
  if (QueryInt("PRAGMA application_id") == kApplicationId) {
    Commit();
    IsInitialized();  // checks the format version
    return;
  }
  if (QueryInt("SELECT count(*) FROM sqlite_master") != 0) {
    throw EngineError(kErrorForeignDatabase, path_, "is not a VarnoltFilter spam database");
  }
  Exec(
      "PRAGMA application_id = 1447971924;"  // kApplicationId
      "PRAGMA user_version = 2;"              // kFormatVersion
      "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
      "CREATE TABLE weights(bucket INTEGER PRIMARY KEY, entries BLOB NOT NULL);"
      "CREATE TABLE messages(digest BLOB PRIMARY KEY, spam INTEGER NOT NULL, step REAL NOT NULL,"
      " counted INTEGER NOT NULL DEFAULT 0) WITHOUT ROWID;"
      "INSERT INTO meta VALUES('format', 'VarnoltFilter spam engine'), ('ham', 0), ('spam', 0),"
      " ('depth', 0), ('entries', 0), ('counted_ham', 0), ('counted_spam', 0);",
      "creating");
  Commit();
}

void ModelStore::BeginRead() {
  Exec("BEGIN", "starting to read");
  in_transaction_ = true;
}

void ModelStore::BeginWrite() {
  if (in_transaction_) Commit();
  Exec("BEGIN IMMEDIATE", "taking the write lock");
  in_transaction_ = true;
  if (FormatVersion() == kWeightsOnlyVersion) UpgradeFromWeightsOnly();
}

void ModelStore::Commit() {
  Exec("COMMIT", "committing");
  in_transaction_ = false;
  // Another process may change the counts, split the buckets or upgrade the
  // file before our next transaction.
  Forget();
}

void ModelStore::Forget() {
  depth_ = -1;
  version_ = -1;
  meta_.clear();
}

SpamCounts ModelStore::Counts() {
  const int64_t* ham = FindMeta("ham");
  const int64_t* spam = FindMeta("spam");
  return {ham != nullptr ? static_cast<int32_t>(*ham) : 0, spam != nullptr ? static_cast<int32_t>(*spam) : 0};
}

void ModelStore::SetCounts(const SpamCounts& counts) {
  SetMeta("ham", counts.ham);
  SetMeta("spam", counts.spam);
}

TokenCounts ModelStore::CountedMessages() {
  if (FormatVersion() == kWeightsOnlyVersion) return {};
  return {static_cast<uint32_t>(Meta("counted_ham")), static_cast<uint32_t>(Meta("counted_spam"))};
}

void ModelStore::SetCountedMessages(const TokenCounts& counts) {
  SetMeta("counted_ham", counts.ham);
  SetMeta("counted_spam", counts.spam);
}

const int64_t* ModelStore::FindMeta(std::string_view key) {
  // The table holds a handful of rows: one query reads them all for the
  // whole transaction.
  if (meta_.empty()) {
    Statement& select = Prepared(kSelectAllMeta, "SELECT key, value FROM meta");
    while (select.Step()) {
      const char* name = select.Text(0);
      meta_.emplace_back(name != nullptr ? name : "", select.Int(1));
    }
    if (meta_.empty()) meta_.emplace_back("", 0);  // read, and found empty
  }
  for (const auto& [name, value] : meta_) {
    if (name == key) return &value;
  }
  return nullptr;
}

int64_t ModelStore::Meta(const char* key) {
  const int64_t* value = FindMeta(key);
  if (value == nullptr) throw EngineError(kErrorCorruptDatabase, path_, std::string("is corrupt (no ") + key + ")");
  return *value;
}

void ModelStore::SetMeta(const char* key, int64_t value) {
  Prepared(kSetMeta, "UPDATE meta SET value = ?2 WHERE key = ?1").Bind(1, key).Bind(2, value).Step();
  for (auto& [name, known] : meta_) {
    if (name == key) known = value;
  }
}

int ModelStore::Depth() {
  if (depth_ < 0) {
    const int64_t depth = Meta("depth");
    if (depth < 0 || depth > 32) throw EngineError(kErrorCorruptDatabase, path_, "is corrupt (bucket depth)");
    depth_ = static_cast<int>(depth);
  }
  return depth_;
}

int ModelStore::FormatVersion() {
  if (version_ < 0) version_ = static_cast<int>(QueryInt("PRAGMA user_version"));
  return version_;
}

EntryLayout ModelStore::Layout() {
  return FormatVersion() == kWeightsOnlyVersion ? EntryLayout::kWeightsOnly : EntryLayout::kWithCounts;
}

void ModelStore::UpgradeFromWeightsOnly() {
  {
    Statement scan(this, "SELECT bucket, entries FROM weights");
    Statement put(this, "UPDATE weights SET entries = ?2 WHERE bucket = ?1");
    std::vector<std::pair<int64_t, std::string>> buckets;
    while (scan.Step()) {
      buckets.emplace_back(scan.Int(0),
                           EncodeBucket(DecodeBucket(scan.Blob(1), scan.BlobSize(1), EntryLayout::kWeightsOnly)));
    }
    for (const auto& [bucket, bytes] : buckets) {
      put.Bind(1, bucket).Bind(2, bytes.data(), static_cast<int>(bytes.size())).Step();
    }
  }
  Exec(
      "ALTER TABLE messages ADD COLUMN counted INTEGER NOT NULL DEFAULT 0;"
      "INSERT INTO meta VALUES('counted_ham', 0), ('counted_spam', 0);"
      "PRAGMA user_version = 2;",  // kFormatVersion
      "upgrading the file format");
  version_ = kFormatVersion;
  meta_.clear();
}

void ModelStore::MapPages() {
  if (mapped_) return;
  Exec(kMapPages, "reading the model");
  mapped_ = true;
}

TokenEvidence ModelStore::Lookup(const std::vector<uint64_t>& ids) {
  MapPages();
  Statement& select =
      Prepared(kSelectBucketRange, "SELECT bucket, entries FROM weights WHERE bucket BETWEEN ?1 AND ?2");
  const EntryLayout layout = Layout();
  const std::vector<uint32_t> keys = KeysOf(ids);
  const int depth = Depth();
  TokenEvidence evidence;
  evidence.counts.reserve(keys.size());
  int64_t sum = 0;
  auto found = [&](const TokenEntry& entry) {
    sum += entry.weight;
    if (entry.ham != 0 || entry.spam != 0) evidence.counts.push_back({entry.ham, entry.spam});
  };
  // Rows come in bucket order, as do the keys: walk both together, one query
  // per stretch of nearby buckets.
  for (size_t i = 0; i < keys.size();) {
    const uint32_t first = BucketOf(keys[i], depth);
    size_t end = i;
    uint32_t last = first;
    while (end < keys.size() && BucketOf(keys[end], depth) - last <= kMaxBucketGap) last = BucketOf(keys[end++], depth);
    select.Bind(1, int64_t{first}).Bind(2, int64_t{last});
    while (i < end && select.Step()) {
      const auto bucket = static_cast<uint32_t>(select.Int(0));
      while (i < end && BucketOf(keys[i], depth) < bucket) ++i;
      size_t j = i;
      while (j < end && BucketOf(keys[j], depth) == bucket) ++j;
      if (j > i) FindInBucket(select.Blob(1), select.BlobSize(1), layout, keys.data() + i, j - i, found);
      i = j;
    }
    if (i >= end) select.Done();
    i = end;
  }
  evidence.weight_sum = static_cast<double>(sum) / kWeightScale;
  return evidence;
}

void ModelStore::Update(const std::vector<uint64_t>& ids, const TokenDelta& delta) {
  if (delta.weight == 0 && delta.ham == 0 && delta.spam == 0) return;
  MapPages();
  Statement& select = Prepared(kSelectBucket, "SELECT entries FROM weights WHERE bucket = ?1");
  Statement& put = Prepared(kPutBucket, "INSERT OR REPLACE INTO weights(bucket, entries) VALUES(?1, ?2)");
  Statement& remove = Prepared(kDeleteBucket, "DELETE FROM weights WHERE bucket = ?1");
  int64_t change = 0;
  ForEachBucket(KeysOf(ids), Depth(), [&](uint32_t bucket, const uint32_t* keys, size_t count) {
    std::vector<TokenEntry> entries;
    if (select.Bind(1, int64_t{bucket}).Step()) {
      entries = DecodeBucket(select.Blob(0), select.BlobSize(0), Layout());
      select.Done();
    }
    change += AddToBucket(entries, keys, count, delta);
    if (entries.empty()) {
      remove.Bind(1, int64_t{bucket}).Step();
    } else {
      const std::string bytes = EncodeBucket(entries);
      put.Bind(1, int64_t{bucket}).Bind(2, bytes.data(), static_cast<int>(bytes.size())).Step();
    }
  });
  const int64_t total = Meta("entries") + change;
  SetMeta("entries", total);
  while (total > (kBucketSplitAverage << Depth())) SplitBuckets();
}

void ModelStore::SplitBuckets() {
  // Buckets in order hold all entries in key order.
  std::vector<TokenEntry> all;
  {
    Statement scan(this, "SELECT entries FROM weights ORDER BY bucket");
    while (scan.Step()) {
      const std::vector<TokenEntry> entries = DecodeBucket(scan.Blob(0), scan.BlobSize(0), Layout());
      all.insert(all.end(), entries.begin(), entries.end());
    }
  }
  Exec("DELETE FROM weights", "splitting buckets");
  const int depth = Depth() + 1;
  Statement& put = Prepared(kPutBucket, "INSERT OR REPLACE INTO weights(bucket, entries) VALUES(?1, ?2)");
  for (size_t i = 0; i < all.size();) {
    const uint32_t bucket = BucketOf(all[i].key, depth);
    size_t j = i;
    while (j < all.size() && BucketOf(all[j].key, depth) == bucket) ++j;
    const std::string bytes = EncodeBucket(std::vector<TokenEntry>(all.begin() + i, all.begin() + j));
    put.Bind(1, int64_t{bucket}).Bind(2, bytes.data(), static_cast<int>(bytes.size())).Step();
    i = j;
  }
  SetMeta("depth", depth);
  depth_ = depth;
}

std::optional<LearnedMessage> ModelStore::FindMessage(const MessageDigest& digest) {
  Statement& select = Prepared(kSelectMessage, "SELECT spam, step, counted FROM messages WHERE digest = ?1");
  select.Bind(1, digest.data(), static_cast<int>(digest.size()));
  if (!select.Step()) return std::nullopt;
  LearnedMessage message{select.Int(0) != 0, select.Real(1), select.Int(2) != 0};
  select.Done();
  return message;
}

void ModelStore::PutMessage(const MessageDigest& digest, const LearnedMessage& message) {
  Statement& put = Prepared(
      kPutMessage, "INSERT OR REPLACE INTO messages(digest, spam, step, counted) VALUES(?1, ?2, ?3, ?4)");
  put.Bind(1, digest.data(), static_cast<int>(digest.size()))
      .Bind(2, int64_t{message.is_spam ? 1 : 0})
      .Bind(3, message.step)
      .Bind(4, int64_t{message.counted ? 1 : 0})
      .Step();
}

}  // namespace varnolt::engine
