// The seam between the engine and where its models live: a user's model or
// a domain's shared model, opened from a ModelBackend, read and written
// through SpamModel. Two backends: the SQLite file per model of
// model_store.h (file_model_backend.h) and PostgreSQL, one database that
// several mail servers share (postgres_model_backend.h). Both key tokens by
// the same 64-bit ids and messages by the same digests, so a model moved
// from one to the other scores every message as before.
//
// Errors: every failure throws ComError: the file store's numbers
// (engine_errors.h, 70, 76) or PostgreSQL's (backends/postgres/pg_errors.h:
// kPgUnavailable when the server cannot be reached). A failure inside a
// write keeps nothing of it; the model is then unusable, and its lease must
// end without Keep().
//
// Threads: a SpamModel serves one thread at a time (a lease is one caller's);
// a backend is thread-safe. Any number of models open on one user's model,
// in this and other processes and on other machines, may be used at once.
//
// Atomicity: BeginWrite ... Commit is one transaction, the unit for one
// learned or relearned message: writers of one model take turns, and the
// totals read inside it stay true until Commit. BeginRead ... Commit reads
// one committed state (the totals and the tokens' counts agree). Clear is
// one transaction of its own; readers see the model before or after it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/chi_square.h"
#include "engine/feature_hash.h"
#include "engine/token_buckets.h"
#include "platform/spam_engine.h"

namespace varnolt::engine {

struct LinearFit;  // linear_fit.h

using ::varnolt::LearnedMessage;

using LearnedMessages = std::vector<std::pair<DigestBytes, LearnedMessage>>;

// A message the user corrected (moved into or out of the junk folder), as
// the model now holds it: its class is the learned message's, so that a
// later lesson of the same message is what counts.
struct Correction {
  DigestBytes digest{};
  bool is_spam = false;
  std::string keys;  // its key record, packed (key_record.h)
};

// A user's lesson that waits in the domain's shared model until enough users
// agree on it (domain_consensus.h): one per user and message.
struct PendingLesson {
  std::string user;  // who taught it: the name of the user's model file
  DigestBytes digest{};
  bool is_spam = false;
  std::string keys;    // its key record, packed (key_record.h); may be empty
  std::string tokens;  // its token keys, packed (domain_consensus.h); empty when listed without them
};
// Of the lessons that wait, the newest this many stay: a domain's model never grows without bound.
constexpr int64_t kMaxPendingLessons = 5000;

// Of a user's corrections, those of the messages learned last stay: every
// verdict compares the message with each, some 0.7 microseconds apiece
// (engine_bench BM_ClassifyWithCorrections), so that 1,000 keep the rule
// within a millisecond of a verdict and a model file within about a megabyte
// of key records, while a user correcting a few messages a day is held to
// a year or more of them. A correction that goes keeps its lesson: the counts
// and the fit still have it; only the rule no longer overrides them.
constexpr int64_t kMaxCorrections = 1000;

// Everything a model holds, for moving it to another store.
struct ModelContents {
  SpamCounts totals;
  std::vector<std::pair<uint32_t, TokenCounts>> tokens;  // by key (token_buckets.h), ascending
  LearnedMessages messages;  // by digest, ascending
  std::vector<Correction> corrections;  // by digest, ascending
  std::vector<PendingLesson> pending;  // oldest first, with their tokens
};
bool SameContents(const ModelContents& a, const ModelContents& b);

// Whether a write's Commit waits until it is on disk. kMayLose commits
// without waiting where the store can: a crash of the machine (or of the
// database server) right after it may lose the last such writes, whole,
// never part of one. Fit for what the engine learns on its own (trusted
// senders' mail, its own verdicts), which later mail teaches again; not
// for a user's correction or an administrator's lesson.
enum class WriteSync { kWait, kMayLose };

class SpamModel {
 public:
  virtual ~SpamModel() = default;

  // A read snapshot, or the write lock taken at once; Commit ends either.
  virtual void BeginRead() = 0;
  virtual void BeginWrite(WriteSync sync) = 0;
  virtual void Commit() = 0;

