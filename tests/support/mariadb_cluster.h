// A MariaDB server of one test's own, started with scripts/mariadb-test-server.sh, for tests in
// which the server goes away; the counterpart of pg_cluster.h. It is stopped and removed when the
// object ends.
#pragma once

#include <string>

#include "support/mariadb_server.h"
#include "support/own_cluster.h"

namespace ovik::testing {

class MariaDbCluster final : public OwnCluster {
 public:
  // Whether a shared test server is configured: its binaries and ODBC driver are what a server of
  // one's own needs too.
  static bool configured();

  MariaDbCluster();
  ~MariaDbCluster() override;
  MariaDbCluster(const MariaDbCluster&) = delete;
  MariaDbCluster& operator=(const MariaDbCluster&) = delete;

  bool started() const override { return !port_.empty(); }
  // "Provider=MSDASQL;Driver={MariaDB Unicode};Server=127.0.0.1;Port=...;...".
  std::string connection_string() const override;
  bool halt() override;
  bool resume() override;

 private:
  bool run(const std::string& action) const;
  void read_port();

  std::string dir_;
  std::string port_;
};

}  // namespace ovik::testing

// In a test body: skip without a configured test server (fail when OVIK_REQUIRE_MARIADB=1), and
// fail when the server could not be started.
#define OVIK_REQUIRE_MARIADB_CLUSTER(cluster)                                                                \
  do {                                                                                                       \
    if (!::ovik::testing::MariaDbCluster::configured()) {                                                    \
      if (::ovik::testing::MariaDbServer::required()) FAIL() << ::ovik::testing::MariaDbServer::kSkipReason; \
      GTEST_SKIP() << ::ovik::testing::MariaDbServer::kSkipReason;                                           \
    }                                                                                                        \
    ASSERT_TRUE((cluster).started()) << "a MariaDB server of the test's own did not start";                  \
  } while (false)
