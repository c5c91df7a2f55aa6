// One spam model (a user's or a domain's) in PostgreSQL, in the tables of
// model_schema.h: the numbers of HAM and SPAM messages learned, per token the
// numbers of HAM and SPAM messages that held it, and per learned message its
// digest and class. It offers what the file model of the built-in engine
// offers, so that the engine can keep its models on a server that several
// mail servers share.
//
// Tokens are 64-bit ids, stored as given (a bigint holds the bits of the
// unsigned id). Counts stay at 0 or above; a token whose counts both reach 0
// loses its row.
//
// Errors: every failure throws ComError with a number of pg_errors.h:
// kPgUnavailable when the server cannot be reached or the connection broke
// (nothing of an unfinished write is kept: the server rolls it back),
// kPgConflict when a lock wait or statement timed out or the server broke a
// deadlock (repeat the whole write), kPgSchemaMissing / kPgSchemaNewer from
// Open for a database without the schema or of another version,
// kPgQueryFailed for anything else the server refuses. After a failure inside
// a write, the write is over: the store rolls it back, and the next call
// starts afresh.
//
// Threads: a store uses its connection, and both serve one thread at a time.
// Any number of stores on other connections, in this and other processes and
// on other machines, may use the same model at once.
//
// Atomicity: BeginWrite ... Commit is one transaction, the unit for one
// learned message. BeginWrite takes the model's row lock at once, so writers
// of one model take turns (others wait, the way a second writer waits for a
// file's lock) and the totals it returns stay true until Commit: set them
// from those. Reads outside a write (Counts, Lookup) are single statements
// and each sees one committed state; Lookup returns the totals and the
// tokens of the same state. BeginRead ... EndRead makes several reads one
// snapshot. Reset is one transaction of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backends/postgres/connection.h"
#include "platform/names/model_values.h"

namespace varnolt::postgres {

enum class ModelKind : int16_t { kUser = 1, kDomain = 2 };

// A user's lesson waiting in a domain's model for others to agree.
struct PendingRow {
  std::string user;
  std::string digest;
  bool is_spam = false;
  std::string keys;
  std::string tokens;  // empty when read without them
  bool operator==(const PendingRow&) const = default;
};

// Everything one model holds.
struct ModelRows {
  SpamCounts totals;
  std::vector<std::pair<uint64_t, TokenCounts>> tokens;        // by id, ascending as bigints
  std::vector<std::pair<std::string, LearnedMessage>> messages;  // by digest, ascending
  std::vector<PendingRow> pending;                             // oldest first
};

using LearnedRows = std::vector<std::pair<std::string, LearnedMessage>>;

// A model's kind and name.
struct ModelName {
  ModelKind kind;
  std::string name;
};

class PostgresModelStore {
 public:
  // Every model of db, by kind and name.
  static std::vector<ModelName> List(Connection& db);

  // The model of that kind and name on db (whose schema is checked once per
  // connection). With create, a missing model is made, empty (two servers
  // creating it at once get the same one); without, a missing model yields
  // nullptr and nothing is written. The store keeps a reference to db.
  static std::unique_ptr<PostgresModelStore> Open(Connection& db, ModelKind kind, const std::string& name,
                                                  bool create);
  // Rolls back a write left open.
  ~PostgresModelStore();
  PostgresModelStore(const PostgresModelStore&) = delete;
  PostgresModelStore& operator=(const PostgresModelStore&) = delete;

  int32_t id() const { return id_; }

  // The numbers of messages learned.
  SpamCounts Counts();
  // The totals, and in *tallies the tallies of the given ids (sorted, repeats
  // allowed) in their order, {0, 0} for ids never learned: one statement,
  // one round trip, one committed state.
  SpamCounts Lookup(const std::vector<uint64_t>& ids, std::vector<TokenCounts>* tallies);

  // Whether Commit waits until the server has flushed the write to disk.
  // kUnflushed commits in a fraction of the time (no disk flush on the way);
  // a crash of the database server (not of ours) may then lose the writes of
  // its last moments, whole, never part of one: fit for what the engine
  // learns from its own verdicts, not for a user's correction.
  enum class CommitWait { kFlushed, kUnflushed };

  // Starts the write of one learned message: a transaction holding the
  // model's lock. Returns the totals as they stand.
  SpamCounts BeginWrite(CommitWait wait = CommitWait::kFlushed);
  // Within a write: the class a message was learned as (without its key
  // record); nullopt when it was not.
  std::optional<LearnedMessage> FindMessage(std::string_view digest);
  // Within a write: records (or changes) what a message was learned as, with
  // its key record. With keep_records above 0, only the model's newest that
  // many records stay (the message's is the newest); older messages keep their class.
  void PutMessage(std::string_view digest, const LearnedMessage& learned, int64_t keep_records = 0);
  // Within a write: forgets what a message was learned as (its row under an
  // earlier digest, say), keeping the totals as they are.
  void ForgetMessage(std::string_view digest);
  // Within a write: notes that the user corrected the message, with its key record.
  // Of the corrections, those of the keep messages learned last stay (keep 0: all).
  void PutCorrection(std::string_view digest, std::string_view keys, int64_t keep = 0);
  // The corrected messages that the model holds: digest, class (the learned
  // message's), key record; by digest ascending.
  struct CorrectedRow {
    std::string digest;
    bool is_spam = false;
    std::string keys;
  };
  std::vector<CorrectedRow> Corrections();

  // A read of one committed state until EndRead: the statements between see
  // one snapshot. Outside a write.
  void BeginRead();
  void EndRead();

  // Within a write: adds delta to the tallies of the given ids (sorted,
  // repeats count once), in one statement.
  void Update(const std::vector<uint64_t>& ids, const TokenDelta& delta);
  // Within a write: the numbers of messages learned, as they are after this message.
  void SetCounts(const SpamCounts& totals);
  // Ends the write, keeping all of it; throws (keeping nothing) when the
  // server cannot commit it.
  void Commit();
  // Ends the write, keeping none of it.
  void Rollback();
  bool in_write() const { return transaction_ != nullptr; }

  // Within a write: everything the model holds.
  ModelRows ReadAll();
  // Every learned message with its key record, by digest ascending: one
  // statement (inside a write or not).
  LearnedRows Messages();

  // The stored fit's fingerprint, 0 when none is stored; its bytes.
  int64_t FitFingerprint();
  std::optional<std::string> FitData();
  // Within a write: stores the fit's bytes (fingerprint 0: drops the fit) and
  // sets the changes since to 0.
  void PutFit(int64_t fingerprint, std::string_view data);
  int32_t FitChanges();
  // Within a write.
  void SetFitChanges(int32_t changes);

  // The waiting lessons, oldest first: one statement (inside a write or not).
  std::vector<PendingRow> Pending(bool with_tokens);
  // Within a write: keeps the lesson as the newest, in place of the user's
  // earlier one on that message, and only the newest keep of all.
  void PutPending(const PendingRow& row, int64_t keep);
  // Within a write.
  void DropPending(std::string_view user, std::string_view digest);

  // Forgets everything learned and every waiting lesson (the model stays, empty), in one transaction
  // that waits for a write of the model in progress.
  void Reset();

 private:
  PostgresModelStore(Connection& db, int32_t id) : db_(db), id_(id) {}
  void RequireWrite(const char* what) const;
  template <typename Body>
  auto Writing(Body body);  // runs body; a failure ends the write

  Connection& db_;
  int32_t id_;
  std::unique_ptr<Transaction> transaction_;
  bool reading_ = false;  // a snapshot read is under way
};

}  // namespace varnolt::postgres
