#include "support/mariadb_server.h"

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
  std::string out = "`";
  for (const char c : name) {
    out.push_back(c);
    if (c == '`') out.push_back('`');
  }
  return out + "`";
}

std::string quoted_text(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'' || c == '\\') out.push_back(c);
    out.push_back(c);
  }
  return out + "'";
}

// 'name'@'%': the tests reach the server over TCP on the loopback address.
std::string login(std::string_view name) { return quoted_text(name) + "@'%'"; }

// A session as the server's own test login (OVIK_TEST_MARIADB_USER), which may create logins.
class MariaDbAdmin : public AdminSession {
 public:
  MariaDbAdmin()
      : AdminSession("DSN=" + odbc_value(test_variable("OVIK_TEST_MARIADB_DSN")) +
                     ";UID=" + odbc_value(test_variable("OVIK_TEST_MARIADB_USER")) +
                     ";PWD=" + odbc_value(test_variable("OVIK_TEST_MARIADB_PASSWORD"))) {
    // A session of the test that is still winding down must not hold the clean-up for ever.
    run("SET SESSION lock_wait_timeout = 30");
  }
};

struct Logins {
  static TestAccount make_account() {
    TestAccount account = new_test_account();
    MariaDbAdmin admin;
    admin.run("CREATE DATABASE " + quoted_identifier(account.name));
    admin.run("CREATE USER " + login(account.name) + " IDENTIFIED BY " + quoted_text(account.password));
    // Only its own database: a name the test did not create must not be found in another one.
    admin.run("GRANT ALL ON " + quoted_identifier(account.name) + ".* TO " + login(account.name));
    return account;
  }

  static void drop_account(const std::string& name) {
    try {
      MariaDbAdmin admin;
      // Sessions the test left open would keep their locks on the tables being dropped.
      admin.run("KILL USER " + quoted_text(name));
      admin.run("DROP DATABASE IF EXISTS " + quoted_identifier(name));
      admin.run("DROP USER IF EXISTS " + login(name));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "warning: the test login %s was not dropped: %s\n", name.c_str(), e.what());
    }
  }
};

}  // namespace

std::optional<MariaDbServer> MariaDbServer::from_environment() {
  last_failure().clear();
  MariaDbServer server;
  server.dsn = test_variable("OVIK_TEST_MARIADB_DSN");
  if (server.dsn.empty()) return std::nullopt;
  server.port = std::atoi(test_variable("OVIK_TEST_MARIADB_PORT").c_str());
  try {
    const TestAccount& account = AccountsOfTests<Logins>::instance().account_of_current_test();
    server.user = account.name;
    server.password = account.password;
    server.database = account.name;
  } catch (const std::exception& e) {
    last_failure() = std::string("the test server gave this test no login of its own: ") + e.what();
    return std::nullopt;
  }
  return server;
}

const std::string& MariaDbServer::failure() { return last_failure(); }

bool MariaDbServer::required() { return test_variable("OVIK_REQUIRE_MARIADB") == "1"; }

std::string MariaDbServer::connection_string() const {
  return "Provider=MSDASQL;Data Source=" + dsn + ";User ID=" + user + ";Password=" + password +
         ";Initial Catalog=" + database;
}

}  // namespace ovik::testing
