#include "backends/postgres/postgres_model_store.h"

#include <algorithm>

#include "backends/postgres/model_schema.h"
#include "backends/postgres/pg_errors.h"

namespace varnolt::postgres {
namespace {

// The distinct ids of a sorted list, as the bigints the table holds.
std::vector<int64_t> DistinctIds(const std::vector<uint64_t>& ids) {
  std::vector<int64_t> out;
  out.reserve(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i == 0 || ids[i] != ids[i - 1]) out.push_back(static_cast<int64_t>(ids[i]));
  }
  return out;
}

// The model's row, which a statement should have found, is not there: removed under us.
[[noreturn]] void ModelGone(int32_t id) {
  throw PgError(kPgQueryFailed, "model " + std::to_string(id) + " is gone (removed by another server?)");
}

// A count the server holds as integer >= 0, read back as the unsigned tally.
uint32_t Tally(const Result& rows, int row, int column) { return static_cast<uint32_t>(rows.Int(row, column)); }

}  // namespace

std::unique_ptr<PostgresModelStore> PostgresModelStore::Open(Connection& db, ModelKind kind, const std::string& name,
                                                             bool create) {
  CheckModelSchema(db);
  const Param kind_param(static_cast<int16_t>(kind));
  Result found = db.Query("SELECT id FROM varnolt_models WHERE kind = $1 AND name = $2", {kind_param, Param(name)});
  if (found.rows() == 0 && create) {
    // Another server may create it at the same moment: both end up with the one row.
    db.Query("INSERT INTO varnolt_models(kind, name) VALUES ($1, $2) ON CONFLICT (kind, name) DO NOTHING",
             {kind_param, Param(name)});
    found = db.Query("SELECT id FROM varnolt_models WHERE kind = $1 AND name = $2", {kind_param, Param(name)});
  }
  if (found.rows() == 0) return nullptr;
  return std::unique_ptr<PostgresModelStore>(new PostgresModelStore(db, static_cast<int32_t>(found.Int(0, 0))));
}

std::vector<ModelName> PostgresModelStore::List(Connection& db) {
  CheckModelSchema(db);
  const Result rows = db.Query("SELECT kind, name FROM varnolt_models ORDER BY kind, name");
  std::vector<ModelName> names;
  for (int r = 0; r < rows.rows(); ++r) {
    names.push_back({static_cast<ModelKind>(rows.Int(r, 0)), rows.Text(r, 1)});
  }
  return names;
}

PostgresModelStore::~PostgresModelStore() {
  // A write's transaction rolls back by itself; a read left open ends here.
  if (!reading_ || db_.Broken()) return;
  try {
    db_.Exec("ROLLBACK");
  } catch (const ComError&) {
    // The connection is unusable now; Broken() tells its owner.
  }
}

template <typename Body>
auto PostgresModelStore::Writing(Body body) {
  try {
    return body();
  } catch (...) {
    transaction_.reset();
    throw;
  }
}

void PostgresModelStore::RequireWrite(const char* what) const {
  if (!transaction_) throw PgError(kPgQueryFailed, std::string("model store: ") + what + " outside a write");
}

SpamCounts PostgresModelStore::Counts() {
  Result row = db_.Query("SELECT ham, spam FROM varnolt_models WHERE id = $1", {Param(id_)});
  if (row.rows() != 1) ModelGone(id_);
  return {static_cast<int32_t>(row.Int(0, 0)), static_cast<int32_t>(row.Int(0, 1))};
}

