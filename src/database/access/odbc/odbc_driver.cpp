#include "database/access/odbc/odbc_driver.h"
#include "database/access/odbc/server_drivers.h"

// clang-format off
// The Windows SDK's ODBC headers use the system's types without including them.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstring>

#include "database/access/utf16.h"
#include "platform/ascii.h"

namespace ovik::access {
namespace {

// Text crosses the driver manager as UTF-16; a build with 4-byte SQLWCHAR needs other converters.
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC with 2-byte SQLWCHAR expected");

// OLE DB items that mean something to the provider itself and never reach the ODBC driver.
constexpr std::array kOleDbItems = {
    "Provider",
    "Data Source",
    "Initial Catalog",
    "User ID",
    "Password",
    "Persist Security Info",
    "Integrated Security",
    "File Name",
    "Extended Properties",
    "Connect Timeout",
    "General Timeout",
    "Mode",
    "Location",
    "Prompt",
    "Network Library",
    "Auto Translate",
    "Packet Size",
    "Use Procedure for Prepare",
    "Current Language",
    "Workstation ID",
    "Application Name",
};

bool is_ole_db_item(std::string_view key) {
  return std::any_of(kOleDbItems.begin(), kOleDbItems.end(),
                     [&](const char* item) { return equals_ignore_case(key, item); });
}

bool starts_with_ignore_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equals_ignore_case(text.substr(0, prefix.size()), prefix);
}

// "{PostgreSQL Unicode}" written inside an OLE DB string arrives with its braces; take them off
// so that odbc_quote() does not wrap them twice.
std::string unbraced(const std::string& value) {
  if (value.size() < 2 || value.front() != '{' || value.back() != '}') return value;
  std::string out;
  for (std::size_t i = 1; i + 1 < value.size(); ++i) {
    out.push_back(value[i]);
    if (value[i] == '}' && i + 2 < value.size() && value[i + 1] == '}') ++i;
  }
  return out;
}

// The keys of an ODBC connection string (values in braces may hold ";").
std::vector<std::string> odbc_keys(std::string_view text) {
  std::vector<std::string> keys;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto equals = text.find('=', pos);
    if (equals == std::string_view::npos) break;
    std::string key(text.substr(pos, equals - pos));
    key.erase(0, key.find_first_not_of(" \t;"));
    key.erase(key.find_last_not_of(" \t") + 1);
    keys.push_back(key);
    pos = equals + 1;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos < text.size() && text[pos] == '{') {
      ++pos;
      while (pos < text.size()) {
        if (text[pos] == '}') {
          if (pos + 1 < text.size() && text[pos + 1] == '}') {
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        ++pos;
      }
    }
    const auto semicolon = text.find(';', pos);
    pos = semicolon == std::string_view::npos ? text.size() : semicolon + 1;
  }
  return keys;
}

std::string braced(std::string_view value) {
  std::string out = "{";
  for (const char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

class OdbcBuilder {
 public:
  void add(std::string_view key, std::string_view value) {
    if (!text_.empty() && text_.back() != ';') text_.push_back(';');
    text_ += key;
    text_.push_back('=');
    // Driver names are conventionally braced; some hold blanks ("PostgreSQL Unicode").
    if (equals_ignore_case(key, "Driver")) {
      text_ += braced(value);
    } else {
      text_ += odbc_quote(value);
    }
  }
  void add_if_set(std::string_view key, const std::string& value) {
    if (!value.empty()) add(key, value);
  }
  void add_raw(std::string_view text) { text_ += text; }
  void pass_through(const ConnectionString& connection,
                    std::initializer_list<std::string_view> also_skip = {}) {
    for (const auto& item : connection.items()) {
      const std::string& key = item.first;
      const std::string& value = item.second;
      if (is_ole_db_item(key)) continue;
      if (std::any_of(also_skip.begin(), also_skip.end(),
                      [&key](std::string_view s) { return equals_ignore_case(key, s); })) {
        continue;
      }
      add(key, unbraced(value));
    }
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

std::string find_driver(std::span<const std::string> installed, std::string_view prefix) {
  for (const auto& name : installed) {
    if (starts_with_ignore_case(name, prefix)) return name;
  }
  return {};
}

std::string installed_list(std::span<const std::string> installed) {
  if (installed.empty()) return "none";
  std::string out;
  for (const auto& name : installed) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

[[noreturn]] void missing_driver(std::string_view provider, std::string_view driver,
                                 std::span<const std::string> installed) {
  throw DriverError(
      "IM002", 0,
      "The provider " + std::string(provider) + " needs the ODBC driver \"" + std::string(driver) +
          "\", which is not installed (installed ODBC drivers: " + installed_list(installed) + ")");
}

// The system's own SQL Server drivers take the server as the provider names it (host,
// host\instance, host,port), and no TDS version.
std::string native_sql_server_string(const ConnectionString& cs, const std::string& driver) {
  OdbcBuilder out;
  out.add("Driver", driver);
  out.add_if_set("Server", cs.get("Data Source"));
  out.add_if_set("Database", cs.get("Initial Catalog"));
  out.add_if_set("UID", cs.get("User ID"));
  out.add_if_set("PWD", cs.get("Password"));
  out.pass_through(cs, {"Driver", "Server", "Database", "UID", "PWD"});
  return out.text();
}

std::string sql_server_string(const ConnectionString& cs, std::span<const std::string> installed) {
  std::string driver;
  for (std::string_view prefix : sql_server_drivers()) {
    driver = find_driver(installed, prefix);
    if (!driver.empty()) break;
  }
  if (driver.empty()) missing_driver(cs.get("Provider"), sql_server_drivers().back(), installed);
  if (!starts_with_ignore_case(driver, "FreeTDS")) return native_sql_server_string(cs, driver);
  OdbcBuilder out;
  out.add("Driver", driver);
  std::string server = cs.get("Data Source");
  if (starts_with_ignore_case(server, "tcp:")) server.erase(0, 4);
  std::string port;
  if (const auto comma = server.find(','); comma != std::string::npos) {
    port = server.substr(comma + 1);
    server.erase(comma);
    port.erase(0, port.find_first_not_of(' '));
  }
  // A port given with an instance name makes the instance lookup unnecessary.
  if (const auto slash = server.find('\\'); slash != std::string::npos && !port.empty()) server.erase(slash);
  if (server == "(local)" || server == ".") server = "localhost";
  out.add_if_set("Server", server);
  out.add_if_set("Port", port);
  out.add_if_set("Database", cs.get("Initial Catalog"));
  out.add_if_set("UID", cs.get("User ID"));
  out.add_if_set("PWD", cs.get("Password"));
  if (!cs.contains("TDS_Version")) out.add("TDS_Version", "7.4");
  out.pass_through(cs, {"Driver", "Server", "Port", "Database", "UID", "PWD"});
  return out.text();
}

std::string odbc_source_string(const ConnectionString& cs) {
  OdbcBuilder out;
  std::vector<std::string> given;
  if (const auto extended = cs.find("Extended Properties"); extended && !extended->empty()) {
    out.add_raw(*extended);
    given = odbc_keys(*extended);
  }
  const auto has = [&](std::string_view key) {
    return cs.contains(key) || std::any_of(given.begin(), given.end(),
                                           [&](const std::string& k) { return equals_ignore_case(k, key); });
  };
  if (!has("Driver") && !has("DSN") && !has("FILEDSN")) out.add_if_set("DSN", cs.get("Data Source"));
  // The data source or driver goes first, as ODBC strings are conventionally written.
  for (const char* key : {"DSN", "FILEDSN", "Driver"}) {
    if (const auto value = cs.find(key)) out.add(key, unbraced(*value));
  }
  if (!has("UID")) out.add_if_set("UID", cs.get("User ID"));
  if (!has("PWD")) out.add_if_set("PWD", cs.get("Password"));
  if (!has("DATABASE")) out.add_if_set("DATABASE", cs.get("Initial Catalog"));
  out.pass_through(cs, {"DSN", "FILEDSN", "Driver"});
  return out.text();
}

// An SQLite database file through the SQLite 3 ODBC driver, where the SQLite provider is served by
// ODBC (Windows): Data Source is the file as the provider resolved it.
std::string sqlite_file_string(const ConnectionString& cs, std::span<const std::string> installed) {
  const std::string driver = find_driver(installed, "SQLite3");
  if (driver.empty()) missing_driver(cs.get("Provider"), "SQLite3 ODBC Driver", installed);
  OdbcBuilder out;
  out.add("Driver", driver);
  out.add_if_set("Database", cs.get("Data Source"));
  out.pass_through(cs, {"Driver", "Database"});
  return out.text();
}

std::string file_driver_string(const ConnectionString& cs, std::string_view driver_prefix,
                               std::span<const std::string> installed) {
  const std::string driver = find_driver(installed, driver_prefix);
  if (driver.empty()) missing_driver(cs.get("Provider"), driver_prefix, installed);
  OdbcBuilder out;
  out.add("Driver", driver);
  out.add_if_set("DBQ", cs.get("Data Source"));
  out.add_if_set("UID", cs.get("User ID"));
  out.add_if_set("PWD", cs.get("Password"));
  out.pass_through(cs, {"Driver", "DBQ", "UID", "PWD"});
  return out.text();
}

// ---------------------------------------------------------------------------------------------
// Handles and diagnostics

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

std::u16string wide(std::string_view text) { return utf8_to_utf16(text); }

SQLWCHAR* wide_ptr(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

std::string narrow(const SQLWCHAR* text, std::size_t length) {
  return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

std::vector<Diagnostic> read_diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diagnostic> out;
  if (handle == SQL_NULL_HANDLE) return out;
  std::vector<SQLWCHAR> message(1024);
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= message.size()) {
      message.resize(static_cast<std::size_t>(length) + 1);
      rc = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!succeeded(rc)) break;
    const std::size_t size =
        std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
    std::string text = narrow(message.data(), size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    out.push_back({narrow(state, 5), static_cast<std::int32_t>(native), std::move(text)});
  }
  return out;
}

[[noreturn]] void throw_diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string_view what) {
  auto diagnostics = read_diagnostics(type, handle);
  if (diagnostics.empty())
    diagnostics.push_back({"HY000", 0, std::string(what) + " failed without diagnostics"});
  throw DriverError(std::move(diagnostics));
}

class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  Handle(Handle&& other) noexcept : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      type_ = other.type_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~Handle() { reset(); }
  void reset() noexcept {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    handle_ = SQL_NULL_HANDLE;
  }
  SQLHANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

  static Handle allocate(SQLSMALLINT type, const Handle& parent) {
    SQLHANDLE handle = SQL_NULL_HANDLE;
    const SQLSMALLINT parent_type = type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC;
    const SQLRETURN rc = SQLAllocHandle(type, parent.get(), &handle);
    if (!succeeded(rc)) throw_diagnostics(parent_type, parent.get(), "SQLAllocHandle");
    return Handle(type, handle);
  }

 private:
  SQLSMALLINT type_ = SQL_HANDLE_ENV;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

Handle make_environment() {
  SQLHANDLE env = SQL_NULL_HANDLE;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    throw DriverError("HY001", 0, "The ODBC driver manager could not allocate an environment");
  }
  Handle handle(SQL_HANDLE_ENV, env);
  const SQLRETURN rc =
      SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_ENV, env, "SQLSetEnvAttr");
  return handle;
}

std::vector<std::string> installed_drivers(const Handle& env) {
  std::vector<std::string> names;
  SQLWCHAR description[512];
  SQLWCHAR attributes[2048];
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLSMALLINT description_length = 0, attributes_length = 0;
    const SQLRETURN rc = SQLDriversW(env.get(), direction, description, 512, &description_length, attributes,
                                     2048, &attributes_length);
    if (!succeeded(rc)) break;
    names.push_back(
        narrow(description, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(description_length, 0, 511))));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

// ---------------------------------------------------------------------------------------------
// Types

enum class Fetch { kInteger, kDouble, kBoolean, kDecimal, kDate, kTime, kTimestamp, kText, kBinary };

struct TypeMapping {
  TypeCode type;
  Fetch fetch;
};

TypeMapping map_sql_type(SQLSMALLINT sql_type, bool is_unsigned, std::string_view type_name) {
  const auto named = [&](std::string_view part) {
    std::string lowered(type_name);
    for (char& c : lowered) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lowered.find(part) != std::string::npos;
  };
  switch (sql_type) {
    case SQL_INTEGER:
      return {is_unsigned ? TypeCode::kBigInt : TypeCode::kInteger, Fetch::kInteger};
    case SQL_SMALLINT:
      return {is_unsigned ? TypeCode::kInteger : TypeCode::kSmallInt, Fetch::kInteger};
    case SQL_TINYINT:
      return {is_unsigned ? TypeCode::kUnsignedTinyInt : TypeCode::kTinyInt, Fetch::kInteger};
    case SQL_BIGINT:
      return {TypeCode::kBigInt, is_unsigned ? Fetch::kDecimal : Fetch::kInteger};
    case SQL_REAL:
      return {TypeCode::kSingle, Fetch::kDouble};
    case SQL_FLOAT:
    case SQL_DOUBLE:
      if (named("money")) return {TypeCode::kCurrency, Fetch::kDecimal};
      return {TypeCode::kDouble, Fetch::kDouble};
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (named("money")) return {TypeCode::kCurrency, Fetch::kDecimal};
      return {TypeCode::kNumeric, Fetch::kDecimal};
    case SQL_BIT:
      return {TypeCode::kBoolean, Fetch::kBoolean};
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return {TypeCode::kDBDate, Fetch::kDate};
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return {TypeCode::kDBTime, Fetch::kTime};
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return {TypeCode::kDBTimeStamp, Fetch::kTimestamp};
    case SQL_CHAR:
      return {TypeCode::kChar, Fetch::kText};
    case SQL_WCHAR:
      return {TypeCode::kWChar, Fetch::kText};
    case SQL_VARCHAR:
      return {TypeCode::kVarChar, Fetch::kText};
    case SQL_WVARCHAR:
      return {TypeCode::kVarWChar, Fetch::kText};
    case SQL_LONGVARCHAR:
      return {TypeCode::kLongVarChar, Fetch::kText};
    case SQL_WLONGVARCHAR:
      return {TypeCode::kLongVarWChar, Fetch::kText};
    case SQL_BINARY:
      return {TypeCode::kBinary, Fetch::kBinary};
    case SQL_VARBINARY:
      return {TypeCode::kVarBinary, Fetch::kBinary};
    case SQL_LONGVARBINARY:
      return {TypeCode::kLongVarBinary, Fetch::kBinary};
    case SQL_GUID:
      return {TypeCode::kGUID, Fetch::kText};
    default:
      // Intervals, XML, time-zone types and the like: their text is the most faithful form.
      return {TypeCode::kVarWChar, Fetch::kText};
  }
}

std::int64_t defined_size(TypeCode type, SQLULEN column_size) {
  switch (type) {
    case TypeCode::kSmallInt:
      return 2;
    case TypeCode::kInteger:
    case TypeCode::kSingle:
      return 4;
    case TypeCode::kBigInt:
    case TypeCode::kDouble:
    case TypeCode::kCurrency:
      return 8;
    case TypeCode::kTinyInt:
    case TypeCode::kUnsignedTinyInt:
      return 1;
    case TypeCode::kBoolean:
      return 2;
    case TypeCode::kNumeric:
      return 19;
    case TypeCode::kDBDate:
    case TypeCode::kDBTime:
      return 6;
    case TypeCode::kDBTimeStamp:
      return 16;
    case TypeCode::kGUID:
      return 16;
    default:
      if (column_size == 0 || column_size >= static_cast<SQLULEN>(kUnboundedSize)) return kUnboundedSize;
      return static_cast<std::int64_t>(column_size);
  }
}

// ---------------------------------------------------------------------------------------------
// Connection state shared with the cursors

class OdbcCursor;

struct Link {
  Handle env;
  Handle dbc;
  bool connected = false;
  std::vector<OdbcCursor*> cursors;
  void disconnect() noexcept;
};

std::string column_attribute(SQLHSTMT statement, SQLUSMALLINT column, SQLUSMALLINT field) {
  SQLWCHAR buffer[512];
  SQLSMALLINT length = 0;
  if (!succeeded(SQLColAttributeW(statement, column, field, buffer, sizeof buffer, &length, nullptr)))
    return {};
  const auto characters = std::clamp<std::size_t>(
      static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR), 0, 511);
  return narrow(buffer, characters);
}

SQLLEN numeric_attribute(SQLHSTMT statement, SQLUSMALLINT column, SQLUSMALLINT field) {
  SQLLEN value = 0;
  if (!succeeded(SQLColAttributeW(statement, column, field, nullptr, 0, nullptr, &value))) return 0;
  return value;
}

class OdbcCursor final : public Cursor {
 public:
  static constexpr std::size_t kChunk = 8192;

  OdbcCursor(std::shared_ptr<Link> link, Handle statement, bool describe_keys)
      : link_(std::move(link)), statement_(std::move(statement)) {
    describe();
    if (describe_keys) find_keys();
    link_->cursors.push_back(this);
  }
  ~OdbcCursor() override { close(); }

  const std::vector<ColumnInfo>& columns() const override { return columns_; }
  const std::vector<Value>& row() const override { return row_; }

  bool fetch() override {
    if (!statement_) {
      if (closed_) throw DriverError("HY010", 0, "The recordset's cursor is closed");
      return false;
    }
    const SQLRETURN rc = SQLFetch(statement_.get());
    if (rc == SQL_NO_DATA) {
      statement_.reset();
      return false;
    }
    if (!succeeded(rc)) {
      auto diagnostics = read_diagnostics(SQL_HANDLE_STMT, statement_.get());
      statement_.reset();
      if (diagnostics.empty()) diagnostics.push_back({"HY000", 0, "SQLFetch failed without diagnostics"});
      throw DriverError(std::move(diagnostics));
    }
    for (std::size_t i = 0; i < row_.size(); ++i) load(i);
    return true;
  }

  void close() noexcept override {
    detach();
    auto& list = link_->cursors;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }

  void detach() noexcept {
    statement_.reset();
    closed_ = true;
    row_.clear();
  }

 private:
  void describe() {
    SQLSMALLINT count = 0;
    if (!succeeded(SQLNumResultCols(statement_.get(), &count))) {
      throw_diagnostics(SQL_HANDLE_STMT, statement_.get(), "SQLNumResultCols");
    }
    columns_.resize(static_cast<std::size_t>(count));
    fetches_.resize(columns_.size());
    row_.resize(columns_.size());
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
      SQLWCHAR name[512];
      SQLSMALLINT name_length = 0, sql_type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
      SQLULEN size = 0;
      const SQLRETURN rc =
          SQLDescribeColW(statement_.get(), i, name, 512, &name_length, &sql_type, &size, &digits, &nullable);
      if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_STMT, statement_.get(), "SQLDescribeCol");
      ColumnInfo& column = columns_[i - 1];
      column.name = narrow(name, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(name_length, 0, 511)));
      const bool is_unsigned = numeric_attribute(statement_.get(), i, SQL_DESC_UNSIGNED) == SQL_TRUE &&
                               sql_type != SQL_NUMERIC && sql_type != SQL_DECIMAL;
      const auto mapping =
          map_sql_type(sql_type, is_unsigned, column_attribute(statement_.get(), i, SQL_DESC_TYPE_NAME));
      column.type = mapping.type;
      fetches_[i - 1] = mapping.fetch;
      column.defined_size = defined_size(mapping.type, size);
      if (mapping.fetch == Fetch::kInteger || mapping.fetch == Fetch::kDecimal ||
          mapping.fetch == Fetch::kDouble) {
        column.precision = static_cast<int>(std::min<SQLULEN>(size, 1000));
        column.scale = std::max<int>(digits, 0);
      }
      column.nullable = nullable != SQL_NO_NULLS;
      column.base_table = column_attribute(statement_.get(), i, SQL_DESC_BASE_TABLE_NAME);
      column.base_column = column_attribute(statement_.get(), i, SQL_DESC_BASE_COLUMN_NAME);
      if (column.base_column.empty() && !column.base_table.empty()) column.base_column = column.name;
      column.auto_increment = numeric_attribute(statement_.get(), i, SQL_DESC_AUTO_UNIQUE_VALUE) == SQL_TRUE;
    }
  }

  // One catalog query per base table: only for recordsets that will write rows back.
  void find_keys() {
    std::vector<std::string> done;
    for (const auto& column : columns_) {
      const std::string& table = column.base_table;
      if (table.empty() || std::find(done.begin(), done.end(), table) != done.end()) continue;
      done.push_back(table);
      Handle keys = Handle::allocate(SQL_HANDLE_STMT, link_->dbc);
      std::u16string table_name = wide(table);
      if (!succeeded(SQLPrimaryKeysW(keys.get(), nullptr, 0, nullptr, 0, wide_ptr(table_name),
                                     static_cast<SQLSMALLINT>(table_name.size())))) {
        continue;
      }
      while (succeeded(SQLFetch(keys.get()))) {
        SQLWCHAR name[512];
        SQLLEN indicator = 0;
        if (!succeeded(SQLGetData(keys.get(), 4, SQL_C_WCHAR, name, sizeof name, &indicator)) ||
            indicator < 0) {
          continue;
        }
        const auto key =
            narrow(name, std::min<std::size_t>(static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR), 511));
        for (auto& candidate : columns_) {
          if (candidate.base_table == table && equals_ignore_case(candidate.base_column, key)) {
            candidate.key_column = true;
          }
        }
      }
    }
  }

  // Reads a long value in pieces; SQLGetData reports truncation with SUCCESS_WITH_INFO.
  bool read_chunks(SQLUSMALLINT column, SQLSMALLINT c_type, std::size_t terminator, std::vector<char>& out) {
    out.clear();
    for (;;) {
      const std::size_t offset = out.size();
      out.resize(offset + kChunk);
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(statement_.get(), column, c_type, out.data() + offset,
                                      static_cast<SQLLEN>(kChunk), &indicator);
      if (rc == SQL_NO_DATA) {
        out.resize(offset);
        return true;
      }
      if (!succeeded(rc)) {
        out.resize(offset);
        throw_diagnostics(SQL_HANDLE_STMT, statement_.get(), "SQLGetData");
      }
      if (indicator == SQL_NULL_DATA) {
        out.clear();
        return false;
      }
      const std::size_t room = kChunk - terminator;
      if (rc == SQL_SUCCESS && indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) <= room) {
        out.resize(offset + static_cast<std::size_t>(indicator));
        return true;
      }
      out.resize(offset + room);
      if (rc == SQL_SUCCESS) return true;
    }
  }

  template <class T>
  bool read_fixed(SQLUSMALLINT column, SQLSMALLINT c_type, T& value) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(statement_.get(), column, c_type, &value, sizeof value, &indicator);
    if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_STMT, statement_.get(), "SQLGetData");
    return indicator != SQL_NULL_DATA;
  }

  void load(std::size_t index) {
    const auto column = static_cast<SQLUSMALLINT>(index + 1);
    Value& cell = row_[index];
    switch (fetches_[index]) {
      case Fetch::kInteger: {
        SQLBIGINT value = 0;
        if (read_fixed(column, SQL_C_SBIGINT, value)) {
          cell = static_cast<std::int64_t>(value);
        } else {
          cell.emplace<Null>();
        }
        return;
      }
      case Fetch::kDouble: {
        SQLDOUBLE value = 0;
        if (read_fixed(column, SQL_C_DOUBLE, value)) {
          cell = static_cast<double>(value);
        } else {
          cell.emplace<Null>();
        }
        return;
      }
      case Fetch::kBoolean: {
        unsigned char value = 0;
        if (read_fixed(column, SQL_C_BIT, value)) {
          cell = value != 0;
        } else {
          cell.emplace<Null>();
        }
        return;
      }
      case Fetch::kDate: {
        SQL_DATE_STRUCT value{};
        if (read_fixed(column, SQL_C_TYPE_DATE, value)) {
          cell = Date{value.year, value.month, value.day};
        } else {
          cell.emplace<Null>();
        }
        return;
      }
      case Fetch::kTime: {
        SQL_TIME_STRUCT value{};
        if (read_fixed(column, SQL_C_TYPE_TIME, value)) {
          cell = Time{value.hour, value.minute, value.second};
        } else {
          cell.emplace<Null>();
        }
        return;
      }
      case Fetch::kTimestamp: {
        SQL_TIMESTAMP_STRUCT value{};
        if (read_fixed(column, SQL_C_TYPE_TIMESTAMP, value)) {
          cell = Timestamp{{value.year, value.month, value.day},
                           {value.hour, value.minute, value.second},
                           static_cast<std::int32_t>(value.fraction)};
        } else {
          cell.emplace<Null>();
        }
        return;
      }
      case Fetch::kBinary:
        if (read_chunks(column, SQL_C_BINARY, 0, buffer_)) {
          cell.emplace<Bytes>(buffer_.begin(), buffer_.end());
        } else {
          cell.emplace<Null>();
        }
        return;
      case Fetch::kDecimal:
      case Fetch::kText:
        if (!read_chunks(column, SQL_C_WCHAR, sizeof(SQLWCHAR), buffer_)) {
          cell.emplace<Null>();
          return;
        }
        std::u16string_view text(reinterpret_cast<const char16_t*>(buffer_.data()),
                                 buffer_.size() / sizeof(char16_t));
        if (fetches_[index] == Fetch::kDecimal) {
          cell = Decimal{utf16_to_utf8(text)};
        } else if (auto* existing = std::get_if<std::string>(&cell)) {
          *existing = utf16_to_utf8(text);
        } else {
          cell = utf16_to_utf8(text);
        }
        return;
    }
  }

  std::shared_ptr<Link> link_;
  Handle statement_;
  bool closed_ = false;
  std::vector<ColumnInfo> columns_;
  std::vector<Fetch> fetches_;
  std::vector<Value> row_;
  std::vector<char> buffer_;
};

