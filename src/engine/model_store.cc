#include "engine/model_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include "backends/sqlite/database.h"
#include "backends/system/new_files.h"
#include "engine/engine_errors.h"
#include "engine/key_record.h"
#include "engine/linear_fit.h"
#include "platform/names/data_layout.h"
#include "platform/names/file_ids.h"
#include "platform/text_files.h"

namespace varnolt::engine {
namespace {

// Owner and group: the mail system's group may share a user's model; nobody else reads it.
constexpr mode_t kNewFileMode = 0660;
// Larger pages hold a whole bucket each, so that a lookup reads it in place
// instead of gathering it from overflow pages: a domain's model, which holds
// many. A user's model holds what the user taught, in buckets of a few
// kilobytes: SQLite's usual pages keep its file to its lessons' size.
constexpr int kPageSize = 16384;
constexpr int kUserPageSize = 4096;

bool IsDomainModel(const std::string& path) {
  const size_t name = path.find_last_of("\\/");
  return path.compare(name == std::string::npos ? 0 : name + 1, std::string::npos, kDomainModelFileName) == 0;
}
constexpr int kMaxDepth = 32;
// A key is 32 bits: no model holds more distinct entries.
constexpr int64_t kMaxEntries = int64_t{1} << 32;
// How a refusal tells the administrator to get a sound model back.
constexpr const char* kRebuildHint =
    "; the file was left as it is: put an empty model in its place with 'varnolt model reset USER@DOMAIN' "
    "and teach it again with 'varnolt train USER@DOMAIN'";

// The buckets' pages are read through a memory map rather than one read call
// each: a message touches most of a small model's pages. The map covers the
// file only, never past its end.
constexpr const char* kMapPages = "PRAGMA mmap_size = 268435456";

// The model is derived data: it must never be corrupted, but the last lessons
// before a power cut may be lost. So a write-ahead log, synced only when it is
// checkpointed into the file, and readers never wait for a writer. The log is
// folded back every thousand pages, and truncated then, so that it stays
// small in processes that keep the file open for long.
constexpr const char* kWriteAheadLog = "PRAGMA journal_mode = WAL";
constexpr const char* kConnectionSettings =
    "PRAGMA synchronous = NORMAL; PRAGMA wal_autocheckpoint = 1000; PRAGMA journal_size_limit = 16777216";

// Needed buckets at most this far apart are read by one range query: stepping
// over a few rows costs less than starting a query again.
constexpr uint32_t kMaxBucketGap = 8;

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

// The distinct keys of sorted ids, sorted.
std::vector<uint32_t> KeysOf(const std::vector<uint64_t>& ids) {
  std::vector<uint32_t> keys;
  keys.reserve(ids.size());
  for (uint64_t id : ids) {
    if (keys.empty() || keys.back() != KeyOf(id)) keys.push_back(KeyOf(id));
  }
  return keys;
}

// The statements every lesson and look-up runs, prepared once per connection.
constexpr const char* kSelectBucket = "SELECT entries FROM tokens WHERE bucket = ?1";
constexpr const char* kSelectBucketRange = "SELECT bucket, entries FROM tokens WHERE bucket BETWEEN ?1 AND ?2";
constexpr const char* kPutBucket = "INSERT OR REPLACE INTO tokens(bucket, entries) VALUES(?1, ?2)";
constexpr const char* kDeleteBucket = "DELETE FROM tokens WHERE bucket = ?1";
constexpr const char* kSelectMessage = "SELECT spam, automatic FROM messages WHERE digest = ?1";

std::string_view BytesOf(const DigestBytes& digest) {
  return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

}  // namespace

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
    // A link to a model that is gone is no new user: the user's lessons are
    // somewhere else, and a model made at the link's target would hide that.
    if (fs::is_symlink(fs::symlink_status(fs_path, ec))) {
      throw EngineError(kErrorForeignDatabase, path,
                        "is a symbolic link to " + fs::read_symlink(fs_path, ec).string() +
                            ", which does not exist: restore the model there, or remove the link to start the "
                            "user anew");
    }
    if (mode == Mode::kExistingOnly) return nullptr;
    fs::path parent = fs::path(fs_path).parent_path();
    if (parent.empty()) parent = ".";
    // The directory belongs to the caller's layout: never create it here.
    if (!fs::is_directory(parent, ec)) throw RuntimeError(kPathNotFound);
    // Created here rather than by SQLite, which would make it readable by everyone.
    const int fd = open(fs_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd >= 0) {
      HandOverNewFile(fd, fs_path);  // root teaching a mail server's user
      close(fd);
    } else if (errno == EACCES || errno == EPERM) {
      throw RuntimeError(kPermissionDenied);
    } else if (errno != EEXIST) {
      throw RuntimeError(kPathNotFound);
    }
  } else if (status.type() == fs::file_type::directory) {
    throw EngineError(kErrorForeignDatabase, path, "is a directory, not a spam database");
  }