SpamCounts PostgresModelStore::Lookup(const std::vector<uint64_t>& ids, std::vector<TokenCounts>* tallies) {
  // The model's row (token NULL) and the tokens' rows from one statement: one
  // snapshot for both, and one round trip.
  Result rows = db_.Query(
      "SELECT NULL::bigint, ham, spam FROM varnolt_models WHERE id = $1 "
      "UNION ALL SELECT token, ham, spam FROM varnolt_tokens WHERE model = $1 AND token = ANY($2)",
      {Param(id_), Param::BigintArray(DistinctIds(ids))});
  tallies->assign(ids.size(), TokenCounts{});
  SpamCounts totals;
  bool model_found = false;
  for (int r = 0; r < rows.rows(); ++r) {
    if (rows.IsNull(r, 0)) {
      totals = {static_cast<int32_t>(rows.Int(r, 1)), static_cast<int32_t>(rows.Int(r, 2))};
      model_found = true;
      continue;
    }
    const auto id = static_cast<uint64_t>(rows.Int(r, 0));
    const auto [first, last] = std::equal_range(ids.begin(), ids.end(), id);
    for (auto it = first; it != last; ++it) {
      (*tallies)[static_cast<size_t>(it - ids.begin())] = {Tally(rows, r, 1), Tally(rows, r, 2)};
    }
  }
  if (!model_found) ModelGone(id_);
  return totals;
}

SpamCounts PostgresModelStore::BeginWrite(CommitWait wait) {
  if (transaction_) throw PgError(kPgQueryFailed, "model store: a write is already open");
  transaction_ = std::make_unique<Transaction>(db_);
  return Writing([&] {
    if (wait == CommitWait::kUnflushed) db_.Exec("SET LOCAL synchronous_commit = off");
    // The row lock makes writers of this model take turns until Commit.
    Result row = db_.Query("SELECT ham, spam FROM varnolt_models WHERE id = $1 FOR UPDATE", {Param(id_)});
    if (row.rows() != 1) ModelGone(id_);
    return SpamCounts{static_cast<int32_t>(row.Int(0, 0)), static_cast<int32_t>(row.Int(0, 1))};
  });
}

std::optional<LearnedMessage> PostgresModelStore::FindMessage(std::string_view digest) {
  RequireWrite("FindMessage");
  return Writing([&]() -> std::optional<LearnedMessage> {
    Result row = db_.Query("SELECT spam, automatic FROM varnolt_messages WHERE model = $1 AND digest = $2",
                           {Param(id_), Param::Bytes(digest)});
    if (row.rows() == 0) return std::nullopt;
    return LearnedMessage{row.Bool(0, 0), row.Bool(0, 1), {}};
  });
}

void PostgresModelStore::PutMessage(std::string_view digest, const LearnedMessage& learned, int64_t keep_records) {
  RequireWrite("PutMessage");
  Writing([&] {
    if (learned.keys.empty()) {
      db_.Query(
          "INSERT INTO varnolt_messages(model, digest, spam, automatic, keys, seq) VALUES ($1, $2, $3, $4, $5, NULL) "
          "ON CONFLICT (model, digest) DO UPDATE "
          "SET spam = EXCLUDED.spam, automatic = EXCLUDED.automatic, keys = EXCLUDED.keys, seq = NULL",
          {Param(id_), Param::Bytes(digest), Param(learned.is_spam), Param(learned.automatic),
           Param::Bytes(learned.keys)});
      return;
    }
    // The model's row is locked by this write: its numbers are given out in turn.
    const Result numbered =
        db_.Query("UPDATE varnolt_models SET record_seq = record_seq + 1 WHERE id = $1 RETURNING record_seq",
                  {Param(id_)});
    if (numbered.rows() != 1) ModelGone(id_);
    const int64_t seq = numbered.Int(0, 0);
    db_.Query(
        "INSERT INTO varnolt_messages(model, digest, spam, automatic, keys, seq) VALUES ($1, $2, $3, $4, $5, $6) "
        "ON CONFLICT (model, digest) DO UPDATE "
        "SET spam = EXCLUDED.spam, automatic = EXCLUDED.automatic, keys = EXCLUDED.keys, seq = EXCLUDED.seq",
        {Param(id_), Param::Bytes(digest), Param(learned.is_spam), Param(learned.automatic),
         Param::Bytes(learned.keys), Param(seq)});
    if (keep_records > 0 && seq > keep_records) {
      // Rows written before records aged have no number: they are the oldest.
      db_.Query(
          "UPDATE varnolt_messages SET keys = NULL, seq = NULL "
          "WHERE model = $1 AND keys IS NOT NULL AND (seq IS NULL OR seq <= $2)",
          {Param(id_), Param(seq - keep_records)});
    }
  });
}

