// One user's model in its SQLite file: for each token the number of HAM and
// SPAM messages that held it, the numbers of messages learned, and what each
// learned message was learned as (so that a correction moves it exactly and
// learning it again changes nothing), with its key record (key_record.h) for
// the linear model, and the linear model's last fit. Files written before key
// records gain their table with their next write; until then the linear model
// knows fewer messages. All of
// it is a function of the set of messages learned and their classes, whatever
// the order they came in.
//
// The file carries its own application id (kModelApplicationId) and format
// version. Files of the earlier engine (whose weights depended on the order
// of the mail) share their id with the mail store; both are refused with a
// message that says what the file is, and are never changed.
//
// Several processes may use one file at once: each waits for a busy peer up
// to the busy timeout every SQLite file here shares, and every change runs in
// a write transaction taken up front.
// The file uses a write-ahead log, so that readers never wait for a writer,
// synced only at checkpoints: a power cut may lose the last lessons, never
// the file. A model written before the log switches over after its first
// successful write. Its side files (-wal, -shm) share the file's owner and mode, even
// when root writes them. Never replace a model file by a rename while it may
// be open: its log is found by name; clear it in place instead. A file that
// is not ours is only ever read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/bucket_cache.h"
#include "engine/chi_square.h"
#include "engine/feature_hash.h"
#include "engine/spam_model.h"
#include "engine/stored_rows.h"
#include "engine/token_buckets.h"
#include "platform/com/com_error.h"
#include "platform/names/file_ids.h"
#include "platform/spam_engine.h"

namespace varnolt::sqlite {
class Database;
}

namespace varnolt::engine {

// The ids themselves live with the other files' ids, so each kind recognises the others.
constexpr int32_t kModelApplicationId = kSpamModelApplicationId;
constexpr int32_t kModelFormatVersion = 2;
// Mail stores and the earlier engine's order-dependent models alike.
constexpr int32_t kEarlierApplicationId = kEarlierSharedApplicationId;

class ModelStore : public SpamModel {
 public:
  enum class Mode {
    kCreate,        // a missing file is created (its directory never is); an empty path is an error (76)
    kExistingOnly,  // a missing or never-initialized file, or an empty path, yields no store
  };

  // Opens the model at path (the filter's composed text; "\" separators) and
  // checks that it is one; no transaction is left open. A new file is
  // readable by its owner and group only.
  // Throws ComError: 76 when the directory is missing, 70 when access is
  // denied, kErrorForeignDatabase for a file that is not ours (a mail store
  // named as such), kErrorEarlierFormat for the earlier engine's files,
  // kErrorNewerFormat, kErrorCorruptDatabase for a damaged one. Returns
  // nullptr only in kExistingOnly mode.
  static std::unique_ptr<ModelStore> Open(const std::string& path, Mode mode);
  ~ModelStore() override;
  ModelStore(const ModelStore&) = delete;
  ModelStore& operator=(const ModelStore&) = delete;

  // A read snapshot, or the write lock taken at once; Commit ends either.
  // Destroying the store inside a transaction rolls it back.
  void BeginRead() override;
  // The WAL file is synced at checkpoints only (synchronous=NORMAL): every
  // write may lose its last moments in a power cut, so sync changes nothing.
  void BeginWrite(WriteSync sync = WriteSync::kWait) override;
  void Commit() override;
  bool in_transaction() const { return in_transaction_; }

  // The numbers of messages learned. Call inside a transaction.
  SpamCounts Counts() override;
  void SetCounts(const SpamCounts& counts) override;
  // The counts of each of the sorted ids, in their order ({0, 0} for ids never
  // learned). Call inside a transaction.
  std::vector<TokenCounts> Lookup(const std::vector<uint64_t>& ids) override;
  // Applies delta to every one of the sorted ids. Call inside a write
  // transaction.
  void Update(const std::vector<uint64_t>& ids, const TokenDelta& delta) override;
  // What the message was learned as, found under its key or, for a model
  // an earlier engine wrote, one of its earlier keys.
  std::optional<LearnedMessage> FindMessage(const MessageDigest& digest) override;
  // Forgets everything learned, in one write transaction: readers see the
  // model before or after, never a missing file.
  void Clear() override;
  ModelContents Contents() override;
  // Records the message under its key, with its key record; a row under an earlier key goes.
  void PutMessage(const MessageDigest& digest, const LearnedMessage& message) override;
  LearnedMessages Messages() override;
  // The fit lives in a table of its own, its fingerprint in the meta rows: a
  // fit read once is kept while the fingerprint stays.
  std::shared_ptr<const LinearFit> Fit() override;
  void PutFit(const LinearFit* fit) override;
  // The corrections have a table of their own, made with the first.
  void PutCorrection(const MessageDigest& digest, const std::string& keys) override;
  std::vector<Correction> Corrections() override;
  int32_t ChangesSinceFit() override;
  void SetChangesSinceFit(int32_t changes) override;
  // The waiting lessons live in a table of their own, made with the first.
  std::vector<PendingLesson> PendingLessons(bool with_tokens) override;
  void PutPendingLesson(const PendingLesson& lesson) override;
  void DropPendingLesson(const std::string& user, const DigestBytes& digest) override;