  std::unique_ptr<ModelStore> store(new ModelStore(path));
  sqlite::OpenOptions options;
  options.create_if_missing = false;  // made above, with its mode
  ModelStore* failing = store.get();
  store->db_ = sqlite::Database::Open(fs_path, options, [failing](int code, const std::string& message) {
    failing->Fail(code, message);
  });
  store->BeginRead();
  if (!store->IsInitialized()) {
    if (mode == Mode::kExistingOnly) return nullptr;
    store->Commit();
    store->Initialize();
  } else {
    store->CheckContents();
    store->Commit();
  }
  store->ApplyJournalSettings();
  return store;
}

void ModelStore::ApplyJournalSettings() {
  {
    sqlite::Statement mode(*db_, "PRAGMA journal_mode");
    logged_ = mode.Step() && mode.Text(0) == "wal";
  }
  Exec(kConnectionSettings, "opening");
}

void ModelStore::TryWriteAheadLog() {
  // Switching takes the file for itself: a peer that reads it now is not
  // waited for, the next write tries again.
  db_->WaitForPeers(false);
  try {
    sqlite::Statement switch_log(*db_, kWriteAheadLog);
    logged_ = switch_log.Step() && switch_log.Text(0) == "wal";
  } catch (const ComError&) {
    // Busy, or refused: the file keeps its journal until a later write.
  }
  db_->WaitForPeers(true);
}

void ModelStore::Clear() {
  BeginWrite();
  Exec("DELETE FROM tokens; DELETE FROM messages; UPDATE meta SET value = 0; DROP TABLE IF EXISTS fit",
       "resetting the model");
  if (HasKeyRecords()) Exec("DELETE FROM records", "resetting the model");
  if (HasCorrections()) Exec("DELETE FROM corrections", "resetting the model");
  if (HasPendingLessons()) Exec("DELETE FROM pending", "resetting the model");
  Commit();
}

ModelStore::ModelStore(std::string path) : path_(std::move(path)) {}

ModelStore::~ModelStore() {
  if (in_transaction_ && db_) {
    try {
      db_->Exec("ROLLBACK");
    } catch (const ComError&) {
      // Closing the connection rolls back as well.
    }
  }
}

void ModelStore::Fail(int rc, const std::string& message) {
  const int system_error = errno;  // set by the connection for this failure
  switch (rc & 0xFF) {
    case SQLITE_NOTADB:
      throw EngineError(kErrorForeignDatabase, path_, "is not a VarnoltFilter spam database (" + message + ")");
    case SQLITE_CORRUPT:
      throw Damaged(message);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw EngineError(kErrorDatabaseBusy, path_, "is busy: another process kept it locked");
    case SQLITE_READONLY:
    case SQLITE_PERM:
      throw RuntimeError(kPermissionDenied);
    case SQLITE_CANTOPEN:
      if (system_error == EACCES) throw RuntimeError(kPermissionDenied);
      if (system_error == ENOENT) throw RuntimeError(kPathNotFound);
      break;
    default:
      break;
  }
  const std::string doing = doing_ != nullptr ? doing_ : writing_ ? "writing the model" : "reading the model";
  throw EngineError(kErrorDatabaseFailed, path_, "failed while " + doing + " (" + message + ")");
}

void ModelStore::Exec(const std::string& sql, const char* doing) {
  doing_ = doing;
  try {
    db_->Exec(sql);
  } catch (...) {
    doing_ = nullptr;
    throw;
  }
  doing_ = nullptr;
}

void ModelStore::Run(std::string_view sql, const char* doing) {
  doing_ = doing;
  try {
    db_->Run(sql);
  } catch (...) {
    doing_ = nullptr;
    throw;
  }
  doing_ = nullptr;
}

int64_t ModelStore::QueryInt(const char* sql) {
  sqlite::Statement query(*db_, sql);
  return query.Step() ? query.Int(0) : 0;
}

bool ModelStore::IsInitialized() {
  const int64_t application_id = QueryInt("PRAGMA application_id");
  if (application_id == kModelApplicationId) {
    const int64_t version = QueryInt("PRAGMA user_version");
    if (version > kModelFormatVersion) {
      throw EngineError(kErrorNewerFormat, path_,
                        "was written by a newer engine (format " + std::to_string(version) + ")");
    }
    if (version >= 1 && version < kModelFormatVersion) {
      // Its counts belong to other tokens: mixing them with ours would skew every score.
      throw EngineError(kErrorEarlierFormat, path_,
                        "was written by an earlier version of the spam engine, which read mail into other "
                        "tokens; move it away and teach the user again with 'varnolt train'");
    }
    if (version < kModelFormatVersion) throw Damaged("format version");
    return true;
  }
  if (application_id == kMailStoreApplicationId) {
    throw EngineError(kErrorForeignDatabase, path_, "is a VarnoltFilter mail store, not a spam database");
  }
  if (application_id == kEarlierApplicationId) {
    if (QueryInt("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'weights'") != 0) {
      throw EngineError(kErrorEarlierFormat, path_,
                        "was written by an earlier version of the spam engine, whose learning depended on the "
                        "order of the mail; move it away and teach the user again with 'varnolt train'");
    }
    throw EngineError(kErrorForeignDatabase, path_, "is a VarnoltFilter mail store, not a spam database");
  }
  // Only an empty file (one a creator left behind before its first commit)
  // is ours to fill; any other database belongs to someone else.
  if (QueryInt("PRAGMA page_count") == 0) return false;
  throw EngineError(kErrorForeignDatabase, path_, "is not a VarnoltFilter spam database");
}

