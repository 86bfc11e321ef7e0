// What the test-server supports (pg_server.h, mariadb_server.h) share: an administrator's ODBC
// session on the shared server, and the accounts each test gets of its own, made at first use and
// dropped when the test ends. Straight ODBC, not the library's data access: the isolation of the
// tests must not rest on what they test.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>

namespace ovik::testing {

// The value of an environment variable, "" when unset.
std::string test_variable(const char* name);

// A value of an ODBC connection string: in braces, "}" doubled, only where it needs them (the
// driver manager takes a braced DSN name literally).
std::string odbc_value(std::string_view value);

class AdminSession {
 public:
  // Throws std::runtime_error with every diagnostic record when the connection fails.
  explicit AdminSession(const std::string& connection_text);
  ~AdminSession();
  AdminSession(const AdminSession&) = delete;
  AdminSession& operator=(const AdminSession&) = delete;

  void run(std::string sql);

 private:
  void* env_ = nullptr;
  void* dbc_ = nullptr;
  bool connected_ = false;
};

struct TestAccount {
  std::string name;  // login, and the schema or database of the same name
  std::string password;
};

// A fresh name and password. The process id keeps names apart between tests running at once; the
// random part keeps a new test clear of what a crashed one with the same process id left behind.
TestAccount new_test_account();

// The accounts of the tests on one server kind (Server::make_account(), Server::drop_account(name)),
// each dropped when its test ends (after the fixture is gone, so its connections are closed); one
// made outside any test lasts until the program ends.
template <class Server>
class AccountsOfTests final : public ::testing::EmptyTestEventListener {
 public:
  static AccountsOfTests& instance() {
    // GoogleTest owns its listeners and deletes them when it ends.
    static AccountsOfTests* const listener = [] {
      auto* made = new AccountsOfTests;
      ::testing::UnitTest::GetInstance()->listeners().Append(made);
      return made;
    }();
    return *listener;
  }

  const TestAccount& account_of_current_test() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    auto it = accounts_.find(test);
    if (it == accounts_.end()) it = accounts_.emplace(test, Server::make_account()).first;
    return it->second;
  }

  void OnTestEnd(const ::testing::TestInfo& test) override { drop(&test); }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    while (!accounts_.empty()) drop(accounts_.begin()->first);
  }

 private:
  void drop(const ::testing::TestInfo* test) {
    if (auto it = accounts_.find(test); it != accounts_.end()) {
      Server::drop_account(it->second.name);
      accounts_.erase(it);
    }
  }

  std::map<const ::testing::TestInfo*, TestAccount> accounts_;
};

}  // namespace ovik::testing
