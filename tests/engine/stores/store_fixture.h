// Runs each case on each model store: the SQLite files in a temporary data
// folder, and a fresh database on the private PostgreSQL server.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "backends/postgres/connection.h"
#include "backends/postgres/model_schema.h"
#include "engine/builtin_spam_engine.h"
#include "engine/file_model_backend.h"
#include "engine/postgres_model_backend.h"
#include "engine/test_messages.h"
#include "support/private_postgres.h"

namespace varnolt::testing {

enum class Store { kFile, kPostgres };

inline std::string StoreName(const ::testing::TestParamInfo<Store>& info) {
  return info.param == Store::kFile ? "File" : "Postgres";
}

class StoreTest : public ::testing::TestWithParam<Store> {
 public:
  static inline PrivatePostgres* server = nullptr;

 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_.path() / "example.com");
    models_ = Backend(GetParam());
  }

  // A backend of that kind; each PostgreSQL one on a database of its own, with the schema.
  std::shared_ptr<engine::ModelBackend> Backend(Store store) {
    if (store == Store::kFile) return std::make_shared<engine::FileModelBackend>(std::make_shared<engine::ModelCache>());
    static int next = 0;
    const std::string database = "stores_" + std::to_string(++next);
    postgres::Connection::Open(server->ConnectionString())->Exec("CREATE DATABASE " + database);
    conninfo_ = server->ConnectionString(database);
    postgres::MigrateModelSchema(*postgres::Connection::Open(conninfo_));
    return std::make_shared<engine::PostgresModelBackend>(conninfo_);
  }

  EngineOptions Options(const std::shared_ptr<engine::ModelBackend>& models) const {
    EngineOptions options;
    options.auto_learn.enabled = false;  // the counts are what the case teaches
    options.domain_learning = false;
    options.corrections_stick = false;  // scores are the models' alone
    options.models = models;
    return options;
  }

  // The learned messages of the model at path, with their key records.
  engine::LearnedMessages Messages(const std::string& path) {
    engine::ModelLease model = models_->Open(path, engine::ModelOpen::kExistingOnly);
    model->BeginRead();
    engine::LearnedMessages messages = model->Messages();
    model->Commit();
    model.Keep();
    return messages;
  }

  // The user's file as the filter composes it ("\" separators).
  std::string DatPath(const std::string& user = "alice") const {
    return folder_.path().string() + "\\example.com\\" + user + ".dat";
  }
  std::filesystem::path FilePath(const std::string& user = "alice") const {
    return folder_.path() / "example.com" / (user + ".dat");
  }

  TempFolder folder_;
  MailMaker mail_;
  std::shared_ptr<engine::ModelBackend> models_;
  std::string conninfo_;  // of the last PostgreSQL backend made
};

}  // namespace varnolt::testing