void ModelStore::Initialize() {
  // The page size only takes effect outside a transaction, and only while the file is still empty.
  Exec("PRAGMA page_size = " + std::to_string(IsDomainModel(path_) ? kPageSize : kUserPageSize), "creating");
  BeginWrite();
  // Another process may have initialized the file since we looked (until it
  // commits, the file stays empty for everyone else). Inside a write
  // transaction an empty file already counts one page, so test the schema.
  if (QueryInt("SELECT count(*) FROM sqlite_master") != 0 || QueryInt("PRAGMA application_id") != 0) {
    IsInitialized();  // throws unless the other process made it ours
    Commit();
    return;
  }
  Exec("PRAGMA application_id = " + std::to_string(kModelApplicationId) + ";" +
           "PRAGMA user_version = " + std::to_string(kModelFormatVersion) + ";" +
           "CREATE TABLE meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
           "CREATE TABLE tokens(bucket INTEGER PRIMARY KEY, entries BLOB NOT NULL);"
           "CREATE TABLE messages(digest BLOB PRIMARY KEY, spam INTEGER NOT NULL, automatic INTEGER NOT NULL)"
           " WITHOUT ROWID;"
           "CREATE TABLE records(digest BLOB PRIMARY KEY, keys BLOB NOT NULL, seq INTEGER) WITHOUT ROWID;"
           "INSERT INTO meta VALUES('ham', 0), ('spam', 0), ('depth', 0), ('entries', 0);",
       "creating");
  Commit();
}

void ModelStore::BeginRead() {
  Run("BEGIN", "starting to read");
  in_transaction_ = true;
}

void ModelStore::BeginWrite(WriteSync /*sync*/) {
  if (in_transaction_) Commit();
  Run("BEGIN IMMEDIATE", "taking the write lock");
  // Our own commits leave the data version as it is: what we read before may change now.
  buckets_.Drop();
  kept_corrections_.reset();
  in_transaction_ = true;
  writing_ = true;
}

void ModelStore::Commit() {
  // Each write counts itself, so that a reader keeping buckets of an earlier
  // state tells it from this one even where the totals came back the same.
  if (writing_) {
    const int64_t* writes = FindMeta("writes");
    SetMeta("writes", writes == nullptr || *writes >= std::numeric_limits<int64_t>::max() - 1 ? 1 : *writes + 1);
  }
  Run("COMMIT", "committing");
  in_transaction_ = false;
  // A model of the rollback journal days takes the log once a write to it
  // succeeded: a damaged or foreign file never gets that far, and stays as it was.
  if (writing_ && !logged_) TryWriteAheadLog();
  writing_ = false;
  // Another process may change the counts or split the buckets before our next transaction.
  Forget();
}

void ModelStore::Forget() {
  depth_ = -1;
  meta_.clear();
}

SpamCounts ModelStore::Counts() {
  constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();
  return {static_cast<int32_t>(Meta("ham", kMaxCount)), static_cast<int32_t>(Meta("spam", kMaxCount))};
}

void ModelStore::SetCounts(const SpamCounts& counts) {
  SetMeta("ham", counts.ham);
  SetMeta("spam", counts.spam);
}

const int64_t* ModelStore::FindMeta(std::string_view key) {
  // The table holds a handful of rows: one query reads them all for the
  // whole transaction.
  if (meta_.empty()) {
    sqlite::Statement rows(*db_, "SELECT key, value FROM meta");
    while (rows.Step()) {
      std::string name = rows.Text(0);
      // A count that is not a whole number (text, a real, NULL) would read as
      // some other number: never take it for one.
      if (!rows.IsInteger(1)) throw Damaged("'" + name + "' is no number");
      meta_.emplace_back(std::move(name), rows.Int(1));
    }
    if (meta_.empty()) meta_.emplace_back("", 0);  // read, and found empty
  }
  for (const auto& [name, value] : meta_) {
    if (name == key) return &value;
  }
  return nullptr;
}

int64_t ModelStore::Meta(const char* key, int64_t max) {
  const int64_t* value = FindMeta(key);
  if (value == nullptr) throw Damaged(std::string("no ") + key);
  if (*value < 0 || *value > max) throw Damaged(std::string("'") + key + "' is " + std::to_string(*value));
  return *value;
}

ComError ModelStore::Damaged(const std::string& what) const {
  return EngineError(kErrorCorruptDatabase, path_, "is corrupt (" + what + ")" + kRebuildHint);
}

DamageError ModelStore::DamageOf() const {
  return [this](const std::string& what) { return Damaged(what); };
}

