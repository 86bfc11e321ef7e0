// A PostgreSQL cluster of one test's own, started with scripts/pg-test-server.sh, for tests in
// which the server goes away: the shared test server (pg_server.h) must never be stopped by a test.
// It lies beside, not inside, the test's folder, since the server runs as another user when the
// tests run as root. The cluster is stopped and removed when the object ends.
#pragma once

#include <string>

#include "support/own_cluster.h"
#include "support/pg_server.h"

namespace ovik::testing {

class PgCluster final : public OwnCluster {
 public:
  // Whether a shared test server is configured: its binaries and ODBC drivers are what a cluster
  // of one's own needs too.
  static bool configured();

  PgCluster();
  ~PgCluster() override;
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool started() const override { return !port_.empty(); }
  // "Provider=MSDASQL;Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=...;...": no DSN, so the
  // cluster needs no entry in odbc.ini.
  std::string connection_string() const override;
  // Stops the server as an administrator would (fast shutdown: open sessions are ended), keeping
  // its data; resume() starts it again on the same port, or on another when a cluster started
  // meanwhile took it (connection_string() follows). Each answers whether it worked.
  bool halt() override;
  bool resume() override;

 private:
  bool run(const std::string& action) const;
  void read_port();

  std::string dir_;
  std::string port_;
};

}  // namespace ovik::testing

// In a test body: skip without a configured test server (fail when OVIK_REQUIRE_PG=1), and fail
// when the cluster could not be started.
#define OVIK_REQUIRE_PG_CLUSTER(cluster)                                                           \
  do {                                                                                             \
    if (!::ovik::testing::PgCluster::configured()) {                                               \
      if (::ovik::testing::PgServer::required()) FAIL() << ::ovik::testing::PgServer::kSkipReason; \
      GTEST_SKIP() << ::ovik::testing::PgServer::kSkipReason;                                      \
    }                                                                                              \
    ASSERT_TRUE((cluster).started()) << "a PostgreSQL cluster of the test's own did not start";    \
  } while (false)
