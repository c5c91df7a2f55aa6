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
constexpr int kFormatVersion = 1;
constexpr int kBusyTimeoutMs = 10000;

enum StatementIndex { kSelectWeight, kAddWeight, kSelectCounts, kSetCount, kSelectMessage, kPutMessage, kCount };

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

 private:
  ModelStore* store_;
  sqlite3_stmt* stmt_ = nullptr;
};

std::unique_ptr<ModelStore> ModelStore::Open(const std::string& path, Mode mode) {
  namespace fs = std::filesystem;
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
  // No memory mapping: mapping the file anew on every open costs more than
  // the read calls it saves on the few hundred pages one message touches.
  if (!store->IsInitialized()) {
    if (mode == Mode::kExistingOnly) return nullptr;
    store->Initialize();
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
    return true;
  }
  // Only an empty file (one a creator left behind before its first commit)
  // is ours to fill; any other database belongs to someone else.
  if (QueryInt("PRAGMA page_count") == 0) return false;
  throw EngineError(kErrorForeignDatabase, path_, "is not a VarnoltFilter spam database");
}

void ModelStore::Initialize() {
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
      "PRAGMA user_version = 1;"              // kFormatVersion
      "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
      "CREATE TABLE weights(id INTEGER PRIMARY KEY, w INTEGER NOT NULL);"
      "CREATE TABLE messages(digest BLOB PRIMARY KEY, spam INTEGER NOT NULL, step REAL NOT NULL) WITHOUT ROWID;"
      "INSERT INTO meta VALUES('format', 'VarnoltFilter spam engine'), ('ham', 0), ('spam', 0);",
      "creating");
  Commit();
}

void ModelStore::BeginRead() {
  Exec("BEGIN", "starting to read");
  in_transaction_ = true;
}

void ModelStore::BeginWrite() {
  Exec("BEGIN IMMEDIATE", "taking the write lock");
  in_transaction_ = true;
}

void ModelStore::Commit() {
  Exec("COMMIT", "committing");
  in_transaction_ = false;
}

SpamCounts ModelStore::Counts() {
  Statement& select = Prepared(kSelectCounts, "SELECT key, value FROM meta WHERE key IN ('ham', 'spam')");
  SpamCounts counts;
  while (select.Step()) {
    const std::string key = select.Text(0);
    (key == "ham" ? counts.ham : counts.spam) = static_cast<int32_t>(select.Int(1));
  }
  return counts;
}

void ModelStore::SetCounts(const SpamCounts& counts) {
  Statement& set = Prepared(kSetCount, "UPDATE meta SET value = ?2 WHERE key = ?1");
  set.Bind(1, "ham").Bind(2, int64_t{counts.ham}).Step();
  set.Bind(1, "spam").Bind(2, int64_t{counts.spam}).Step();
}

namespace {

int64_t RowKey(uint64_t id) { return static_cast<int64_t>(id >> 32); }

}  // namespace

double ModelStore::WeightSum(const std::vector<uint64_t>& ids) {
  // One query for all keys: stepping one statement per key costs more than the lookups themselves.
  Statement& select = Prepared(
      kSelectWeight, "SELECT total(w) FROM weights WHERE id IN (SELECT value FROM json_each(?1))");
  std::string keys = "[";
  for (uint64_t id : ids) keys.append(std::to_string(RowKey(id))).push_back(',');
  keys.back() = ']';
  if (ids.empty()) keys = "[]";
  select.Bind(1, keys.c_str());
  double sum = 0;
  if (select.Step()) {
    sum = select.Real(0);
    select.Done();
  }
  return sum / kWeightScale;
}

void ModelStore::AddToWeights(const std::vector<uint64_t>& ids, double delta) {
  const int64_t fixed = std::llround(delta * kWeightScale);
  if (fixed == 0) return;
  Statement& add = Prepared(
      kAddWeight, "INSERT INTO weights(id, w) VALUES(?1, ?2) ON CONFLICT(id) DO UPDATE SET w = w + excluded.w");
  for (uint64_t id : ids) add.Bind(1, RowKey(id)).Bind(2, fixed).Step();
}

std::optional<LearnedMessage> ModelStore::FindMessage(const MessageDigest& digest) {
  Statement& select = Prepared(kSelectMessage, "SELECT spam, step FROM messages WHERE digest = ?1");
  select.Bind(1, digest.data(), static_cast<int>(digest.size()));
  if (!select.Step()) return std::nullopt;
  LearnedMessage message{select.Int(0) != 0, select.Real(1)};
  select.Done();
  return message;
}

void ModelStore::PutMessage(const MessageDigest& digest, const LearnedMessage& message) {
  Statement& put = Prepared(kPutMessage, "INSERT OR REPLACE INTO messages(digest, spam, step) VALUES(?1, ?2, ?3)");
  put.Bind(1, digest.data(), static_cast<int>(digest.size()))
      .Bind(2, int64_t{message.is_spam ? 1 : 0})
      .Bind(3, message.step)
      .Step();
}

}  // namespace varnolt::engine
