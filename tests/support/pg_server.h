// The PostgreSQL test server that scripts/pg-test-server.sh starts, as the tests see it through
// the environment variables of its env.sh. Tests that need it skip without it, unless
// OVIK_REQUIRE_PG=1 makes its absence a failure (as in CI).
//
// Tests run side by side (ctest -j) against one database, so each test logs in as a role of its
// own whose search path is a schema of its own: tables a test creates under plain names never meet
// another test's, and every connection opened with the test's user and password lands in that
// schema, also those the library builds itself (the environment object from its settings, the
// log). The role and its schema are made at the test's first from_environment() and dropped,
// with whatever the test left in them, when the test ends. The server itself is shared: a test
// that needs a server going away terminates its own session or starts a cluster of its own.
#pragma once

#include <optional>
#include <string>

namespace ovik::testing {

struct PgServer {
  std::string dsn;
  std::string user;      // the test's own role
  std::string password;  // and its password
  int port = 0;

  // Nullopt when OVIK_TEST_PG_DSN is not set, or when the test's role cannot be made (failure()
  // says why; a server started by an older pg-test-server.sh may not create roles).
  static std::optional<PgServer> from_environment();
  // Why the last from_environment() gave nothing although a server is configured; "" otherwise.
  static const std::string& failure();
  // OVIK_REQUIRE_PG=1: a missing server is a failure, not a skip.
  static bool required();
  static constexpr const char* kSkipReason = "no PostgreSQL test server: run scripts/pg-test-server.sh";

  // "Provider=MSDASQL;Data Source=<dsn>;User ID=...;Password=...".
  std::string connection_string() const;
};

}  // namespace ovik::testing

// In a test body or fixture SetUp: skip without a server (fail when it is required), and fail
// when the server is there but could not be prepared for the test.
#define OVIK_REQUIRE_PG_SERVER(server)                                                \
  do {                                                                                \
    if (!(server)) {                                                                  \
      if (!::ovik::testing::PgServer::failure().empty()) {                            \
        FAIL() << ::ovik::testing::PgServer::failure();                               \
      }                                                                               \
      if (::ovik::testing::PgServer::required()) {                                    \
        FAIL() << "OVIK_REQUIRE_PG=1 but " << ::ovik::testing::PgServer::kSkipReason; \
      }                                                                               \
      GTEST_SKIP() << ::ovik::testing::PgServer::kSkipReason;                         \
    }                                                                                 \
  } while (false)