void ModelStore::CheckContents() {
  const int depth = Depth();
  const int64_t entries = Meta("entries", kMaxEntries);
  // Each learned message counts once in the totals of its class: the rows and
  // the totals agree unless the file was damaged. One pass over the messages'
  // classes, once per opening.
  int64_t learned[2] = {0, 0};
  sqlite::Statement rows(*db_, "SELECT spam, automatic, count(*) FROM messages GROUP BY spam, automatic");
  while (rows.Step()) {
    if (!rows.IsInteger(0) || !rows.IsInteger(1) || rows.Int(0) < 0 || rows.Int(0) > 1 || rows.Int(1) < 0 ||
        rows.Int(1) > 1) {
      throw Damaged("a learned message of class " + std::to_string(rows.Int(0)));
    }
    learned[rows.Int(0)] += rows.Int(2);
  }
  // The keys at both ends, found through the table's key: keys overwritten
  // wholesale show there (a lookup would just miss them), and reading every
  // key would double the cost of an opening.
  for (const char* sql : {"SELECT digest FROM messages ORDER BY digest LIMIT 1",
                          "SELECT digest FROM messages ORDER BY digest DESC LIMIT 1"}) {
    sqlite::Statement row(*db_, sql);
    if (row.Step()) StoredDigest(row.IsNull(0) ? std::string_view() : row.BlobView(0), StoredKey::kLearnedMessage, DamageOf());
  }
  CheckTokenLayout(depth, entries);
  const SpamCounts counts = Counts();
  if (learned[0] != counts.ham || learned[1] != counts.spam) {
    throw Damaged(std::to_string(learned[0]) + " HAM and " + std::to_string(learned[1]) +
                  " SPAM messages learned, but totals of " + std::to_string(counts.ham) + " and " +
                  std::to_string(counts.spam));
  }
}

// The first and the last bucket, checked whole, bound the layout: a token
// table emptied, a bucket moved out of range or a depth that no longer
// matches the keys shows there (a lookup would find nothing and say
// nothing). Two rows, found through the table's key.
void ModelStore::CheckTokenLayout(int depth, int64_t entries) {
  bool any = false;
  for (const char* sql : {"SELECT bucket, entries FROM tokens ORDER BY bucket LIMIT 1",
                          "SELECT bucket, entries FROM tokens ORDER BY bucket DESC LIMIT 1"}) {
    sqlite::Statement row(*db_, sql);
    if (!row.Step()) break;
    any = true;
    const int64_t bucket = row.Int(0);
    if (bucket < 0 || bucket >= (int64_t{1} << depth)) {
      throw Damaged("bucket " + std::to_string(bucket) + " beyond depth " + std::to_string(depth));
    }
    const std::string_view stored = row.BlobView(1);
    CheckBucket(static_cast<uint32_t>(bucket), stored.data(), stored.size());
  }
  if (any != (entries > 0)) {
    throw Damaged(any ? "token entries, though it counts none"
                      : "no token entries, though it counts " + std::to_string(entries));
  }
}

void ModelStore::SetMeta(const char* key, int64_t value) {
  // The fit's rows come with the first fit.
  sqlite::Statement(*db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)").Bind(1, key).Bind(2, value).Run();
  if (meta_.empty()) return;  // read afresh when next asked
  for (auto& [name, known] : meta_) {
    if (name == key) {
      known = value;
      return;
    }
  }
  meta_.emplace_back(key, value);
}

std::shared_ptr<const LinearFit> ModelStore::Fit() {
  const int64_t* stored = FindMeta("fit");
  if (stored == nullptr || *stored == 0) return nullptr;
  const auto fingerprint = static_cast<uint64_t>(*stored);
  if (fit_ && fit_->fingerprint == fingerprint) return fit_;
  sqlite::Statement row(*db_, "SELECT data FROM fit WHERE one = 1");
  if (!row.Step()) throw Damaged("no linear fit, though one is recorded");
  fit_ = std::make_shared<const LinearFit>(StoredFit(row.BlobView(0), fingerprint, DamageOf()));
  return fit_;
}

void ModelStore::PutFit(const LinearFit* fit) {
  Exec("CREATE TABLE IF NOT EXISTS fit(one INTEGER PRIMARY KEY CHECK (one = 1), data BLOB NOT NULL)", "storing the fit");
  if (fit == nullptr) {
    Exec("DELETE FROM fit", "storing the fit");
    SetMeta("fit", 0);
  } else {
    const std::string data = PackFit(*fit);
    sqlite::Statement(*db_, "INSERT OR REPLACE INTO fit(one, data) VALUES(1, ?1)").BindBlobInPlace(1, data).Run();
    SetMeta("fit", static_cast<int64_t>(fit->fingerprint));
    fit_ = std::make_shared<const LinearFit>(*fit);
  }
  SetMeta("fit_changes", 0);
}

int32_t ModelStore::ChangesSinceFit() {
  const int64_t* changes = FindMeta("fit_changes");
  return changes == nullptr ? 0 : static_cast<int32_t>(std::clamp<int64_t>(*changes, 0, INT32_MAX));
}

void ModelStore::SetChangesSinceFit(int32_t changes) { SetMeta("fit_changes", changes); }

int64_t ModelStore::SplitAverage() {
  // Buckets stay within a page: half as many entries on a user's smaller pages.
  if (split_average_ == 0) split_average_ = QueryInt("PRAGMA page_size") >= kPageSize ? kBucketSplitAverage : kBucketSplitAverage / 2;
  return split_average_;
}

