#include "backends/postgres/model_schema.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "backends/postgres/pg_errors.h"
#include "backends/postgres/pg_fixture.h"

namespace varnolt::postgres {
namespace {

using testing::PgTest;

class ModelSchemaTest : public PgTest {
 protected:
  bool HasColumn(const std::string& table, const std::string& column) {
    return db_
               ->Query("SELECT count(*) FROM information_schema.columns WHERE table_name = $1 AND column_name = $2",
                       {Param(table), Param(column)})
               .Int(0, 0) == 1;
  }
};

TEST_F(ModelSchemaTest, CreatesOnceAndRefusesADatabaseItDoesNotKnow) {
  EXPECT_EQ(kPgSchemaMissing, ErrorOf([&] { CheckModelSchema(*db_); }));
  EXPECT_EQ(0, MigrateModelSchema(*db_));
  EXPECT_EQ(kModelSchemaVersion, SchemaVersion(*db_));
  EXPECT_EQ(kModelSchemaVersion, MigrateModelSchema(*db_));  // nothing to do
  EXPECT_EQ(0, ErrorOf([&] { CheckModelSchema(*Connect()); }));

  // A newer program's database is left alone, by the migration and by the check.
  db_->Exec("UPDATE varnolt_schema SET version = 99");
  std::string text;
  EXPECT_EQ(kPgSchemaNewer, ErrorOf([&] { MigrateModelSchema(*db_); }, &text));
  EXPECT_THAT(text, ::testing::HasSubstr("version 99"));
  EXPECT_EQ(kPgSchemaNewer, ErrorOf([&] { CheckModelSchema(*Connect()); }));
  EXPECT_EQ(99, SchemaVersion(*db_));
}

TEST_F(ModelSchemaTest, UpgradesStepByStepAndAFailedStepKeepsTheVersionBefore) {
  const SchemaStep one{1, "CREATE TABLE things (a integer)"};
  const SchemaStep two{2, "ALTER TABLE things ADD COLUMN b integer"};
  const SchemaStep broken{3, "ALTER TABLE things ADD COLUMN c integer; ALTER TABLE nowhere ADD COLUMN d integer"};
  EXPECT_EQ(0, MigrateSchema(*db_, {one}));
  EXPECT_EQ(1, MigrateSchema(*db_, {one, two}));
  EXPECT_TRUE(HasColumn("things", "b"));
  EXPECT_EQ(kPgQueryFailed, ErrorOf([&] { MigrateSchema(*db_, {one, two, broken}); }));
  EXPECT_EQ(2, SchemaVersion(*db_));
  EXPECT_FALSE(HasColumn("things", "c"));
}

TEST_F(ModelSchemaTest, ServersMigratingAtOnceTakeTurns) {
  std::vector<std::thread> servers;
  std::vector<int32_t> errors(4, -1);
  for (size_t i = 0; i < errors.size(); ++i) {
    servers.emplace_back([&, i] {
      auto db = Connect();
      errors[i] = ErrorOf([&] { MigrateModelSchema(*db); });
    });
  }
  for (auto& s : servers) s.join();
  EXPECT_THAT(errors, ::testing::Each(0));
  EXPECT_EQ(kModelSchemaVersion, SchemaVersion(*db_));
}

}  // namespace
}  // namespace varnolt::postgres
