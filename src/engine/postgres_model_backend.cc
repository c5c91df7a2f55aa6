#include "engine/postgres_model_backend.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include "backends/postgres/pg_errors.h"
#include "engine/key_record.h"
#include "engine/linear_fit.h"
#include "engine/model_store.h"
#include "engine/stored_rows.h"
#include "engine/token_buckets.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"

namespace varnolt::engine {
namespace {

using postgres::PostgresModelStore;

std::string_view DigestText(const DigestBytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A token as a model file keys it (token_buckets.h): two ids of one key are
// one token there, and must be one here, or a model moved between the stores
// would score differently. Sorted ids give sorted keys.
std::vector<uint64_t> FileKeys(const std::vector<uint64_t>& ids) {
  std::vector<uint64_t> keys;
  keys.reserve(ids.size());
  for (const uint64_t id : ids) keys.push_back(KeyOf(id));
  return keys;
}

ComError Damaged(const std::string& what) { return postgres::PgError(postgres::kPgBadResult, "holds " + what); }

LearnedMessages ToMessages(const postgres::LearnedRows& rows) {
  LearnedMessages messages;
  messages.reserve(rows.size());
  for (const auto& [digest, learned] : rows) {
    // Its key record is unpacked (and a damaged one refused) where it is used: by the fit.
    messages.emplace_back(StoredDigest(digest, StoredKey::kLearnedMessage, Damaged), learned);
  }
  return messages;
}

PendingLesson ToLesson(const postgres::PendingRow& row) {
  return PendingLesson{row.user, StoredDigest(row.digest, StoredKey::kWaitingLesson, Damaged), row.is_spam, row.keys,
                       row.tokens};
}

std::vector<PendingLesson> ToLessons(const std::vector<postgres::PendingRow>& rows) {
  std::vector<PendingLesson> lessons;
  lessons.reserve(rows.size());
  for (const postgres::PendingRow& row : rows) lessons.push_back(ToLesson(row));
  return lessons;
}

// One model on one leased connection.
class PostgresModel : public SpamModel, public ModelLease::Holder {
 public:
  PostgresModel(postgres::ConnectionPool::Lease connection, std::unique_ptr<PostgresModelStore> store,
                std::shared_ptr<FitCache> fits)
      : connection_(std::move(connection)), store_(std::move(store)), fits_(std::move(fits)) {}

  SpamModel* model() override { return this; }
  void Keep() override {}  // the connection goes back to its pool with the lease

  // A read is one snapshot: the totals, the tokens' counts, the fit and the
  // corrections of one committed state.
  void BeginRead() override {
    totals_.reset();
    store_->BeginRead();
  }
  void BeginWrite(WriteSync sync) override {
    store_->EndRead();
    found_earlier_.reset();
    totals_ = store_->BeginWrite(sync == WriteSync::kMayLose ? PostgresModelStore::CommitWait::kUnflushed
                                                             : PostgresModelStore::CommitWait::kFlushed);
  }
  void Commit() override {
    if (store_->in_write()) store_->Commit();
    store_->EndRead();
    totals_.reset();
  }

  SpamCounts Counts() override {
    if (!totals_) totals_ = store_->Counts();
    return *totals_;
  }
  void SetCounts(const SpamCounts& counts) override {
    store_->SetCounts(counts);
    totals_ = counts;
  }
  std::vector<TokenCounts> Lookup(const std::vector<uint64_t>& ids) override {
    std::vector<TokenCounts> counts;
    const SpamCounts totals = store_->Lookup(FileKeys(ids), &counts);
    if (!store_->in_write()) totals_ = totals;
    for (const TokenCounts& token : counts) CheckTokenCounts(token, totals, Damaged);
    return counts;
  }
  void Update(const std::vector<uint64_t>& ids, const TokenDelta& delta) override {
    store_->Update(FileKeys(ids), delta);
  }
  std::optional<LearnedMessage> FindMessage(const MessageDigest& digest) override {
    // Only inside a write; the engine reads a message's class for nothing else.
    std::optional<LearnedMessage> found = store_->FindMessage(DigestText(digest.key));
    for (size_t i = 0; !found && i < digest.earlier.size(); ++i) {
      found = store_->FindMessage(DigestText(digest.earlier[i]));
      if (found) found_earlier_ = digest.earlier[i];
    }
    if (!found) return std::nullopt;
    return LearnedMessage{found->is_spam, found->automatic, {}};
  }
  void PutMessage(const MessageDigest& digest, const LearnedMessage& message) override {
    // The message now lives under its key alone: the row found under an
    // earlier key goes, or it would count twice.
    if (found_earlier_) {
      store_->ForgetMessage(DigestText(*found_earlier_));
      found_earlier_.reset();
    }
    store_->PutMessage(DigestText(digest.key), message, kMaxKeyRecords);
  }
  void PutCorrection(const MessageDigest& digest, const std::string& keys) override {
    store_->PutCorrection(DigestText(digest.key), keys, kMaxCorrections);
  }
  std::vector<Correction> Corrections() override {
    std::vector<Correction> corrections;
    for (const auto& row : store_->Corrections()) {
      corrections.push_back({StoredDigest(row.digest, StoredKey::kCorrection, Damaged), row.is_spam, row.keys});
    }
    return corrections;
  }
  void Clear() override {
    store_->EndRead();
    store_->Reset();
  }
  ModelContents Contents() override {
    // Inside a write, so that no lesson lands between the reads.
    store_->EndRead();
    store_->BeginWrite();
    const postgres::ModelRows rows = store_->ReadAll();
    ModelContents contents;
    contents.corrections = Corrections();
    store_->Commit();
    contents.totals = rows.totals;
    for (const auto& [key, tally] : rows.tokens) {
      if (key > UINT32_MAX) throw Damaged("a token of no model file's key");
      CheckTokenCounts(tally, rows.totals, Damaged);
      contents.tokens.emplace_back(static_cast<uint32_t>(key), tally);
    }
    contents.messages = ToMessages(rows.messages);
    contents.pending = ToLessons(rows.pending);
    return contents;
  }
  std::vector<PendingLesson> PendingLessons(bool with_tokens) override {
    return ToLessons(store_->Pending(with_tokens));
  }
  void PutPendingLesson(const PendingLesson& lesson) override {
    store_->PutPending({lesson.user, std::string(DigestText(lesson.digest)), lesson.is_spam, lesson.keys, lesson.tokens},
                       kMaxPendingLessons);
  }
  void DropPendingLesson(const std::string& user, const DigestBytes& digest) override {
    store_->DropPending(user, DigestText(digest));
  }
  LearnedMessages Messages() override { return ToMessages(store_->Messages()); }
  std::shared_ptr<const LinearFit> Fit() override {
    const auto fingerprint = static_cast<uint64_t>(store_->FitFingerprint());
    if (fingerprint == 0) return nullptr;
    if (auto known = fits_->Find(store_->id(), fingerprint)) return known;
    // Refitted between the two reads: the newer fit serves as well; dropped: none.
    const std::optional<std::string> data = store_->FitData();
    if (!data) return nullptr;
    // The fingerprint is not checked: a newer fit stored between the two reads serves as well.
    auto shared = std::make_shared<const LinearFit>(StoredFit(*data, std::nullopt, Damaged));
    fits_->Put(store_->id(), shared);
    return shared;
  }
  void PutFit(const LinearFit* fit) override {
    if (fit == nullptr) {
      store_->PutFit(0, {});
    } else {
      store_->PutFit(static_cast<int64_t>(fit->fingerprint), PackFit(*fit));
    }
  }
  int32_t ChangesSinceFit() override { return store_->FitChanges(); }
  void SetChangesSinceFit(int32_t changes) override { store_->SetFitChanges(changes); }

 private:
  postgres::ConnectionPool::Lease connection_;
  std::unique_ptr<PostgresModelStore> store_;  // uses *connection_: declared after it, so it goes first
  std::optional<SpamCounts> totals_;          // of the read or write under way
  std::optional<DigestBytes> found_earlier_;   // the write's message was found under this earlier key
  std::shared_ptr<FitCache> fits_;             // the backend's
};

}  // namespace

PostgresModelName PostgresModelNameOf(const std::string& path) {
  const ModelPathParts parts = SplitModelPath(path);
  if (parts.file == kDomainModelFileName) return {postgres::ModelKind::kDomain, parts.domain};
  return {postgres::ModelKind::kUser, parts.in_directory ? parts.domain + "\\" + parts.file : parts.file};
}

PostgresModelBackend::PostgresModelBackend(std::string conninfo, postgres::ConnectionPool* pool)
    : conninfo_(std::move(conninfo)), pool_(pool != nullptr ? pool : &postgres::ConnectionPool::Shared()) {}

ModelLease PostgresModelBackend::Open(const std::string& path, ModelOpen mode) {
  if (path.empty() && mode == ModelOpen::kExistingOnly) return {};
  const PostgresModelName name = PostgresModelNameOf(path);
  const bool create = mode == ModelOpen::kCreate;
  if (create && name.kind == postgres::ModelKind::kUser) {
    std::error_code ec;
    // The file store's own rules make it (or refuse): 76 for a missing directory, 70 when denied.
    if (path.empty() || !std::filesystem::exists(ToFileSystemPath(path), ec)) {
      ModelStore::Open(path, ModelStore::Mode::kCreate).reset();
    }
  }
  postgres::ConnectionPool::Lease connection = pool_->Acquire(conninfo_);
  std::unique_ptr<PostgresModelStore> store = PostgresModelStore::Open(*connection, name.kind, name.name, create);
  if (!store) return {};
  return ModelLease(std::make_unique<PostgresModel>(std::move(connection), std::move(store), fits_));
}

std::shared_ptr<const LinearFit> FitCache::Find(int32_t model, uint64_t fingerprint) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = fits_.find(model);
  if (found == fits_.end() || found->second->fingerprint != fingerprint) return nullptr;
  return found->second;
}

void FitCache::Put(int32_t model, std::shared_ptr<const LinearFit> fit) {
  const std::lock_guard<std::mutex> lock(mutex_);
  fits_[model] = std::move(fit);
}

}  // namespace varnolt::engine