int ModelStore::Depth() {
  if (depth_ < 0) {
    depth_ = static_cast<int>(Meta("depth", kMaxDepth));
  }
  return depth_;
}

void ModelStore::MapPages() {
  if (mapped_) return;
  Exec(kMapPages, "reading the model");
  mapped_ = true;
}

std::vector<TokenCounts> ModelStore::Lookup(const std::vector<uint64_t>& ids) {
  if (writing_) return LookupIn(ids, false);
  // The kept buckets must belong to this state; should they disagree with
  // its totals all the same, the file itself is asked before it is called damaged.
  const bool cached = buckets_.Use(QueryIntAfterMeta("PRAGMA data_version"), meta_);
  try {
    return LookupIn(ids, cached);
  } catch (const ComError&) {
    if (!cached) throw;
    buckets_.Drop();
    return LookupIn(ids, false);
  }
}

int64_t ModelStore::QueryIntAfterMeta(const char* sql) {
  // The meta rows first: they start the snapshot that the query then reads.
  Depth();
  return QueryInt(sql);
}

std::vector<TokenCounts> ModelStore::LookupIn(const std::vector<uint64_t>& ids, bool cached) {
  MapPages();
  const std::vector<uint32_t> keys = KeysOf(ids);
  std::vector<TokenCounts> by_key(keys.size());
  const int depth = Depth();
  const SpamCounts learned = Counts();
  // Finds keys[i, j) in their bucket's bytes, read in place. Bytes fresh
  // from the file are checked whole first, kept ones were when they were
  // kept; the counts only of the entries found are checked.
  auto find = [&](uint32_t bucket, std::string_view stored, size_t i, size_t j, bool fresh) {
    if (fresh) CheckBucket(bucket, stored.data(), stored.size());
    FindInBucket(stored.data(), stored.size(), keys.data() + i, j - i, [&](size_t k, const TokenEntry& entry) {
      CheckEntry(entry, learned);
      by_key[i + k] = {entry.ham, entry.spam};
    });
  };
  // Rows come in bucket order, as do the keys: walk both together, one query
  // per stretch of nearby buckets.
  for (size_t i = 0; i < keys.size();) {
    const uint32_t first = BucketOf(keys[i], depth);
    size_t end = i;
    uint32_t last = first;
    while (end < keys.size() && BucketOf(keys[end], depth) - last <= kMaxBucketGap) last = BucketOf(keys[end++], depth);
    if (cached) {
      bool unread = false;
      for (size_t k = i; k < end && !unread; ++k) unread = buckets_.Find(BucketOf(keys[k], depth)) == nullptr;
      if (unread) {
        sqlite::Statement rows(*db_, kSelectBucketRange);
        rows.Bind(1, int64_t{first}).Bind(2, int64_t{last});
        while (rows.Step()) {
          const auto bucket = static_cast<uint32_t>(rows.Int(0));
          const std::string_view stored = rows.BlobView(1);
          CheckBucket(bucket, stored.data(), stored.size());
          buckets_.Put(bucket, stored);
        }
        for (size_t k = i; k < end; ++k) buckets_.PutMissing(BucketOf(keys[k], depth));
      }
      while (i < end) {
        const uint32_t bucket = BucketOf(keys[i], depth);
        size_t j = i;
        while (j < end && BucketOf(keys[j], depth) == bucket) ++j;
        if (const std::optional<std::string>& stored = *buckets_.Find(bucket)) find(bucket, *stored, i, j, false);
        i = j;
      }
      continue;
    }
    sqlite::Statement rows(*db_, kSelectBucketRange);
    rows.Bind(1, int64_t{first}).Bind(2, int64_t{last});
    while (i < end && rows.Step()) {
      const auto bucket = static_cast<uint32_t>(rows.Int(0));
      while (i < end && BucketOf(keys[i], depth) < bucket) ++i;
      size_t j = i;
      while (j < end && BucketOf(keys[j], depth) == bucket) ++j;
      if (j > i) find(bucket, rows.BlobView(1), i, j, true);
      i = j;
    }
    i = end;
  }
  std::vector<TokenCounts> counts;
  counts.reserve(ids.size());
  size_t k = 0;
  for (uint64_t id : ids) {
    while (keys[k] != KeyOf(id)) ++k;
    counts.push_back(by_key[k]);
  }
  return counts;
}

