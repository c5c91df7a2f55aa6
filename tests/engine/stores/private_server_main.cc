// Starts the private PostgreSQL server the cases share, or skips them all
// (exit 77) where none can start.
#include <gmock/gmock.h>

#include <iostream>

#include "engine/stores/store_fixture.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  std::string why;
  std::unique_ptr<varnolt::testing::PrivatePostgres> server =
      varnolt::testing::PrivatePostgres::Start(varnolt::testing::PrivatePostgres::Options{}, &why);
  if (!server) {
    std::cout << "skipped: no private PostgreSQL server: " << why << "\n";
    return 77;
  }
  varnolt::testing::StoreTest::server = server.get();
  return RUN_ALL_TESTS();
}