void Link::disconnect() noexcept {
  const auto open_cursors = cursors;
  for (OdbcCursor* cursor : open_cursors) cursor->detach();
  if (connected) {
    SQLDisconnect(dbc.get());
    connected = false;
  }
  dbc.reset();
  env.reset();
}

// Parameter buffers must stay put until SQLExecute has read them.
struct Parameter {
  SQLLEN indicator = 0;
  SQLBIGINT integer = 0;
  SQLDOUBLE real = 0;
  unsigned char bit = 0;
  SQL_DATE_STRUCT date{};
  SQL_TIME_STRUCT time{};
  SQL_TIMESTAMP_STRUCT timestamp{};
  std::u16string text;
  std::string narrow_text;
  Bytes bytes;
};

void bind_parameter(SQLHSTMT statement, SQLUSMALLINT index, const Value& value, Parameter& p) {
  SQLSMALLINT c_type = SQL_C_CHAR, sql_type = SQL_VARCHAR, digits = 0;
  SQLULEN size = 1;
  SQLPOINTER buffer = nullptr;
  SQLLEN buffer_length = 0;
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) {
          p.indicator = SQL_NULL_DATA;
        } else if constexpr (std::is_same_v<T, bool>) {
          p.bit = v ? 1 : 0;
          c_type = SQL_C_BIT, sql_type = SQL_BIT, buffer = &p.bit;
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          p.integer = v;
          c_type = SQL_C_SBIGINT, sql_type = SQL_BIGINT, size = 19, buffer = &p.integer;
        } else if constexpr (std::is_same_v<T, double>) {
          p.real = v;
          c_type = SQL_C_DOUBLE, sql_type = SQL_DOUBLE, size = 15, buffer = &p.real;
        } else if constexpr (std::is_same_v<T, Decimal>) {
          p.narrow_text = v.text;
          const auto point = v.text.find('.');
          const auto digit_count = static_cast<SQLULEN>(
              std::count_if(v.text.begin(), v.text.end(), [](char c) { return c >= '0' && c <= '9'; }));
          c_type = SQL_C_CHAR, sql_type = SQL_NUMERIC, size = std::max<SQLULEN>(digit_count, 1);
          digits = point == std::string::npos ? 0 : static_cast<SQLSMALLINT>(v.text.size() - point - 1);
          buffer = p.narrow_text.data();
          p.indicator = static_cast<SQLLEN>(p.narrow_text.size());
        } else if constexpr (std::is_same_v<T, std::string>) {
          p.text = utf8_to_utf16(v);
          c_type = SQL_C_WCHAR;
          sql_type = p.text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
          size = std::max<SQLULEN>(p.text.size(), 1);
          buffer = p.text.data();
          p.indicator = static_cast<SQLLEN>(p.text.size() * sizeof(char16_t));
        } else if constexpr (std::is_same_v<T, Bytes>) {
          p.bytes = v;
          c_type = SQL_C_BINARY;
          sql_type = p.bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
          size = std::max<SQLULEN>(p.bytes.size(), 1);
          // An empty vector may have no storage; a null buffer would send NULL instead.
          buffer =
              p.bytes.empty() ? static_cast<SQLPOINTER>(&p.bit) : static_cast<SQLPOINTER>(p.bytes.data());
          p.indicator = static_cast<SQLLEN>(p.bytes.size());
        } else if constexpr (std::is_same_v<T, Date>) {
          p.date = {static_cast<SQLSMALLINT>(v.year), static_cast<SQLUSMALLINT>(v.month),
                    static_cast<SQLUSMALLINT>(v.day)};
          c_type = SQL_C_TYPE_DATE, sql_type = SQL_TYPE_DATE, size = 10, buffer = &p.date;
        } else if constexpr (std::is_same_v<T, Time>) {
          p.time = {static_cast<SQLUSMALLINT>(v.hour), static_cast<SQLUSMALLINT>(v.minute),
                    static_cast<SQLUSMALLINT>(v.second)};
          c_type = SQL_C_TYPE_TIME, sql_type = SQL_TYPE_TIME, size = 8, buffer = &p.time;
        } else {
          // Milliseconds: the finest fraction every server's timestamp type takes.
          const auto fraction = static_cast<SQLUINTEGER>(v.nanosecond / 1000000 * 1000000);
          p.timestamp = {static_cast<SQLSMALLINT>(v.date.year),
                         static_cast<SQLUSMALLINT>(v.date.month),
                         static_cast<SQLUSMALLINT>(v.date.day),
                         static_cast<SQLUSMALLINT>(v.time.hour),
                         static_cast<SQLUSMALLINT>(v.time.minute),
                         static_cast<SQLUSMALLINT>(v.time.second),
                         fraction};
          c_type = SQL_C_TYPE_TIMESTAMP, sql_type = SQL_TYPE_TIMESTAMP, buffer = &p.timestamp;
          size = fraction != 0 ? 23 : 19;
          digits = fraction != 0 ? 3 : 0;
        }
      },
      value);
  if (buffer != nullptr && buffer_length == 0) {
    buffer_length = p.indicator > 0 ? p.indicator : 0;
  }
  const SQLRETURN rc = SQLBindParameter(statement, index, SQL_PARAM_INPUT, c_type, sql_type, size, digits,
                                        buffer, buffer_length, &p.indicator);
  if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_STMT, statement, "SQLBindParameter");
}

