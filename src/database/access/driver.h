// The driver interface of the data-access layer: one small contract that the SQLite driver and
// the ODBC driver both keep, so that the connection and recordset objects above never see
// which engine answers.
//
// Ownership: open_driver() hands out a Driver that the caller owns. A Cursor returned by
// execute() is owned by the caller too, but it reads through its driver: closing or destroying
// the driver closes every cursor it handed out (their fetch() then fails with HY010); a cursor
// may safely outlive its driver object.
//
// Failures: every failing call throws DriverError carrying the driver's diagnostics in the order
// the driver reported them; a failed open() leaves the driver closed, and a failed statement
// leaves an open transaction for the caller to end (a server may refuse further statements in it
// until it is rolled back; in_transaction() tells whether the engine itself already ended it).
// Warnings of successful calls (ODBC SQL_SUCCESS_WITH_INFO) come back in the call's result.
//
// Threads: a driver and its cursors are used from one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "database/access/connection_string.h"

namespace ovik::access {

// Field type codes of the data-access layer (the numbers recordset fields report as Type).
enum class TypeCode : int {
  kEmpty = 0,
  kSmallInt = 2,
  kInteger = 3,
  kSingle = 4,
  kDouble = 5,
  kCurrency = 6,
  kDate = 7,
  kBSTR = 8,
  kBoolean = 11,
  kVariant = 12,
  kTinyInt = 16,
  kUnsignedTinyInt = 17,
  kBigInt = 20,
  kGUID = 72,
  kBinary = 128,
  kChar = 129,
  kWChar = 130,
  kNumeric = 131,
  kDBDate = 133,
  kDBTime = 134,
  kDBTimeStamp = 135,
  kVarChar = 200,
  kLongVarChar = 201,
  kVarWChar = 202,
  kLongVarWChar = 203,
  kVarBinary = 204,
  kLongVarBinary = 205,
};

// Defined size reported for text and binary columns without a length limit.
inline constexpr std::int64_t kUnboundedSize = 2147483647;

// Calendar values carry civil fields as the database holds them: no time zone, no range check
// beyond what the database itself enforces.
struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
  friend bool operator==(const Date&, const Date&) = default;
};
struct Time {
  int hour = 0;
  int minute = 0;
  int second = 0;
  friend bool operator==(const Time&, const Time&) = default;
};
struct Timestamp {
  Date date;
  Time time;
  std::int32_t nanosecond = 0;
  friend bool operator==(const Timestamp&, const Timestamp&) = default;
};
// An exact number in plain decimal text ("-12.50"): kept as text so that nothing is rounded.
struct Decimal {
  std::string text;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};
using Bytes = std::vector<unsigned char>;
using Null = std::monostate;

// A cell value or a statement parameter. Text is UTF-8.
using Value =
    std::variant<Null, bool, std::int64_t, double, Decimal, std::string, Bytes, Date, Time, Timestamp>;

inline bool is_null(const Value& value) { return std::holds_alternative<Null>(value); }

// One diagnostic record as the driver reported it.
struct Diagnostic {
  std::string sqlstate;  // five characters
  std::int32_t native = 0;
  std::string message;  // UTF-8
  friend bool operator==(const Diagnostic&, const Diagnostic&) = default;
};

// The one exception of this layer. what() is the first message (or a summary when there is none).
class DriverError : public std::runtime_error {
 public:
  explicit DriverError(std::vector<Diagnostic> diagnostics);
  DriverError(std::string sqlstate, std::int32_t native, std::string message);
  const std::vector<Diagnostic>& diagnostics() const noexcept { return diagnostics_; }

 private:
  std::vector<Diagnostic> diagnostics_;
};

struct ColumnInfo {
  std::string name;
  TypeCode type = TypeCode::kVarWChar;
  std::int64_t defined_size = 0;  // characters for text, bytes for binary and fixed-size types
  int precision = 0;              // digits for numbers; 0 when not applicable
  int scale = 0;
  bool nullable = true;     // true also when the driver cannot tell
  std::string base_table;   // the table the column comes from; empty for expressions or unknown
  std::string base_column;  // its name in that table (the select list may rename it)
  bool key_column = false;  // part of the base table's primary key
  bool row_id = false;      // SQLite: the column is the row's rowid (or its INTEGER PRIMARY KEY alias)
  bool auto_increment = false;
};