void ModelStore::Update(const std::vector<uint64_t>& ids, const TokenDelta& delta) {
  if (delta.ham == 0 && delta.spam == 0) return;
  MapPages();
  sqlite::Statement put(*db_, kPutBucket);
  sqlite::Statement remove(*db_, kDeleteBucket);
  int64_t change = 0;
  const SpamCounts learned = Counts();
  ForEachBucket(KeysOf(ids), Depth(), [&](uint32_t bucket, const uint32_t* keys, size_t count) {
    std::vector<TokenEntry> entries;
    {
      sqlite::Statement rows(*db_, kSelectBucket);
      rows.Bind(1, int64_t{bucket});
      if (rows.Step()) {
        // Learning rewrites the whole bucket: all of it is checked first, so
        // that nothing is ever learned over damage.
        const std::string_view stored = rows.BlobView(0);
        CheckBucket(bucket, stored.data(), stored.size());
        entries = DecodeBucket(stored.data(), stored.size());
        for (const TokenEntry& entry : entries) CheckEntry(entry, learned);
      }
    }
    change += AddToBucket(entries, keys, count, delta);
    if (entries.empty()) {
      remove.Bind(1, int64_t{bucket}).Run();
    } else {
      const std::string bytes = EncodeBucket(entries);
      put.Bind(1, int64_t{bucket}).BindBlobInPlace(2, bytes).Run();
    }
  });
  const int64_t total = Meta("entries", kMaxEntries) + change;
  if (total < 0) throw Damaged("fewer token entries than it holds");
  SetMeta("entries", total);
  while (Depth() < kMaxDepth && total > (SplitAverage() << Depth())) SplitBuckets();
}

std::vector<TokenEntry> ModelStore::AllEntries() {
  // Buckets in order hold all entries in key order; each is checked whole.
  std::vector<TokenEntry> all;
  sqlite::Statement rows(*db_, "SELECT bucket, entries FROM tokens ORDER BY bucket");
  while (rows.Step()) {
    const int64_t bucket = rows.Int(0);
    if (bucket < 0 || bucket >= (int64_t{1} << Depth())) throw Damaged("bucket " + std::to_string(bucket));
    const std::string_view stored = rows.BlobView(1);
    CheckBucket(static_cast<uint32_t>(bucket), stored.data(), stored.size());
    const std::vector<TokenEntry> entries = DecodeBucket(stored.data(), stored.size());
    all.insert(all.end(), entries.begin(), entries.end());
  }
  return all;
}

void ModelStore::SplitBuckets() {
  const std::vector<TokenEntry> all = AllEntries();
  Exec("DELETE FROM tokens", "splitting buckets");
  const int depth = Depth() + 1;
  sqlite::Statement put(*db_, kPutBucket);
  for (size_t i = 0; i < all.size();) {
    const uint32_t bucket = BucketOf(all[i].key, depth);
    size_t j = i;
    while (j < all.size() && BucketOf(all[j].key, depth) == bucket) ++j;
    const std::string bytes = EncodeBucket(std::vector<TokenEntry>(all.begin() + i, all.begin() + j));
    put.Bind(1, int64_t{bucket}).BindBlobInPlace(2, bytes).Run();
    i = j;
  }
  SetMeta("depth", depth);
  depth_ = depth;
}

ModelContents ModelStore::Contents() {
  ModelContents contents;
  BeginRead();
  contents.totals = Counts();
  for (const TokenEntry& entry : AllEntries()) contents.tokens.emplace_back(entry.key, TokenCounts{entry.ham, entry.spam});
  contents.messages = Messages();
  contents.corrections = Corrections();
  contents.pending = PendingLessons(true);
  Commit();
  return contents;
}

bool ModelStore::HasKeyRecords() {
  // A file of an engine before key records lacks their table until its next
  // write; once there it stays, so a yes is kept for the connection.
  if (!has_keys_) {
    has_keys_ = QueryInt("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'records'") != 0;
  }
  return has_keys_;
}

LearnedMessages ModelStore::Messages() {
  LearnedMessages messages;
  const bool with_keys = HasKeyRecords();
  sqlite::Statement rows(*db_, with_keys ? "SELECT m.digest, m.spam, m.automatic, r.keys FROM messages m "
                                           "LEFT JOIN records r ON r.digest = m.digest ORDER BY m.digest"
                                         : "SELECT digest, spam, automatic FROM messages ORDER BY digest");
  while (rows.Step()) {
    const DigestBytes digest = StoredDigest(rows.BlobView(0), StoredKey::kLearnedMessage, DamageOf());
    LearnedMessage message{rows.Int(1) != 0, rows.Int(2) != 0, {}};
    // A record is unpacked (and a damaged one refused) where it is used: by the fit.
    if (with_keys && !rows.IsNull(3)) message.keys = std::string(rows.BlobView(3));
    messages.emplace_back(digest, std::move(message));
  }
  return messages;
}

std::optional<LearnedMessage> ModelStore::FindMessage(const MessageDigest& digest) {
  auto find = [&](const DigestBytes& key) -> std::optional<LearnedMessage> {
    sqlite::Statement rows(*db_, kSelectMessage);
    rows.BindBlobInPlace(1, BytesOf(key));
    if (!rows.Step()) return std::nullopt;
    // Moving a message of no known class would take it from a total it never counted in.
    for (int column : {0, 1}) {
      if (!rows.IsInteger(column) || (rows.Int(column) != 0 && rows.Int(column) != 1)) {
        throw Damaged("a learned message of class " + std::to_string(rows.Int(column)));
      }
    }
    return LearnedMessage{rows.Int(0) != 0, rows.Int(1) != 0, {}};
  };
  if (auto found = find(digest.key)) return found;
  // Learned by an earlier engine, under the key of the text as it came then.
  for (const DigestBytes& key : digest.earlier) {
    if (auto found = find(key)) return found;
  }
  return std::nullopt;
}