// The items of an ODBC connection string, keys in lower case; a braced value may hold ";".
std::vector<std::pair<std::string, std::string>> odbc_items(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> items;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t equals = text.find('=', at);
    if (equals == std::string_view::npos) break;
    std::string key(text.substr(at, equals - at));
    key.erase(0, key.find_first_not_of(' '));
    key.erase(key.find_last_not_of(' ') + 1);
    std::size_t end = equals + 1;
    if (end < text.size() && text[end] == '{') {
      for (++end; end < text.size(); ++end) {
        if (text[end] != '}') continue;
        if (end + 1 < text.size() && text[end + 1] == '}') {
          ++end;
          continue;
        }
        break;
      }
    }
    end = std::min(text.find(';', end), text.size());
    items.emplace_back(platform::ascii_lower(key), std::string(text.substr(equals + 1, end - equals - 1)));
    at = end + 1;
  }
  return items;
}

bool is_mariadb_driver_name(std::string_view name) {
  const std::string lower = platform::ascii_lower(name);
  for (const char* part : {"maria", "mysql", "maodbc", "myodbc"})
    if (lower.find(part) != std::string::npos) return true;
  return false;
}

// MariaDB's and MySQL's drivers leave SQL_ATTR_LOGIN_TIMEOUT unused: a server that accepted the
// connection and never answered held the connect for as long as it kept the socket open. Their
// own CONN_TIMEOUT item bounds it. Other drivers are not handed an item they do not know, so the
// driver is looked for in the string, or in the data source it names.
std::string with_mariadb_connect_timeout(std::string text, int seconds) {
  if (seconds <= 0) return text;
  std::string driver, dsn;
  for (const auto& [key, value] : odbc_items(text)) {
    if (key == "conn_timeout") return text;  // the site's own
    if (key == "driver") driver = value;
    if (key == "dsn") dsn = value;
  }
  bool mariadb = is_mariadb_driver_name(driver);
  if (!mariadb && driver.empty() && !dsn.empty()) {
    for (const DataSource& source : odbc_data_sources())
      if (platform::ascii_iequals(source.name, dsn)) mariadb = is_mariadb_driver_name(source.driver);
  }
  if (!mariadb) return text;
  if (!text.empty() && text.back() != ';') text += ';';
  return text + "CONN_TIMEOUT=" + std::to_string(seconds);
}

