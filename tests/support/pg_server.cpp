#include "support/pg_server.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "support/odbc_admin.h"

namespace ovik::testing {
namespace {

std::string& last_failure() {
  static std::string text;
  return text;
}

std::string quoted_identifier(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out + "\"";
}

// A session as the server's own test login (OVIK_TEST_PG_USER), which may create roles.
class PgAdmin : public AdminSession {
 public:
  PgAdmin()
      : AdminSession("DSN=" + odbc_value(test_variable("OVIK_TEST_PG_DSN")) +
                     ";UID=" + odbc_value(test_variable("OVIK_TEST_PG_USER")) +
                     ";PWD=" + odbc_value(test_variable("OVIK_TEST_PG_PASSWORD"))) {
    // A session of the test that is still winding down must not hold the clean-up for ever.
    run("SET lock_timeout = '30s'");
  }
};

struct Roles {
  static TestAccount make_account() {
    TestAccount role = new_test_account();
    PgAdmin admin;
    const std::string name = quoted_identifier(role.name);
    admin.run("CREATE ROLE " + name + " LOGIN PASSWORD '" + role.password + "'");
    // Membership lets the test login make the schema for the role and drop what it owns.
    admin.run("GRANT " + name + " TO " + quoted_identifier(test_variable("OVIK_TEST_PG_USER")));
    admin.run("CREATE SCHEMA " + name + " AUTHORIZATION " + name);
    // Only its own schema: a name the test did not create must not be found in another one.
    admin.run("ALTER ROLE " + name + " SET search_path TO " + name);
    return role;
  }

  static void drop_account(const std::string& name) {
    try {
      PgAdmin admin;
      // Sessions the test left open would keep their locks on the tables being dropped.
      admin.run("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = '" + name + "'");
      admin.run("DROP OWNED BY " + quoted_identifier(name) + " CASCADE");
      admin.run("DROP ROLE " + quoted_identifier(name));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "warning: the test role %s was not dropped: %s\n", name.c_str(), e.what());
    }
  }
};

}  // namespace

std::optional<PgServer> PgServer::from_environment() {
  last_failure().clear();
  PgServer server;
  server.dsn = test_variable("OVIK_TEST_PG_DSN");
  if (server.dsn.empty()) return std::nullopt;
  server.port = std::atoi(test_variable("OVIK_TEST_PG_PORT").c_str());
  try {
    const TestAccount& role = AccountsOfTests<Roles>::instance().account_of_current_test();
    server.user = role.name;
    server.password = role.password;
  } catch (const std::exception& e) {
    last_failure() = std::string("the test server gave this test no role of its own: ") + e.what();
    return std::nullopt;
  }
  return server;
}

const std::string& PgServer::failure() { return last_failure(); }

bool PgServer::required() { return test_variable("OVIK_REQUIRE_PG") == "1"; }

std::string PgServer::connection_string() const {
  return "Provider=MSDASQL;Data Source=" + dsn + ";User ID=" + user + ";Password=" + password;
}

}  // namespace ovik::testing
