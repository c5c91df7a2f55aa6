// A fresh database on the shared private server for each test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "backends/postgres/connection.h"
#include "platform/com/com_error.h"
#include "support/private_postgres.h"

namespace varnolt::testing {

class PgTest : public ::testing::Test {
 public:
  static inline PrivatePostgres* server = nullptr;

 protected:
  void SetUp() override {
    static int next = 0;
    database_ = "test_" + std::to_string(++next);
    auto admin = postgres::Connection::Open(server->ConnectionString());
    admin->Exec("CREATE DATABASE " + database_);
    db_ = Connect();
  }

  std::string conninfo() const { return server->ConnectionString(database_); }
  std::unique_ptr<postgres::Connection> Connect() const { return postgres::Connection::Open(conninfo()); }

  // The number of the ComError the action throws, 0 when it throws none; its description in *text.
  static int32_t ErrorOf(const std::function<void()>& action, std::string* text = nullptr) {
    try {
      action();
    } catch (const ComError& e) {
      if (text != nullptr) *text = e.description();
      return e.number();
    }
    return 0;
  }

  std::string database_;
  std::unique_ptr<postgres::Connection> db_;
};

}  // namespace varnolt::testing
