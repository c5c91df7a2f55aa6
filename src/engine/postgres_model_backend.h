// Models in one PostgreSQL database (backends/postgres/postgres_model_store.h)
// that several mail servers share, over connections kept per process.
//
// Tokens are keyed as the files key them (token_buckets.h: the id's upper 32
// bits) and messages by the same digests, so a model moved between the
// stores scores every message as before. A model is named by where its file would be: a user's by its domain
// directory and file ("example.com\alice.dat"), a domain's by its directory
// ("example.com"), so that every server whose data folder is the shared one
// finds the same model. Creating a user's model also creates the user's file
// at its path when missing (an empty file model: the rest of the filter
// takes the file's existence as "user known"); nothing is read from it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "backends/postgres/connection_pool.h"
#include "backends/postgres/postgres_model_store.h"
#include "engine/spam_model.h"

namespace varnolt::engine {

// The kind and name of the model whose file is at path.
struct PostgresModelName {
  postgres::ModelKind kind;
  std::string name;
};
PostgresModelName PostgresModelNameOf(const std::string& path);

// The models' fits last read, by model id, so that a verdict reads a fit's
// bytes only when it changed. Thread-safe.
class FitCache {
 public:
  std::shared_ptr<const LinearFit> Find(int32_t model, uint64_t fingerprint);
  void Put(int32_t model, std::shared_ptr<const LinearFit> fit);

 private:
  std::mutex mutex_;
  std::map<int32_t, std::shared_ptr<const LinearFit>> fits_;
};

class PostgresModelBackend : public ModelBackend {
 public:
  // conninfo: a libpq connection string. pool: the process's when null.
  explicit PostgresModelBackend(std::string conninfo, postgres::ConnectionPool* pool = nullptr);
  ModelLease Open(const std::string& path, ModelOpen mode) override;

 private:
  std::string conninfo_;
  postgres::ConnectionPool* pool_;
  std::shared_ptr<FitCache> fits_ = std::make_shared<FitCache>();
};

}  // namespace varnolt::engine
