// The MariaDB test server that scripts/mariadb-test-server.sh starts, as the tests see it through
// the environment variables of its env.sh; the counterpart of pg_server.h. Tests that need it skip
// without it, unless OVIK_REQUIRE_MARIADB=1 makes its absence a failure (as in CI).
//
// Tests run side by side (ctest -j) against one server, so each test logs in as a login of its own
// that reaches only a database of its own, named like the login: tables a test creates under plain
// names never meet another test's. MariaDB has no default database for a login, so the database
// travels in the connection string (Initial Catalog). The login and its database are made at the
// test's first from_environment() and dropped, with whatever the test left in them, when the test
// ends. The server itself is shared: a test that needs a server going away starts one of its own.
#pragma once

#include <optional>
#include <string>

namespace ovik::testing {

struct MariaDbServer {
  std::string dsn;
  std::string user;      // the test's own login
  std::string password;  // and its password
  std::string database;  // the test's own database
  int port = 0;

  // Nullopt when OVIK_TEST_MARIADB_DSN is not set, or when the test's login cannot be made
  // (failure() says why).
  static std::optional<MariaDbServer> from_environment();
  // Why the last from_environment() gave nothing although a server is configured; "" otherwise.
  static const std::string& failure();
  // OVIK_REQUIRE_MARIADB=1: a missing server is a failure, not a skip.
  static bool required();
  static constexpr const char* kSkipReason = "no MariaDB test server: run scripts/mariadb-test-server.sh";

  // "Provider=MSDASQL;Data Source=<dsn>;User ID=...;Password=...;Initial Catalog=<database>".
  std::string connection_string() const;
};

}  // namespace ovik::testing

// In a test body or fixture SetUp: skip without a server (fail when it is required), and fail
// when the server is there but could not be prepared for the test.
#define OVIK_REQUIRE_MARIADB_SERVER(server)                                                     \
  do {                                                                                          \
    if (!(server)) {                                                                            \
      if (!::ovik::testing::MariaDbServer::failure().empty()) {                                 \
        FAIL() << ::ovik::testing::MariaDbServer::failure();                                    \
      }                                                                                         \
      if (::ovik::testing::MariaDbServer::required()) {                                         \
        FAIL() << "OVIK_REQUIRE_MARIADB=1 but " << ::ovik::testing::MariaDbServer::kSkipReason; \
      }                                                                                         \
      GTEST_SKIP() << ::ovik::testing::MariaDbServer::kSkipReason;                              \
    }                                                                                           \
  } while (false)