class OdbcDriver final : public Driver {
 public:
  ~OdbcDriver() override { close(); }

  std::vector<Diagnostic> open(const ConnectionString& connection, const OpenOptions& options) override {
    if (is_open()) throw DriverError("08002", 0, "The connection is already open");
    auto link = std::make_shared<Link>();
    link->env = make_environment();
    const ProviderKind kind = classify_provider(connection.get("Provider"));
    std::vector<std::string> drivers;
    if (kind != ProviderKind::kOdbc) drivers = installed_drivers(link->env);
    std::u16string text =
        wide(with_mariadb_connect_timeout(odbc_connection_string(connection, drivers), options.timeout_seconds));

    link->dbc = Handle::allocate(SQL_HANDLE_DBC, link->env);
    // Always set, 0 included: 0 means no limit, and a driver's own default must not shorten it.
    SQLSetConnectAttrW(
        link->dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(options.timeout_seconds, 0))), 0);
    SQLWCHAR completed[1024];
    SQLSMALLINT completed_length = 0;
    const SQLRETURN rc =
        SQLDriverConnectW(link->dbc.get(), nullptr, wide_ptr(text), static_cast<SQLSMALLINT>(text.size()),
                          completed, 1024, &completed_length, SQL_DRIVER_NOPROMPT);
    if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_DBC, link->dbc.get(), "SQLDriverConnect");
    link->connected = true;
    std::vector<Diagnostic> info;
    if (rc == SQL_SUCCESS_WITH_INFO) info = read_diagnostics(SQL_HANDLE_DBC, link->dbc.get());
    catalog_ = connection.get("Initial Catalog");
    link_ = std::move(link);
    in_transaction_ = false;
    product_ = product_of(dbms_name());
    statement_time_ = 0;
    return info;
  }

  void close() noexcept override {
    if (link_ == nullptr) return;
    if (in_transaction_) {
      SQLEndTran(SQL_HANDLE_DBC, link_->dbc.get(), SQL_ROLLBACK);
      in_transaction_ = false;
    }
    link_->disconnect();
    link_.reset();
  }

  bool is_open() const override { return link_ != nullptr; }

  ExecuteResult execute(std::string_view sql, std::span<const Value> parameters,
                        const ExecuteOptions& options) override {
    require_open();
    // MariaDB's driver takes the query time-out and does nothing with it (a sleep of 10 s ran
    // through a time-out of 2 s): the server's own bound stands in. Not SET STATEMENT: the driver
    // reads no rows of a select so prefixed, and with some texts it crashes.
    if (product_ == Product::kMariaDb && options.timeout_seconds != statement_time_) {
      run(options.timeout_seconds > 0 ? "SET max_statement_time=" + std::to_string(options.timeout_seconds)
                                      : std::string("SET max_statement_time=DEFAULT"),
          {}, {});
      statement_time_ = options.timeout_seconds;
    }
    if (options.lock_timeout_seconds <= 0) return run(sql, parameters, options);
    const std::string seconds = std::to_string(options.lock_timeout_seconds);
    switch (product_) {
      case Product::kPostgres:
        if (!in_transaction_) return run_with_local_lock_timeout(sql, parameters, options);
        break;
      case Product::kMariaDb:
        return run("SET STATEMENT lock_wait_timeout=" + seconds + ", innodb_lock_wait_timeout=" + seconds +
                       " FOR " + std::string(sql),
                   parameters, options);
      case Product::kSqlServer:
        return run("SET LOCK_TIMEOUT " + seconds + "000;\r\n" + std::string(sql), parameters, options);
      case Product::kOther:
        break;
    }
    return run(sql, parameters, options);
  }

 private:
  enum class Product { kOther, kPostgres, kMariaDb, kSqlServer };

  static Product product_of(const std::string& dbms) {
    std::string name = dbms;
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name.find("postgres") != std::string::npos) return Product::kPostgres;
    if (name.find("mariadb") != std::string::npos) return Product::kMariaDb;
    if (name.find("sql server") != std::string::npos) return Product::kSqlServer;
    return Product::kOther;
  }

  // SET LOCAL in a transaction of the statement's own ends with it, so the setting never stays in
  // the session, where a pooling proxy would hand it to its next client.
  ExecuteResult run_with_local_lock_timeout(std::string_view sql, std::span<const Value> parameters,
                                            const ExecuteOptions& options) {
    Link& link = require_open();
    set_autocommit(link, false);
    in_transaction_ = true;
    try {
      run("SET LOCAL lock_timeout=" + std::to_string(options.lock_timeout_seconds) + "000", {}, {});
      ExecuteResult result = run(sql, parameters, options);
      end_transaction(SQL_COMMIT);
      return result;
    } catch (const DriverError&) {
      if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, link.dbc.get(), SQL_ROLLBACK);
      in_transaction_ = false;
      SQLSetConnectAttrW(link.dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                         SQL_IS_UINTEGER);
      throw;
    }
  }

  ExecuteResult run(std::string_view sql, std::span<const Value> parameters, const ExecuteOptions& options) {
    Link& link = require_open();
    Handle statement = Handle::allocate(SQL_HANDLE_STMT, link.dbc);
    SQLHSTMT st = statement.get();
    if (options.timeout_seconds > 0) {
      SQLSetStmtAttrW(st, SQL_ATTR_QUERY_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(options.timeout_seconds)), 0);
    }
    std::u16string text = wide(sql);
    ExecuteResult result;
    SQLRETURN rc;
    std::vector<Parameter> buffers(parameters.size());
    if (parameters.empty()) {
      rc = SQLExecDirectW(st, wide_ptr(text), static_cast<SQLINTEGER>(text.size()));
    } else {
      rc = SQLPrepareW(st, wide_ptr(text), static_cast<SQLINTEGER>(text.size()));
      if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_STMT, st, "SQLPrepare");
      SQLSMALLINT markers = 0;
      if (succeeded(SQLNumParams(st, &markers)) && markers != static_cast<SQLSMALLINT>(parameters.size())) {
        throw DriverError("07002", 0,
                          "The statement has " + std::to_string(markers) + " parameter markers but " +
                              std::to_string(parameters.size()) + " parameters were given");
      }
      for (std::size_t i = 0; i < parameters.size(); ++i) {
        bind_parameter(st, static_cast<SQLUSMALLINT>(i + 1), parameters[i], buffers[i]);
      }
      rc = SQLExecute(st);
    }
    for (;;) {
      if (rc == SQL_NO_DATA) {
        result.rows_affected = result.rows_affected < 0 ? 0 : result.rows_affected;
        return result;
      }
      if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_STMT, st, "SQLExecute");
      if (rc == SQL_SUCCESS_WITH_INFO) {
        auto info = read_diagnostics(SQL_HANDLE_STMT, st);
        result.info.insert(result.info.end(), info.begin(), info.end());
      }
      SQLSMALLINT columns = 0;
      if (!succeeded(SQLNumResultCols(st, &columns)))
        throw_diagnostics(SQL_HANDLE_STMT, st, "SQLNumResultCols");
      if (columns > 0) {
        result.cursor = std::make_unique<OdbcCursor>(link_, std::move(statement), options.describe_keys);
        return result;
      }
      SQLLEN count = -1;
      if (succeeded(SQLRowCount(st, &count))) result.rows_affected = count;
      rc = SQLMoreResults(st);
    }
  }

 public:
  std::vector<Diagnostic> begin() override {
    Link& link = require_open();
    if (in_transaction_) throw DriverError("25000", 0, "A transaction is already active on this connection");
    set_autocommit(link, false);
    in_transaction_ = true;
    return {};
  }

  std::vector<Diagnostic> commit() override { return end_transaction(SQL_COMMIT); }
  std::vector<Diagnostic> rollback() override { return end_transaction(SQL_ROLLBACK); }
  bool in_transaction() const override { return in_transaction_; }

  std::string database_name() const override {
    if (link_ == nullptr) return catalog_;
    SQLWCHAR name[512];
    SQLINTEGER length = 0;
    if (succeeded(
            SQLGetConnectAttrW(link_->dbc.get(), SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &length)) &&
        length > 0) {
      return narrow(name, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 511));
    }
    return catalog_;
  }

  std::string dbms_name() const override {
    if (link_ == nullptr) return {};
    SQLWCHAR name[256];
    SQLSMALLINT length = 0;
    if (!succeeded(SQLGetInfoW(link_->dbc.get(), SQL_DBMS_NAME, name, sizeof name, &length)) || length <= 0)
      return {};
    return narrow(name, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 255));
  }

 private:
  Link& require_open() {
    if (link_ == nullptr) throw DriverError("08003", 0, "The connection is not open");
    return *link_;
  }

  static void set_autocommit(Link& link, bool on) {
    const SQLRETURN rc = SQLSetConnectAttrW(
        link.dbc.get(), SQL_ATTR_AUTOCOMMIT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
        SQL_IS_UINTEGER);
    if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_DBC, link.dbc.get(), "SQLSetConnectAttr");
  }

  std::vector<Diagnostic> end_transaction(SQLSMALLINT how) {
    Link& link = require_open();
    if (!in_transaction_) throw DriverError("25000", 0, "No transaction is active on this connection");
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, link.dbc.get(), how);
    if (!succeeded(rc)) throw_diagnostics(SQL_HANDLE_DBC, link.dbc.get(), "SQLEndTran");
    std::vector<Diagnostic> info;
    if (rc == SQL_SUCCESS_WITH_INFO) info = read_diagnostics(SQL_HANDLE_DBC, link.dbc.get());
    in_transaction_ = false;
    set_autocommit(link, true);
    return info;
  }

  std::shared_ptr<Link> link_;
  std::string catalog_;
  bool in_transaction_ = false;
  Product product_ = Product::kOther;
  int statement_time_ = 0;  // the max_statement_time this session was given (MariaDB); 0 = none
};

}  // namespace