 private:
  explicit ModelStore(std::string path);
  void CheckFormat(Mode mode);  // throws for a file that is not ours; initializes an empty one in kCreate
  bool IsInitialized();
  void Initialize();
  void ApplyJournalSettings();  // this connection's; notes whether the file has its log
  void TryWriteAheadLog();      // switches the file to the log unless a peer holds it
  int64_t QueryInt(const char* sql);  // the first column of the first row, 0 when none
  void Exec(const std::string& sql, const char* doing);
  void Run(std::string_view sql, const char* doing);  // one statement, prepared once (BEGIN, COMMIT)
  const int64_t* FindMeta(std::string_view key);  // nullptr when the file has no such row
  // The value of a meta row, which must lie in [0, max].
  int64_t Meta(const char* key, int64_t max);
  // kErrorCorruptDatabase naming the file, what is wrong and how to rebuild it.
  ComError Damaged(const std::string& what) const;
  DamageError DamageOf() const;  // Damaged, for the checks both stores share
  // Throws unless the counts are in range and the learned messages' classes
  // are known and agree with the totals. Reads every message's class once.
  void CheckContents();
  // Throws unless the first and last buckets lie within the depth, hold keys
  // of their own and are there exactly when the model counts token entries.
  void CheckTokenLayout(int depth, int64_t entries);
  // Throws unless the bucket's bytes are whole entries, at least one, whose
  // keys belong to it, in order, each counted in some message.
  void CheckBucket(uint32_t bucket, const void* data, size_t size);
  void CheckEntry(const TokenEntry& entry, const SpamCounts& learned);
  void SetMeta(const char* key, int64_t value);
  int Depth();
  int64_t SplitAverage();  // the entries per bucket above which buckets double, by the file's page size
  void Forget();    // what was read in a transaction that ended
  void MapPages();  // once per connection, before reading many buckets
  bool HasKeyRecords();
  bool HasCorrections();
  // The counts of the ids, from the kept buckets where cached (a read whose
  // state they belong to) or from the file.
  std::vector<TokenCounts> LookupIn(const std::vector<uint64_t>& ids, bool cached);
  int64_t QueryIntAfterMeta(const char* sql);
  bool HasPendingLessons();  // whether the file has the waiting lessons' table
  // Gives the records' table of a file written before records aged its age column.
  void EnsureRecordAge();
  std::vector<TokenEntry> AllEntries();  // every token's entry, in key order
  void SplitBuckets();
  // The connection's failure handler: the code and SQLite's message become our ComError.
  [[noreturn]] void Fail(int rc, const std::string& message);

  std::unique_ptr<sqlite::Database> db_;
  std::string path_;  // as the caller gave it, for messages
  bool in_transaction_ = false;
  bool writing_ = false;  // the open transaction is a write
  bool logged_ = false;   // the file uses the write-ahead log
  bool mapped_ = false;
  bool has_keys_ = false;  // the file has its key records' table
  bool has_corrections_ = false;  // ...and its corrections' table
  bool has_record_age_ = false;  // ...with the column that orders them by age
  std::shared_ptr<const LinearFit> fit_;  // the last fit read or stored
  int depth_ = -1;  // of the token buckets; read once per transaction
  int64_t split_average_ = 0;  // read once per connection
  BucketCache buckets_;  // read outside writes, kept while the file is unchanged
  // The corrections as read in the state (data version, meta rows) they belong to.
  std::optional<std::pair<std::pair<int64_t, std::vector<std::pair<std::string, int64_t>>>, std::vector<Correction>>>
      kept_corrections_;
  std::vector<std::pair<std::string, int64_t>> meta_;  // the meta rows, once read in a transaction
  const char* doing_ = nullptr;  // what a failure interrupted, when more than reading or writing
};

}  // namespace varnolt::engine