void ModelStore::CheckBucket(uint32_t bucket, const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  const int depth = Depth();
  const std::string where = "token bucket " + std::to_string(bucket);
  if (size % kEntryBytes != 0) throw Damaged(where + " of " + std::to_string(size) + " bytes");
  const size_t count = size / kEntryBytes;
  // An empty bucket is removed, never stored.
  if (count == 0) throw Damaged(where + " is empty");
  // Every key, for a lookup too: bytes overwritten inside a bucket would
  // otherwise hide the tokens after them from the search. An entry with no
  // count is removed, never stored.
  uint32_t previous = 0;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + i * kEntryBytes;
    const uint32_t key = bucket_detail::Load32(entry);
    if (BucketOf(key, depth) != bucket || (i > 0 && key <= previous)) throw Damaged(where + " out of order");
    if (bucket_detail::Load32(entry + 4) == 0 && bucket_detail::Load32(entry + 8) == 0) {
      throw Damaged(where + " holds a token of no message");
    }
    previous = key;
  }
}

void ModelStore::CheckEntry(const TokenEntry& entry, const SpamCounts& learned) {
  if (!CountsWithin({entry.ham, entry.spam}, learned)) throw Damaged(kTokenOverCounted);
}

void ModelStore::PutMessage(const MessageDigest& digest, const LearnedMessage& message) {
  // The message now lives under its key alone: an earlier key of it goes.
  for (const DigestBytes& key : digest.earlier) {
    sqlite::Statement(*db_, "DELETE FROM messages WHERE digest = ?1").BindBlobInPlace(1, BytesOf(key)).Run();
  }
  sqlite::Statement(*db_, "INSERT OR REPLACE INTO messages(digest, spam, automatic) VALUES(?1, ?2, ?3)")
      .BindBlobInPlace(1, BytesOf(digest.key))
      .Bind(2, int64_t{message.is_spam ? 1 : 0})
      .Bind(3, int64_t{message.automatic ? 1 : 0})
      .Run();
  // The records have a table of their own, so that reading the messages'
  // classes (on every opening) stays a small read; engines before key records
  // read the file as before.
  if (!HasKeyRecords()) {
    Exec("CREATE TABLE IF NOT EXISTS records(digest BLOB PRIMARY KEY, keys BLOB NOT NULL) WITHOUT ROWID",
         "adding key records");
    has_keys_ = true;
  }
  for (const DigestBytes& key : digest.earlier) {
    sqlite::Statement(*db_, "DELETE FROM records WHERE digest = ?1").BindBlobInPlace(1, BytesOf(key)).Run();
  }
  if (message.keys.empty()) {
    sqlite::Statement(*db_, "DELETE FROM records WHERE digest = ?1").BindBlobInPlace(1, BytesOf(digest.key)).Run();
    return;
  }
  // The newest kMaxKeyRecords keep their records: each record takes the next
  // number, and those that fall out of the window go (rows of files written
  // before records aged are the oldest).
  EnsureRecordAge();
  const int64_t* last = FindMeta("record_seq");
  const int64_t seq = (last != nullptr ? *last : 0) + 1;
  SetMeta("record_seq", seq);
  sqlite::Statement(*db_, "INSERT OR REPLACE INTO records(digest, keys, seq) VALUES(?1, ?2, ?3)")
      .BindBlobInPlace(1, BytesOf(digest.key))
      .BindBlobInPlace(2, message.keys)
      .Bind(3, seq)
      .Run();
  if (seq > kMaxKeyRecords) {
    // Made when first needed: a model that never learns this much never pays for it.
    Exec("CREATE INDEX IF NOT EXISTS records_age ON records(seq)", "ageing the key records");
    sqlite::Statement(*db_, "DELETE FROM records WHERE seq IS NULL OR seq <= ?1").Bind(1, seq - kMaxKeyRecords).Run();
  }
}

void ModelStore::EnsureRecordAge() {
  if (has_record_age_) return;
  if (QueryInt("SELECT count(*) FROM pragma_table_info('records') WHERE name = 'seq'") == 0) {
    Exec("ALTER TABLE records ADD COLUMN seq INTEGER", "adding the records' age");
  }
  has_record_age_ = true;
}

bool ModelStore::HasPendingLessons() {
  return QueryInt("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'pending'") != 0;
}

std::vector<PendingLesson> ModelStore::PendingLessons(bool with_tokens) {
  std::vector<PendingLesson> lessons;
  if (!HasPendingLessons()) return lessons;
  sqlite::Statement rows(*db_, with_tokens ? "SELECT user, digest, spam, keys, tokens FROM pending ORDER BY seq"
                                           : "SELECT user, digest, spam, keys FROM pending ORDER BY seq");
  while (rows.Step()) {
    PendingLesson lesson;
    lesson.user = rows.Text(0);
    lesson.digest = StoredDigest(rows.BlobView(1), StoredKey::kWaitingLesson, DamageOf());
    if (!rows.IsInteger(2) || (rows.Int(2) != 0 && rows.Int(2) != 1)) throw Damaged("a waiting lesson's class");
    lesson.is_spam = rows.Int(2) != 0;
    lesson.keys = std::string(rows.BlobView(3));
    if (with_tokens) lesson.tokens = std::string(rows.BlobView(4));
    lessons.push_back(std::move(lesson));
  }
  return lessons;
}

