#include "support/pg_server.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string_view>

namespace ovik::testing {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A value of an ODBC connection string: in braces, "}" doubled, only where it needs them (the
// driver manager takes a braced DSN name literally).
std::string odbc_value(std::string_view value) {
  if (value.find_first_of(";{}") == std::string_view::npos &&
      (value.empty() || (value.front() != ' ' && value.back() != ' ')))
    return std::string(value);
  std::string out = "{";
  for (const char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  return out + "}";
}

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

// A session as the server's own test login (OVIK_TEST_PG_USER), which may create roles. Straight
// ODBC, not the library's data access: the isolation of the tests must not rest on what they test.
class AdminSession {
 public:
  AdminSession() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
    std::string text = "DSN=" + odbc_value(variable("OVIK_TEST_PG_DSN")) +
                       ";UID=" + odbc_value(variable("OVIK_TEST_PG_USER")) +
                       ";PWD=" + odbc_value(variable("OVIK_TEST_PG_PASSWORD"));
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr,
                                    0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) fail(SQL_HANDLE_DBC, dbc_, "connecting as the test login");
    connected_ = true;
    // A session of the test that is still winding down must not hold the clean-up for ever.
    run("SET lock_timeout = '30s'");
  }
  ~AdminSession() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  AdminSession(const AdminSession&) = delete;
  AdminSession& operator=(const AdminSession&) = delete;

  void run(std::string sql) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    std::unique_ptr<void, void (*)(void*)> owner(stmt, [](void* h) { SQLFreeHandle(SQL_HANDLE_STMT, h); });
    const SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) fail(SQL_HANDLE_STMT, stmt, sql);
  }

 private:
  [[noreturn]] static void fail(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    std::string message = what + ":";
    SQLCHAR state[6] = {};
    SQLCHAR text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT record = 1;
         SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state, &native, text, sizeof text, &length));
         ++record)
      message += std::string(" [") + reinterpret_cast<char*>(state) + "] " + reinterpret_cast<char*>(text);
    throw std::runtime_error(message);
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

struct Role {
  std::string name;
  std::string password;
};

Role make_role() {
  static int serial = 0;
  // The process id keeps names apart between tests running at once; the random part keeps a new
  // test clear of what a crashed one with the same process id left behind.
  std::random_device random;
  char suffix[9];
  std::snprintf(suffix, sizeof suffix, "%08x", random());
  Role role{"ovik_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + "_" + suffix,
            std::string("pw_") + suffix};
  AdminSession admin;
  const std::string name = quoted_identifier(role.name);
  admin.run("CREATE ROLE " + name + " LOGIN PASSWORD '" + role.password + "'");
  // Membership lets the test login make the schema for the role and drop what it owns.
  admin.run("GRANT " + name + " TO " + quoted_identifier(variable("OVIK_TEST_PG_USER")));
  admin.run("CREATE SCHEMA " + name + " AUTHORIZATION " + name);
  // Only its own schema: a name the test did not create must not be found in another one.
  admin.run("ALTER ROLE " + name + " SET search_path TO " + name);
  return role;
}

void drop_role(const std::string& name) {
  try {
    AdminSession admin;
    // Sessions the test left open would keep their locks on the tables being dropped.
    admin.run("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = '" + name + "'");
    admin.run("DROP OWNED BY " + quoted_identifier(name) + " CASCADE");
    admin.run("DROP ROLE " + quoted_identifier(name));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "warning: the test role %s was not dropped: %s\n", name.c_str(), e.what());
  }
}

// The roles of the tests, each dropped when its test ends (after the fixture is gone, so its
// connections are closed); one made outside any test lasts until the program ends.
class RolesOfTests final : public ::testing::EmptyTestEventListener {
 public:
  static RolesOfTests& instance() {
    // GoogleTest owns its listeners and deletes them when it ends.
    static RolesOfTests* const listener = [] {
      auto* made = new RolesOfTests;
      ::testing::UnitTest::GetInstance()->listeners().Append(made);
      return made;
    }();
    return *listener;
  }

  const Role& role_of_current_test() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    auto it = roles_.find(test);
    if (it == roles_.end()) it = roles_.emplace(test, make_role()).first;
    return it->second;
  }

  void OnTestEnd(const ::testing::TestInfo& test) override { drop(&test); }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    while (!roles_.empty()) drop(roles_.begin()->first);
  }

 private:
  void drop(const ::testing::TestInfo* test) {
    if (auto it = roles_.find(test); it != roles_.end()) {
      drop_role(it->second.name);
      roles_.erase(it);
    }
  }

  std::map<const ::testing::TestInfo*, Role> roles_;
};

}  // namespace

std::optional<PgServer> PgServer::from_environment() {
  last_failure().clear();
  PgServer server;
  server.dsn = variable("OVIK_TEST_PG_DSN");
  if (server.dsn.empty()) return std::nullopt;
  server.port = std::atoi(variable("OVIK_TEST_PG_PORT").c_str());
  try {
    const Role& role = RolesOfTests::instance().role_of_current_test();
    server.user = role.name;
    server.password = role.password;
  } catch (const std::exception& e) {
    last_failure() = std::string("the test server gave this test no role of its own: ") + e.what();
    return std::nullopt;
  }
  return server;
}

const std::string& PgServer::failure() { return last_failure(); }

bool PgServer::required() { return variable("OVIK_REQUIRE_PG") == "1"; }

std::string PgServer::connection_string() const {
  return "Provider=MSDASQL;Data Source=" + dsn + ";User ID=" + user + ";Password=" + password;
}

}  // namespace ovik::testing