void PostgresModelStore::Update(const std::vector<uint64_t>& ids, const TokenDelta& delta) {
  RequireWrite("Update");
  if ((delta.ham == 0 && delta.spam == 0) || ids.empty()) return;
  // A message's delta is -1, 0 or +1: the columns' integers.
  const std::vector<Param> params = {Param(id_), Param::BigintArray(DistinctIds(ids)),
                                     Param(static_cast<int32_t>(delta.ham)), Param(static_cast<int32_t>(delta.spam))};
  Writing([&] {
    if (delta.ham >= 0 && delta.spam >= 0) {
      // Learning: new tokens get rows, known ones count up.
      db_.Query(
          "INSERT INTO varnolt_tokens AS t(model, token, ham, spam) "
          "SELECT $1, token, $3, $4 FROM unnest($2::bigint[]) AS token "
          "ON CONFLICT (model, token) DO UPDATE SET ham = t.ham + EXCLUDED.ham, spam = t.spam + EXCLUDED.spam",
          params);
    } else if (delta.ham <= 0 && delta.spam <= 0) {
      // Unlearning: rows that reach zero go, the others count down (never below 0).
      // Both parts see the same rows, and touch different ones.
      db_.Query(
          "WITH gone AS (DELETE FROM varnolt_tokens WHERE model = $1 AND token = ANY($2) "
          "AND ham + $3 <= 0 AND spam + $4 <= 0) "
          "UPDATE varnolt_tokens SET ham = GREATEST(ham + $3, 0), spam = GREATEST(spam + $4, 0) "
          "WHERE model = $1 AND token = ANY($2) AND NOT (ham + $3 <= 0 AND spam + $4 <= 0)",
          params);
    } else {
      // One class up, the other down: rows for new tokens, then away with those at zero.
      db_.Query(
          "INSERT INTO varnolt_tokens AS t(model, token, ham, spam) "
          "SELECT $1, token, GREATEST($3, 0), GREATEST($4, 0) FROM unnest($2::bigint[]) AS token "
          "ON CONFLICT (model, token) DO UPDATE "
          "SET ham = GREATEST(t.ham + $3, 0), spam = GREATEST(t.spam + $4, 0)",
          params);
      db_.Query("DELETE FROM varnolt_tokens WHERE model = $1 AND token = ANY($2) AND ham = 0 AND spam = 0",
                {params[0], params[1]});
    }
  });
}

void PostgresModelStore::SetCounts(const SpamCounts& totals) {
  RequireWrite("SetCounts");
  Writing([&] {
    const Result updated = db_.Query("UPDATE varnolt_models SET ham = $2, spam = $3 WHERE id = $1",
                                     {Param(id_), Param(totals.ham), Param(totals.spam)});
    if (updated.affected_rows() != 1) ModelGone(id_);
  });
}

void PostgresModelStore::ForgetMessage(std::string_view digest) {
  RequireWrite("ForgetMessage");
  Writing([&] {
    db_.Query("DELETE FROM varnolt_messages WHERE model = $1 AND digest = $2", {Param(id_), Param::Bytes(digest)});
  });
}

void PostgresModelStore::PutCorrection(std::string_view digest, std::string_view keys, int64_t keep) {
  RequireWrite("PutCorrection");
  Writing([&] {
    db_.Query(
        "INSERT INTO varnolt_corrections(model, digest, keys) VALUES ($1, $2, $3) "
        "ON CONFLICT (model, digest) DO UPDATE SET keys = EXCLUDED.keys",
        {Param(id_), Param::Bytes(digest), Param::Bytes(keys)});
    if (keep <= 0) return;
    const Result count = db_.Query("SELECT count(*) FROM varnolt_corrections WHERE model = $1", {Param(id_)});
    if (count.Int(0, 0) <= keep) return;
    // Newest by when the message was last learned, its record's number (none:
    // the oldest); corrections of messages no longer learned go first.
    db_.Query(
        "DELETE FROM varnolt_corrections WHERE model = $1 AND digest NOT IN (SELECT c.digest "
        "FROM varnolt_corrections c JOIN varnolt_messages m ON m.model = c.model AND m.digest = c.digest "
        "WHERE c.model = $1 ORDER BY m.seq DESC NULLS LAST, c.digest LIMIT $2)",
        {Param(id_), Param(keep)});
  });
}

