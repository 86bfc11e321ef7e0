#include "support/mariadb_cluster.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ovik::testing {
namespace {

std::string script() { return std::string(OVIK_SOURCE_DIR) + "/scripts/mariadb-test-server.sh"; }

}  // namespace

bool MariaDbCluster::configured() { return std::getenv("OVIK_TEST_MARIADB_DSN") != nullptr; }

MariaDbCluster::MariaDbCluster() {
  if (!configured()) return;
  static int serial = 0;
  dir_ = (std::filesystem::temp_directory_path() /
          ("ovik-myc-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
             .string();
  if (!run("start")) return;
  read_port();
}

void MariaDbCluster::read_port() {
  std::ifstream env(dir_ + "/env.sh");
  const std::string key = "export OVIK_TEST_MARIADB_PORT=";
  for (std::string line; std::getline(env, line);)
    if (line.starts_with(key)) port_ = line.substr(key.size());
}

MariaDbCluster::~MariaDbCluster() {
  // Also after a start that failed half-way: its folder goes too.
  if (!dir_.empty()) run("stop");
}

std::string MariaDbCluster::connection_string() const {
  return "Provider=MSDASQL;Driver={MariaDB Unicode};Server=127.0.0.1;Port=" + port_ +
         ";Database=citestdb;User ID=citest;Password=citest";
}

bool MariaDbCluster::halt() { return run("halt"); }
bool MariaDbCluster::resume() {
  if (!run("resume")) return false;
  read_port();  // another server may have taken the port while this one was halted
  return true;
}

bool MariaDbCluster::run(const std::string& action) const {
  const std::string command = script() + " " + action + " " + dir_ + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace ovik::testing
