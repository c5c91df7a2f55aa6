// Starts the private PostgreSQL server the cases share, or skips them all
// (exit 77) where none can start.
#include "backends/postgres/pg_fixture.h"

int main(int argc, char** argv) {
  return varnolt::testing::RunTestsWithPrivatePostgres(argc, argv, &varnolt::testing::PgTest::server);
}
