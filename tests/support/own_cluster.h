// A database server of one test's own, for tests in which the server goes away: a shared test
// server must never be stopped by a test. Each server kind (pg_cluster.h, mariadb_cluster.h)
// starts, stops and removes it with its scripts/*-test-server.sh.
#pragma once

#include <string>

namespace ovik::testing {

class OwnCluster {
 public:
  virtual ~OwnCluster() = default;

  virtual bool started() const = 0;
  // A connection string without a DSN, so the server needs no entry in odbc.ini.
  virtual std::string connection_string() const = 0;
  // Stops the server as an administrator would (open sessions are ended), keeping its data;
  // resume() starts it again on the same port, or on another when a server started meanwhile
  // took it (connection_string() follows). Each answers whether it worked.
  virtual bool halt() = 0;
  virtual bool resume() = 0;
};

}  // namespace ovik::testing
