#include "support/pg_cluster.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ovik::testing {
namespace {

std::string script() { return std::string(OVIK_SOURCE_DIR) + "/scripts/pg-test-server.sh"; }

}  // namespace

bool PgCluster::configured() { return std::getenv("OVIK_TEST_PG_DSN") != nullptr; }

PgCluster::PgCluster() {
  if (!configured()) return;
  static int serial = 0;
  dir_ = (std::filesystem::temp_directory_path() /
          ("ovik-pgc-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
             .string();
  if (!run("start")) return;
  read_port();
}

void PgCluster::read_port() {
  std::ifstream env(dir_ + "/env.sh");
  for (std::string line; std::getline(env, line);)
    if (line.starts_with("export OVIK_TEST_PG_PORT=")) port_ = line.substr(25);
}

PgCluster::~PgCluster() {
  // Also after a start that failed half-way: its folder goes too.
  if (!dir_.empty()) run("stop");
}

std::string PgCluster::connection_string() const {
  return "Provider=MSDASQL;Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port_ +
         ";Database=citestdb;User ID=citest;Password=citest";
}

bool PgCluster::halt() { return run("halt"); }
bool PgCluster::resume() {
  if (!run("resume")) return false;
  read_port();  // another cluster may have taken the port while this one was halted
  return true;
}

bool PgCluster::run(const std::string& action) const {
  const std::string command = script() + " " + action + " " + dir_ + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace ovik::testing
