#include "support/odbc_admin.h"

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>

namespace ovik::testing {
namespace {

[[noreturn]] void fail(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
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

}  // namespace

std::string test_variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

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

AdminSession::AdminSession(const std::string& connection_text) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
  std::string text = connection_text;
  const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    // The destructor does not run for a constructor that throws.
    try {
      fail(SQL_HANDLE_DBC, dbc_, "connecting as the test login");
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      throw;
    }
  }
  connected_ = true;
}

AdminSession::~AdminSession() {
  if (connected_) SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void AdminSession::run(std::string sql) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
  std::unique_ptr<void, void (*)(void*)> owner(stmt, [](void* h) { SQLFreeHandle(SQL_HANDLE_STMT, h); });
  const SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) fail(SQL_HANDLE_STMT, stmt, sql);
}

TestAccount new_test_account() {
  static int serial = 0;
  std::random_device random;
  char suffix[9];
  std::snprintf(suffix, sizeof suffix, "%08x", random());
  return TestAccount{"ovik_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + "_" + suffix,
                     std::string("pw_") + suffix};
}

}  // namespace ovik::testing