std::vector<PostgresModelStore::CorrectedRow> PostgresModelStore::Corrections() {
  const Result rows = db_.Query(
      "SELECT c.digest, m.spam, c.keys FROM varnolt_corrections c "
      "JOIN varnolt_messages m ON m.model = c.model AND m.digest = c.digest WHERE c.model = $1 ORDER BY c.digest",
      {Param(id_)});
  std::vector<CorrectedRow> corrections;
  corrections.reserve(static_cast<size_t>(rows.rows()));
  for (int r = 0; r < rows.rows(); ++r) corrections.push_back({rows.Bytes(r, 0), rows.Bool(r, 1), rows.Bytes(r, 2)});
  return corrections;
}

void PostgresModelStore::BeginRead() {
  if (transaction_ || reading_) throw PgError(kPgQueryFailed, "model store: a read inside a transaction");
  // One statement: a snapshot read costs one round trip more than single statements, at its end.
  db_.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY");
  reading_ = true;
}

void PostgresModelStore::EndRead() {
  if (!reading_) return;
  reading_ = false;
  db_.Exec("COMMIT");
}

void PostgresModelStore::Commit() {
  RequireWrite("Commit");
  std::unique_ptr<Transaction> transaction = std::move(transaction_);
  transaction->Commit();
}

void PostgresModelStore::Rollback() { transaction_.reset(); }

void PostgresModelStore::Reset() {
  if (transaction_) throw PgError(kPgQueryFailed, "model store: Reset inside a write");
  BeginWrite();
  Writing([&] {
    db_.Query("DELETE FROM varnolt_tokens WHERE model = $1", {Param(id_)});
    db_.Query("DELETE FROM varnolt_messages WHERE model = $1", {Param(id_)});
    db_.Query("DELETE FROM varnolt_fits WHERE model = $1", {Param(id_)});
    db_.Query("DELETE FROM varnolt_corrections WHERE model = $1", {Param(id_)});
    db_.Query("DELETE FROM varnolt_pending WHERE model = $1", {Param(id_)});
    db_.Query("UPDATE varnolt_models SET ham = 0, spam = 0, fit_changes = 0 WHERE id = $1", {Param(id_)});
  });
  Commit();
}

}  // namespace varnolt::postgres

