// The PostgreSQL test server that scripts/pg-test-server.sh starts, as the tests see it through
// the environment variables of its env.sh. Tests that need it skip without it, unless
// OVIK_REQUIRE_PG=1 makes its absence a failure (as in CI).
#pragma once

#include <optional>
#include <string>

namespace ovik::testing {

struct PgServer {
  std::string dsn;
  std::string user;
  std::string password;
  int port = 0;
  std::string dir;  // the cluster's folder (OVIK_TEST_PG_DIR); empty when not given
  std::string bin;  // the server programs (OVIK_TEST_PG_BIN)

  // Nullopt when OVIK_TEST_PG_DSN is not set.
  static std::optional<PgServer> from_environment();
  // OVIK_REQUIRE_PG=1: a missing server is a failure, not a skip.
  static bool required();
  static constexpr const char* kSkipReason = "no PostgreSQL test server: run scripts/pg-test-server.sh";

  // "Provider=MSDASQL;Data Source=<dsn>;User ID=...;Password=...".
  std::string connection_string() const;

  // Stop and start the cluster with pg_ctl (as the cluster's owner), to simulate a server that
  // goes away and comes back. Not for tests that may run beside other tests of the same server.
  bool stop() const;
  bool start() const;
};

}  // namespace ovik::testing

// In a test body or fixture SetUp: skip (or fail, when required) without a server.
#define OVIK_REQUIRE_PG_SERVER(server)                                                \
  do {                                                                                \
    if (!(server)) {                                                                  \
      if (::ovik::testing::PgServer::required()) {                                    \
        FAIL() << "OVIK_REQUIRE_PG=1 but " << ::ovik::testing::PgServer::kSkipReason; \
      }                                                                               \
      GTEST_SKIP() << ::ovik::testing::PgServer::kSkipReason;                         \
    }                                                                                 \
  } while (false)
