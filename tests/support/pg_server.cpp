#include "support/pg_server.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace ovik::testing {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string shell_quote(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

bool pg_ctl(const PgServer& server, const std::string& arguments) {
  if (server.dir.empty() || server.bin.empty()) return false;
  std::string command = shell_quote(server.bin + "/pg_ctl") + " -D " + shell_quote(server.dir + "/data") +
                        " -w -t 60 " + arguments + " >/dev/null 2>&1";
  // The cluster belongs to "postgres" when the script ran as root.
  if (geteuid() == 0) command = "runuser -u postgres -- " + command;
  return std::system(command.c_str()) == 0;
}

}  // namespace

std::optional<PgServer> PgServer::from_environment() {
  PgServer server;
  server.dsn = variable("OVIK_TEST_PG_DSN");
  if (server.dsn.empty()) return std::nullopt;
  server.user = variable("OVIK_TEST_PG_USER");
  server.password = variable("OVIK_TEST_PG_PASSWORD");
  server.port = std::atoi(variable("OVIK_TEST_PG_PORT").c_str());
  server.dir = variable("OVIK_TEST_PG_DIR");
  server.bin = variable("OVIK_TEST_PG_BIN");
  return server;
}

bool PgServer::required() { return variable("OVIK_REQUIRE_PG") == "1"; }

std::string PgServer::connection_string() const {
  return "Provider=MSDASQL;Data Source=" + dsn + ";User ID=" + user + ";Password=" + password;
}

bool PgServer::stop() const { return pg_ctl(*this, "-m fast stop"); }

bool PgServer::start() const {
  const std::string options =
      "-k " + dir + " -p " + std::to_string(port) + " -c listen_addresses=127.0.0.1 -c fsync=off";
  return pg_ctl(*this, "-l " + shell_quote(dir + "/server.log") + " -o " + shell_quote(options) + " start");
}

}  // namespace ovik::testing