namespace varnolt::postgres {

ModelRows PostgresModelStore::ReadAll() {
  RequireWrite("reading everything");
  return Writing([&] {
    ModelRows all;
    all.totals = Counts();
    const Result tokens =
        db_.Query("SELECT token, ham, spam FROM varnolt_tokens WHERE model = $1 ORDER BY token", {Param(id_)});
    for (int r = 0; r < tokens.rows(); ++r) {
      all.tokens.emplace_back(static_cast<uint64_t>(tokens.Int(r, 0)), TokenCounts{Tally(tokens, r, 1), Tally(tokens, r, 2)});
    }
    all.messages = Messages();
    all.pending = Pending(true);
    return all;
  });
}

int64_t PostgresModelStore::FitFingerprint() {
  const Result row = db_.Query("SELECT fingerprint FROM varnolt_fits WHERE model = $1", {Param(id_)});
  return row.rows() == 0 ? 0 : row.Int(0, 0);
}

std::optional<std::string> PostgresModelStore::FitData() {
  const Result row = db_.Query("SELECT data FROM varnolt_fits WHERE model = $1", {Param(id_)});
  if (row.rows() == 0) return std::nullopt;
  return row.Bytes(0, 0);
}

void PostgresModelStore::PutFit(int64_t fingerprint, std::string_view data) {
  RequireWrite("PutFit");
  Writing([&] {
    if (fingerprint == 0) {
      db_.Query("DELETE FROM varnolt_fits WHERE model = $1", {Param(id_)});
    } else {
      db_.Query(
          "INSERT INTO varnolt_fits(model, fingerprint, data) VALUES ($1, $2, $3) "
          "ON CONFLICT (model) DO UPDATE SET fingerprint = EXCLUDED.fingerprint, data = EXCLUDED.data",
          {Param(id_), Param(fingerprint), Param::Bytes(data)});
    }
    db_.Query("UPDATE varnolt_models SET fit_changes = 0 WHERE id = $1", {Param(id_)});
  });
}

int32_t PostgresModelStore::FitChanges() {
  const Result row = db_.Query("SELECT fit_changes FROM varnolt_models WHERE id = $1", {Param(id_)});
  if (row.rows() != 1) ModelGone(id_);
  return static_cast<int32_t>(row.Int(0, 0));
}

void PostgresModelStore::SetFitChanges(int32_t changes) {
  RequireWrite("SetFitChanges");
  Writing([&] { db_.Query("UPDATE varnolt_models SET fit_changes = $2 WHERE id = $1", {Param(id_), Param(changes)}); });
}

LearnedRows PostgresModelStore::Messages() {
  // Rows of the schema before key records hold none.
  const Result messages = db_.Query(
      "SELECT digest, spam, automatic, coalesce(keys, ''::bytea) FROM varnolt_messages WHERE model = $1 "
      "ORDER BY digest",
      {Param(id_)});
  LearnedRows rows;
  rows.reserve(static_cast<size_t>(messages.rows()));
  for (int r = 0; r < messages.rows(); ++r) {
    rows.emplace_back(messages.Bytes(r, 0), LearnedMessage{messages.Bool(r, 1), messages.Bool(r, 2), messages.Bytes(r, 3)});
  }
  return rows;
}

std::vector<PendingRow> PostgresModelStore::Pending(bool with_tokens) {
  const Result rows = db_.Query(with_tokens ? "SELECT username, digest, spam, keys, tokens FROM varnolt_pending "
                                              "WHERE model = $1 ORDER BY seq"
                                            : "SELECT username, digest, spam, keys, ''::bytea FROM varnolt_pending "
                                              "WHERE model = $1 ORDER BY seq",
                                {Param(id_)});
  std::vector<PendingRow> pending;
  pending.reserve(static_cast<size_t>(rows.rows()));
  for (int r = 0; r < rows.rows(); ++r) {
    pending.push_back({rows.Text(r, 0), rows.Bytes(r, 1), rows.Bool(r, 2), rows.Bytes(r, 3), rows.Bytes(r, 4)});
  }
  return pending;
}

void PostgresModelStore::PutPending(const PendingRow& row, int64_t keep) {
  RequireWrite("PutPending");
  Writing([&] {
    // Deleted and inserted rather than updated: the lesson takes a new seq, the newest.
    DropPending(row.user, row.digest);
    db_.Query(
        "INSERT INTO varnolt_pending(model, username, digest, spam, keys, tokens) VALUES ($1, $2, $3, $4, $5, $6)",
        {Param(id_), Param(row.user), Param::Bytes(row.digest), Param(row.is_spam), Param::Bytes(row.keys),
         Param::Bytes(row.tokens)});
    db_.Query(
        "DELETE FROM varnolt_pending WHERE model = $1 AND seq <= "
        "(SELECT seq FROM varnolt_pending WHERE model = $1 ORDER BY seq DESC OFFSET $2 LIMIT 1)",
        {Param(id_), Param(keep)});
  });
}

void PostgresModelStore::DropPending(std::string_view user, std::string_view digest) {
  RequireWrite("DropPending");
  Writing([&] {
    db_.Query("DELETE FROM varnolt_pending WHERE model = $1 AND username = $2 AND digest = $3",
              {Param(id_), Param(user), Param::Bytes(digest)});
  });
}

}  // namespace varnolt::postgres