  // The numbers of messages learned. Inside a transaction.
  virtual SpamCounts Counts() = 0;
  // Inside a write: the numbers as they are after this message.
  virtual void SetCounts(const SpamCounts& counts) = 0;
  // The counts of each of the sorted ids, in their order ({0, 0} for ids
  // never learned). Inside a transaction.
  virtual std::vector<TokenCounts> Lookup(const std::vector<uint64_t>& ids) = 0;
  // Inside a write: applies delta to every one of the sorted ids.
  virtual void Update(const std::vector<uint64_t>& ids, const TokenDelta& delta) = 0;
  // Inside a transaction: what the message was learned as, if it was.
  virtual std::optional<LearnedMessage> FindMessage(const MessageDigest& digest) = 0;
  // Inside a write: records what the message is learned as, with its key record.
  virtual void PutMessage(const MessageDigest& digest, const LearnedMessage& message) = 0;
  // Inside a transaction: every learned message with its key record, by digest ascending.
  virtual LearnedMessages Messages() = 0;
  // The linear model's stored fit (linear_fit.h), null when none is stored:
  // a cache of the learned set at its last fit, not part of the model's
  // contents. Inside a transaction.
  virtual std::shared_ptr<const LinearFit> Fit() = 0;
  // Inside a write: stores the fit, or drops the stored one (null); the
  // changes since the fit start again at 0.
  virtual void PutFit(const LinearFit* fit) = 0;
  // Messages learned or moved since the stored fit. Inside a transaction.
  virtual int32_t ChangesSinceFit() = 0;
  // Inside a write.
  virtual void SetChangesSinceFit(int32_t changes) = 0;
  // Inside a write: notes that the user corrected the message, which must be
  // learned (PutMessage) in the model; keys is its packed key record. Of the
  // corrections, those of the kMaxCorrections messages learned last stay.
  virtual void PutCorrection(const MessageDigest& digest, const std::string& keys) = 0;
  // Inside a transaction: the corrected messages that the model holds, by digest ascending.
  virtual std::vector<Correction> Corrections() = 0;
  // Inside a transaction: the lessons that wait for agreement, oldest first;
  // with_tokens false leaves their tokens out (the usual need is the records).
  virtual std::vector<PendingLesson> PendingLessons(bool with_tokens) = 0;
  // Inside a write: keeps a waiting lesson as the newest, in place of the
  // user's earlier one on that message; the oldest beyond kMaxPendingLessons go.
  virtual void PutPendingLesson(const PendingLesson& lesson) = 0;
  // Inside a write: the user's waiting lesson on that message goes (none: nothing).
  virtual void DropPendingLesson(const std::string& user, const DigestBytes& digest) = 0;
  // Forgets everything learned and every waiting lesson, in one transaction of its own.
  virtual void Clear() = 0;
  // Everything the model holds, as one committed state. Outside a transaction.
  virtual ModelContents Contents() = 0;
};

// A model in use. Keep() hands it back to its backend for the next caller;
// without it (the call failed) it is closed, rolling back what it had not
// committed.
class ModelLease {
 public:
  class Holder {
   public:
    virtual ~Holder() = default;
    virtual SpamModel* model() = 0;
    virtual void Keep() = 0;
  };
  ModelLease() = default;
  explicit ModelLease(std::unique_ptr<Holder> holder) : holder_(std::move(holder)) {}
  SpamModel* get() const { return holder_ ? holder_->model() : nullptr; }
  SpamModel* operator->() const { return get(); }
  explicit operator bool() const { return get() != nullptr; }
  void Keep() {
    if (holder_) holder_->Keep();
    holder_.reset();
  }

 private:
  std::unique_ptr<Holder> holder_;
};

enum class ModelOpen {
  kCreate,        // a missing model is made, empty; the user's file at its path too
  kExistingOnly,  // a missing model yields an empty lease, and nothing is written
};

class ModelBackend {
 public:
  virtual ~ModelBackend() = default;
  // The model whose file is (or would be) at path: a user's database
  // (UserDatabasePath) or a domain's shared model (DomainModelPath), the
  // filter's composed text. kCreate on an empty path throws 76; a missing
  // directory is 76 too (it belongs to the caller's layout).
  virtual ModelLease Open(const std::string& path, ModelOpen mode) = 0;
};

}  // namespace varnolt::engine