void ModelStore::PutPendingLesson(const PendingLesson& lesson) {
  Exec("CREATE TABLE IF NOT EXISTS pending(seq INTEGER PRIMARY KEY, user TEXT NOT NULL, digest BLOB NOT NULL, "
       "spam INTEGER NOT NULL, keys BLOB NOT NULL, tokens BLOB NOT NULL, UNIQUE(user, digest))",
       "keeping a waiting lesson");
  // A replaced row gets a new seq: the lesson is the user's newest.
  sqlite::Statement(*db_, "INSERT OR REPLACE INTO pending(user, digest, spam, keys, tokens) VALUES(?1, ?2, ?3, ?4, ?5)")
      .Bind(1, lesson.user)
      .BindBlobInPlace(2, BytesOf(lesson.digest))
      .Bind(3, int64_t{lesson.is_spam ? 1 : 0})
      .BindBlobInPlace(4, lesson.keys)
      .BindBlobInPlace(5, lesson.tokens)
      .Run();
  sqlite::Statement(*db_, "DELETE FROM pending WHERE seq <= (SELECT seq FROM pending ORDER BY seq DESC "
                          "LIMIT 1 OFFSET ?1)")
      .Bind(1, kMaxPendingLessons)
      .Run();
}

void ModelStore::DropPendingLesson(const std::string& user, const DigestBytes& digest) {
  if (!HasPendingLessons()) return;
  sqlite::Statement(*db_, "DELETE FROM pending WHERE user = ?1 AND digest = ?2")
      .Bind(1, user)
      .BindBlobInPlace(2, BytesOf(digest))
      .Run();
}

}  // namespace varnolt::engine

namespace varnolt::engine {

bool ModelStore::HasCorrections() {
  // Made with the user's first correction; once there it stays.
  if (!has_corrections_) {
    has_corrections_ =
        QueryInt("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'corrections'") != 0;
  }
  return has_corrections_;
}

void ModelStore::PutCorrection(const MessageDigest& digest, const std::string& keys) {
  if (!HasCorrections()) {
    Exec("CREATE TABLE IF NOT EXISTS corrections(digest BLOB PRIMARY KEY, keys BLOB NOT NULL) WITHOUT ROWID",
         "adding corrections");
    has_corrections_ = true;
  }
  sqlite::Statement(*db_, "INSERT OR REPLACE INTO corrections(digest, keys) VALUES(?1, ?2)")
      .BindBlobInPlace(1, BytesOf(digest.key))
      .BindBlobInPlace(2, keys)
      .Run();
  if (QueryInt("SELECT count(*) FROM corrections") <= kMaxCorrections) return;
  // Newest by when the message was last learned, its record's number (none:
  // the oldest); corrections of messages no longer learned go first.
  const bool numbered = HasKeyRecords();
  if (numbered) EnsureRecordAge();
  sqlite::Statement(*db_, numbered ? "DELETE FROM corrections WHERE digest NOT IN (SELECT c.digest FROM corrections c "
                                     "JOIN messages m ON m.digest = c.digest LEFT JOIN records r ON r.digest = c.digest "
                                     "ORDER BY r.seq IS NULL, r.seq DESC, c.digest LIMIT ?1)"
                                   : "DELETE FROM corrections WHERE digest NOT IN (SELECT c.digest FROM corrections c "
                                     "JOIN messages m ON m.digest = c.digest ORDER BY c.digest LIMIT ?1)")
      .Bind(1, kMaxCorrections)
      .Run();
}

std::vector<Correction> ModelStore::Corrections() {
  // Every verdict reads them: a connection keeps them while the file stays in
  // the state it read them in, as it keeps the token buckets.
  std::optional<std::pair<int64_t, std::vector<std::pair<std::string, int64_t>>>> state;
  if (!writing_) {
    state.emplace(QueryIntAfterMeta("PRAGMA data_version"), meta_);
    if (kept_corrections_ && kept_corrections_->first == *state) return kept_corrections_->second;
  }
  std::vector<Correction> corrections;
  if (!HasCorrections()) return corrections;
  // The class is the learned message's: a correction of a message no longer learned is none.
  sqlite::Statement rows(*db_,
                         "SELECT c.digest, m.spam, c.keys FROM corrections c JOIN messages m ON m.digest = c.digest "
                         "ORDER BY c.digest");
  while (rows.Step()) {
    Correction correction;
    correction.digest = StoredDigest(rows.BlobView(0), StoredKey::kCorrection, DamageOf());
    correction.is_spam = rows.Int(1) != 0;
    correction.keys = std::string(rows.BlobView(2));
    corrections.push_back(std::move(correction));
  }
  if (state) kept_corrections_.emplace(std::move(*state), corrections);
  return corrections;
}

}  // namespace varnolt::engine