std::unique_ptr<Driver> make_odbc_driver() { return std::make_unique<OdbcDriver>(); }

std::string odbc_quote(std::string_view value) {
  const bool needs_braces = !value.empty() && (value.find_first_of(";{}=") != std::string_view::npos ||
                                               value.front() == ' ' || value.back() == ' ');
  return needs_braces ? braced(value) : std::string(value);
}

std::vector<DataSource> odbc_data_sources() {
  std::vector<DataSource> sources;
  Handle env;
  try {
    env = make_environment();
  } catch (const DriverError&) {
    return sources;
  }
  SQLWCHAR name[SQL_MAX_DSN_LENGTH + 1];
  SQLWCHAR description[512];
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLSMALLINT name_length = 0, description_length = 0;
    const SQLRETURN rc = SQLDataSourcesW(env.get(), direction, name, SQL_MAX_DSN_LENGTH + 1, &name_length,
                                         description, 512, &description_length);
    if (!succeeded(rc)) break;
    sources.push_back(
        {narrow(name, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(name_length, 0, SQL_MAX_DSN_LENGTH))),
         narrow(description, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(description_length, 0, 511)))});
    direction = SQL_FETCH_NEXT;
  }
  return sources;
}

std::string odbc_connection_string(const ConnectionString& connection,
                                   std::span<const std::string> installed_drivers) {
  const std::string provider = connection.get("Provider");
  switch (classify_provider(provider)) {
    case ProviderKind::kSqlServer:
      return sql_server_string(connection, installed_drivers);
    case ProviderKind::kOdbc:
      return odbc_source_string(connection);
    case ProviderKind::kOracle:
      return file_driver_string(connection, "Oracle", installed_drivers);
    case ProviderKind::kAccess:
      return file_driver_string(connection, access_driver(), installed_drivers);
    case ProviderKind::kSqlite:
      return sqlite_file_string(connection, installed_drivers);
    case ProviderKind::kUnknown:
      break;
  }
  throw DriverError("IM002", 0, "Provider \"" + provider + "\" is not served by the ODBC driver");
}

}  // namespace ovik::access