// A forward-only result: columns are known before the first fetch; rows come one at a time and
// only the current row is held.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<ColumnInfo>& columns() const = 0;
  // Moves to the next row; false at the end (and every call after it). The previous row's values
  // are gone afterwards.
  virtual bool fetch() = 0;
  // The current row, one value per column; valid after fetch() returned true. Empty once the
  // cursor was let go (its connection closed).
  virtual const std::vector<Value>& row() const = 0;
  // Releases the statement; further fetch() calls fail. Closing twice is harmless.
  virtual void close() noexcept = 0;
};

struct ExecuteOptions {
  int timeout_seconds = 0;     // 0 = no limit
  bool describe_keys = false;  // fill ColumnInfo::key_column where it costs a catalog query (ODBC)
  // Seconds the statement may wait for a lock that another session holds; 0 = as the driver
  // waits by default. A statement that runs keeps its timeout_seconds. Set only for the statement:
  // on PostgreSQL within a transaction of its own (outside a caller's transaction; inside one the
  // transaction's setting stands), on MariaDB by SET STATEMENT (statements without rows only: its
  // ODBC driver reads no rows of a statement so prefixed), on SQL Server by SET LOCK_TIMEOUT in
  // the same batch, which lasts for the session (the server has no statement scope for it).
  int lock_timeout_seconds = 0;
};

struct ExecuteResult {
  std::unique_ptr<Cursor> cursor;   // set when the statement produced rows
  std::int64_t rows_affected = -1;  // without a cursor: rows changed, -1 when unknown
  std::vector<Diagnostic> info;     // warnings of a call that succeeded
};

struct OpenOptions {
  // Seconds for the login (ODBC) or the default lock wait (SQLite, 5 s when 0); 0 = no limit.
  int timeout_seconds = 0;
};

class Driver {
 public:
  virtual ~Driver() = default;

  // Returns the warnings of a successful open. Throws DriverError; the driver stays closed then.
  virtual std::vector<Diagnostic> open(const ConnectionString& connection, const OpenOptions& options) = 0;
  // Closes every cursor, rolls back an open transaction and disconnects. Never throws: what the
  // server says about a failing disconnect is of no use to anyone once the link is gone.
  virtual void close() noexcept = 0;
  virtual bool is_open() const = 0;

  // Runs sql; parameters bind positionally to its "?" markers (07002 when the counts differ).
  // Text holding several statements runs them in order and answers for the last one (SQLite; an
  // ODBC driver passes the text to its server, which may do the same). The text ends at its first
  // NUL character: what follows is never run (the server drivers read it so).
  virtual ExecuteResult execute(std::string_view sql, std::span<const Value> parameters = {},
                                const ExecuteOptions& options = {}) = 0;

  // One level of transaction; a second begin() or a commit()/rollback() without one throws 25000.
  virtual std::vector<Diagnostic> begin() = 0;
  virtual std::vector<Diagnostic> commit() = 0;
  virtual std::vector<Diagnostic> rollback() = 0;
  virtual bool in_transaction() const = 0;

  // The database the connection works in (SQLite: the file's name without folder and extension,
  // ":memory:" for a memory database); empty when not known.
  virtual std::string database_name() const = 0;

  // The database product the connection reached, as the engine names itself ("SQLite",
  // "PostgreSQL", "Microsoft SQL Server"): a DSN or a generic provider says nothing about it.
  // Empty when closed or when the driver cannot tell.
  virtual std::string dbms_name() const = 0;
};

// Resolves "File Name=" (a data-link file) and picks the driver for the Provider item; throws
// DriverError (IM002) for an unknown provider. The returned driver is not open yet; its open()
// reports a provider whose ODBC driver is not installed.
std::unique_ptr<Driver> make_driver(const ConnectionString& connection);

// make_driver() + open(). The connection string may still hold "File Name=".
std::unique_ptr<Driver> open_driver(const ConnectionString& connection, const OpenOptions& options = {},
                                    std::vector<Diagnostic>* info = nullptr);

}  // namespace ovik::access
