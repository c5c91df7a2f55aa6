// One user's model in its SQLite file: each token's weight and counts, the
// learned counts, and what each learned message was learned as (so that a
// correction can undo it).
//
// Files of the first format (weights without counts) are still read; the
// first write upgrades them in place, keeping every weight. Their tokens'
// counts start from that upgrade, which is why the messages whose tokens were
// counted are counted apart from the messages learned.
//
// Several processes may use one file at once: each waits for a busy peer up
// to a timeout, and every change runs in a write transaction taken up front.
// The file keeps SQLite's rollback journal rather than a write-ahead log: a
// reader then opens the file alone, without setting up the log's shared
// memory file each time, which is most of the cost of a Classify. Readers
// and a writer still overlap until the writer commits. A file that is not
// ours is only ever read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/chi_square.h"
#include "engine/feature_hash.h"
#include "engine/token_buckets.h"
#include "triage/spam_engine.h"

struct sqlite3;
struct sqlite3_stmt;

namespace varnolt::engine {

struct LearnedMessage {
  bool is_spam = false;
  double step = 0;       // what learning it added to each of its weights, times the feature value
  bool counted = false;  // whether its tokens' counts include it
};

// What the model knows of a message's tokens.
struct TokenEvidence {
  double weight_sum = 0;
  std::vector<TokenCounts> counts;  // of the tokens with an entry
};

class ModelStore {
 public:
  enum class Mode {
    kCreate,        // a missing file is created (its directory never is); an empty path is an error (76)
    kExistingOnly,  // a missing or never-initialized file, or an empty path, yields no store
  };

  // Opens the model at path (the filter's composed text; "\" separators),
  // leaving a read transaction open (BeginWrite or Commit ends it).
  // Throws ComError: 76 when the directory is missing, 70 when access is
  // denied, kErrorForeignDatabase for a file that is not ours, kErrorCorrupt...
  // for a damaged one. Returns nullptr only in kExistingOnly mode.
  static std::unique_ptr<ModelStore> Open(const std::string& path, Mode mode);
  ~ModelStore();
  ModelStore(const ModelStore&) = delete;
  ModelStore& operator=(const ModelStore&) = delete;

  // A read snapshot, or the write lock taken at once (ending any read
  // transaction first); Commit ends either. Destroying the store inside a
  // transaction rolls it back.
  void BeginRead();
  void BeginWrite();
  void Commit();

  // The messages learned, and those of them whose tokens were counted.
  SpamCounts Counts();
  void SetCounts(const SpamCounts& counts);
  TokenCounts CountedMessages();
  void SetCountedMessages(const TokenCounts& counts);
  // The weights and counts of the given sorted ids (ids never learned add
  // nothing). Call inside a transaction.
  TokenEvidence Lookup(const std::vector<uint64_t>& ids);
  // Applies delta to every one of the sorted ids. Call inside a write
  // transaction.
  void Update(const std::vector<uint64_t>& ids, const TokenDelta& delta);
  std::optional<LearnedMessage> FindMessage(const MessageDigest& digest);
  void PutMessage(const MessageDigest& digest, const LearnedMessage& message);

 private:
  class Statement;
  ModelStore(sqlite3* db, std::string path);
  void Initialize();  // creates the schema in a file that has none
  bool IsInitialized();
  int64_t QueryInt(const char* sql);  // the first column of the first row, 0 when none
  void Exec(const char* sql, const char* doing = "opening");
  Statement& Prepared(int index, const char* sql);
  const int64_t* FindMeta(std::string_view key);  // nullptr when the file has no such row
  int64_t Meta(const char* key);
  void SetMeta(const char* key, int64_t value);
  int Depth();
  int FormatVersion();  // read once per transaction
  void Forget();        // what was read in a transaction that ended
  EntryLayout Layout();
  void UpgradeFromWeightsOnly();
  void MapPages();  // once per connection, before reading many buckets
  void SplitBuckets();
  [[noreturn]] void Fail(int rc, const std::string& doing);

  sqlite3* db_;
  std::string path_;  // as the caller gave it, for messages
  bool in_transaction_ = false;
  bool mapped_ = false;
  int depth_ = -1;    // of the token buckets; read once per transaction
  int version_ = -1;  // of the file format; read once per transaction
  std::vector<std::pair<std::string, int64_t>> meta_;  // the meta rows, once read in a transaction
  std::vector<std::unique_ptr<Statement>> statements_;
};

}  // namespace varnolt::engine
