#include <gmock/gmock.h>

#include <iostream>

#include "support/private_postgres.h"

namespace varnolt::testing {

int RunTestsWithPrivatePostgres(int argc, char** argv, PrivatePostgres** shared) {
  ::testing::InitGoogleMock(&argc, argv);
  std::string why;
  std::unique_ptr<PrivatePostgres> server = PrivatePostgres::Start(PrivatePostgres::Options{}, &why);
  if (!server) {
    std::cout << "skipped: no private PostgreSQL server: " << why << "\n";
    return 77;
  }
  *shared = server.get();
  return RUN_ALL_TESTS();
}

}  // namespace varnolt::testing
