#include "database/access/sqlite/sqlite_driver.h"
#include "database/access/sqlite_provider.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/ascii.h"
#include "platform/module_info.h"

namespace ovik::access {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultBusyMilliseconds = 5000;
// Virtual-machine steps between two looks at the clock: often enough to stop within a few
// milliseconds, rare enough to cost nothing measurable.
constexpr int kProgressSteps = 1000;

// Seconds as the busy handler's milliseconds, without overflowing for absurd time-outs.
int milliseconds(int seconds) { return seconds >= INT_MAX / 1000 ? INT_MAX : seconds * 1000; }

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Declared types

struct NameRule {
  std::string_view name;
  TypeCode type;
  std::int64_t size;
  int precision;
  int scale;
};

// Sizes follow what the data-access layer reports for fixed-size types (bytes).
constexpr std::array kNamedTypes = {
    NameRule{"INT", TypeCode::kInteger, 4, 10, 0},
    NameRule{"INTEGER", TypeCode::kInteger, 4, 10, 0},
    NameRule{"MEDIUMINT", TypeCode::kInteger, 4, 10, 0},
    NameRule{"INT4", TypeCode::kInteger, 4, 10, 0},
    NameRule{"BIGINT", TypeCode::kBigInt, 8, 19, 0},
    NameRule{"INT8", TypeCode::kBigInt, 8, 19, 0},
    NameRule{"UNSIGNED BIG INT", TypeCode::kBigInt, 8, 19, 0},
    NameRule{"SMALLINT", TypeCode::kSmallInt, 2, 5, 0},
    NameRule{"INT2", TypeCode::kSmallInt, 2, 5, 0},
    NameRule{"TINYINT", TypeCode::kTinyInt, 1, 3, 0},
    NameRule{"BOOLEAN", TypeCode::kBoolean, 2, 0, 0},
    NameRule{"BOOL", TypeCode::kBoolean, 2, 0, 0},
    NameRule{"BIT", TypeCode::kBoolean, 2, 0, 0},
    NameRule{"REAL", TypeCode::kDouble, 8, 15, 0},
    NameRule{"DOUBLE", TypeCode::kDouble, 8, 15, 0},
    NameRule{"DOUBLE PRECISION", TypeCode::kDouble, 8, 15, 0},
    NameRule{"FLOAT", TypeCode::kDouble, 8, 15, 0},
    NameRule{"FLOAT8", TypeCode::kDouble, 8, 15, 0},
    NameRule{"NUMERIC", TypeCode::kNumeric, 19, 0, 0},
    NameRule{"DECIMAL", TypeCode::kNumeric, 19, 0, 0},
    NameRule{"NUMBER", TypeCode::kNumeric, 19, 0, 0},
    NameRule{"MONEY", TypeCode::kCurrency, 8, 19, 4},
    NameRule{"SMALLMONEY", TypeCode::kCurrency, 8, 19, 4},
    NameRule{"CURRENCY", TypeCode::kCurrency, 8, 19, 4},
    NameRule{"DATE", TypeCode::kDBDate, 6, 0, 0},
    NameRule{"TIME", TypeCode::kDBTime, 6, 0, 0},
    NameRule{"DATETIME", TypeCode::kDBTimeStamp, 16, 0, 0},
    NameRule{"DATETIME2", TypeCode::kDBTimeStamp, 16, 0, 0},
    NameRule{"SMALLDATETIME", TypeCode::kDBTimeStamp, 16, 0, 0},
    NameRule{"TIMESTAMP", TypeCode::kDBTimeStamp, 16, 0, 0},
    NameRule{"CHAR", TypeCode::kChar, 1, 0, 0},
    NameRule{"CHARACTER", TypeCode::kChar, 1, 0, 0},
    NameRule{"NCHAR", TypeCode::kWChar, 1, 0, 0},
    NameRule{"NATIVE CHARACTER", TypeCode::kWChar, 1, 0, 0},
    NameRule{"NATIONAL CHARACTER", TypeCode::kWChar, 1, 0, 0},
    NameRule{"NATIONAL CHAR", TypeCode::kWChar, 1, 0, 0},
    NameRule{"VARCHAR", TypeCode::kVarChar, -1, 0, 0},
    NameRule{"CHARACTER VARYING", TypeCode::kVarChar, -1, 0, 0},
    NameRule{"VARYING CHARACTER", TypeCode::kVarChar, -1, 0, 0},
    NameRule{"NVARCHAR", TypeCode::kVarWChar, -1, 0, 0},
    NameRule{"NATIONAL VARCHAR", TypeCode::kVarWChar, -1, 0, 0},
    NameRule{"NATIONAL CHARACTER VARYING", TypeCode::kVarWChar, -1, 0, 0},
    NameRule{"TEXT", TypeCode::kLongVarChar, kUnboundedSize, 0, 0},
    NameRule{"CLOB", TypeCode::kLongVarChar, kUnboundedSize, 0, 0},
    NameRule{"MEDIUMTEXT", TypeCode::kLongVarChar, kUnboundedSize, 0, 0},
    NameRule{"LONGTEXT", TypeCode::kLongVarChar, kUnboundedSize, 0, 0},
    NameRule{"NTEXT", TypeCode::kLongVarWChar, kUnboundedSize, 0, 0},
    NameRule{"BLOB", TypeCode::kLongVarBinary, kUnboundedSize, 0, 0},
    NameRule{"IMAGE", TypeCode::kLongVarBinary, kUnboundedSize, 0, 0},
    NameRule{"LONGBLOB", TypeCode::kLongVarBinary, kUnboundedSize, 0, 0},
    NameRule{"BINARY", TypeCode::kBinary, 1, 0, 0},
    NameRule{"VARBINARY", TypeCode::kVarBinary, -1, 0, 0},
    NameRule{"UUID", TypeCode::kVarWChar, 38, 0, 0},
    NameRule{"GUID", TypeCode::kVarWChar, 38, 0, 0},
    NameRule{"UNIQUEIDENTIFIER", TypeCode::kVarWChar, 38, 0, 0},
};

// Variable-length types declared without a length are their long counterparts.
TypeCode long_form(TypeCode type) {
  switch (type) {
    case TypeCode::kVarChar:
      return TypeCode::kLongVarChar;
    case TypeCode::kVarWChar:
      return TypeCode::kLongVarWChar;
    case TypeCode::kVarBinary:
      return TypeCode::kLongVarBinary;
    default:
      return type;
  }
}

std::vector<std::int64_t> type_arguments(std::string_view args) {
  std::vector<std::int64_t> out;
  std::size_t pos = 0;
  while (pos < args.size()) {
    while (pos < args.size() && (args[pos] < '0' || args[pos] > '9')) ++pos;
    if (pos >= args.size()) break;
    std::int64_t number = 0;
    const auto [end, ec] = std::from_chars(args.data() + pos, args.data() + args.size(), number);
    if (ec != std::errc()) break;
    out.push_back(number);
    pos = static_cast<std::size_t>(end - args.data());
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Dates stored as text

bool read_digits(std::string_view text, std::size_t& pos, std::size_t count, int& out) {
  if (pos + count > text.size()) return false;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  out = value;
  return true;
}

// Reads 1 or 2 digits: "2024/1/5 9:03" is as valid as the padded form.
bool read_one_or_two(std::string_view text, std::size_t& pos, int& out) {
  if (!read_digits(text, pos, 1, out)) return false;
  int second = 0;
  std::size_t probe = pos;
  if (read_digits(text, probe, 1, second)) {
    out = out * 10 + second;
    pos = probe;
  }
  return true;
}

bool read_time(std::string_view text, std::size_t& pos, Time& time, std::int32_t& nanos) {
  if (!read_one_or_two(text, pos, time.hour) || pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  if (!read_digits(text, pos, 2, time.minute)) return false;
  time.second = 0;
  nanos = 0;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!read_digits(text, pos, 2, time.second)) return false;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      std::int32_t scale = 100000000;
      const std::size_t start = pos;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        nanos += (text[pos] - '0') * scale;
        scale /= 10;
        ++pos;
      }
      if (pos == start) return false;
    }
  }
  return time.hour <= 23 && time.minute <= 59 && time.second <= 60;
}

bool read_date(std::string_view text, std::size_t& pos, Date& date) {
  if (!read_digits(text, pos, 4, date.year) || pos >= text.size()) return false;
  const char separator = text[pos];
  if (separator != '-' && separator != '/') return false;
  ++pos;
  if (!read_one_or_two(text, pos, date.month) || pos >= text.size() || text[pos] != separator) return false;
  ++pos;
  if (!read_one_or_two(text, pos, date.day)) return false;
  return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31;
}

// The form SQLite's own date functions write, "YYYY-MM-DD HH:MM:SS", read at fixed places: the walk
// of a date column meets nothing else. True only where parse_temporal reads the same timestamp;
// anything else goes to parse_temporal.
bool read_canonical_timestamp(std::string_view text, Timestamp& out) {
  if (text.size() != 19) return false;
  const char* t = text.data();
  const char separator = t[4];
  if ((separator != '-' && separator != '/') || t[7] != separator || (t[10] != ' ' && t[10] != 'T') ||
      t[13] != ':' || t[16] != ':') {
    return false;
  }
  bool digits = true;
  const auto d = [&](int i) {
    const unsigned v = static_cast<unsigned char>(t[i]) - unsigned{'0'};  // a non-digit wraps to > 9
    digits &= v <= 9;
    return static_cast<int>(v);
  };
  const int year = d(0) * 1000 + d(1) * 100 + d(2) * 10 + d(3);
  const int month = d(5) * 10 + d(6);
  const int day = d(8) * 10 + d(9);
  const int hour = d(11) * 10 + d(12);
  const int minute = d(14) * 10 + d(15);
  const int second = d(17) * 10 + d(18);
  if (!digits || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  out.date = {year, month, day};
  out.time = {hour, minute, second};
  out.nanosecond = 0;
  return true;
}

// A stored date, time or date-time; nullopt for anything else, which then stays text.
std::optional<Value> parse_temporal(std::string_view text, TypeCode column) {
  std::size_t pos = 0;
  Date date;
  Time time;
  std::int32_t nanos = 0;
  if (column == TypeCode::kDBTime && read_time(text, pos, time, nanos) && pos == text.size()) return time;
  pos = 0;
  if (!read_date(text, pos, date)) return std::nullopt;
  if (pos == text.size()) {
    if (column == TypeCode::kDBDate) return date;
    return Timestamp{date, {}, 0};
  }
  if (text[pos] != ' ' && text[pos] != 'T') return std::nullopt;
  ++pos;
  if (!read_time(text, pos, time, nanos)) return std::nullopt;
  if (pos < text.size() && text[pos] == 'Z') ++pos;
  if (pos != text.size()) return std::nullopt;
  return Timestamp{date, time, nanos};
}

std::string two(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string iso_date(const Date& d) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buffer;
}

std::string iso_time(const Time& t, std::int32_t nanos) {
  std::string out = two(t.hour) + ":" + two(t.minute) + ":" + two(t.second);
  if (nanos > 0) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, ".%09d", nanos);
    std::string fraction = buffer;
    while (fraction.back() == '0') fraction.pop_back();
    out += fraction;
  }
  return out;
}

std::string decimal_text(double value) {
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return std::to_string(value);
  return std::string(buffer, result.ptr);
}

// ---------------------------------------------------------------------------------------------
// The shared connection state

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

class SqliteCursor;

// Shared by the driver and its cursors, so that a cursor can tell that its connection is gone.
struct Database {
  sqlite3* handle = nullptr;
  std::string name;
  // Set when the file was opened as it lies (see open_as_it_lies): what says that it changed since.
  struct Stamp {
    std::string path;
    std::filesystem::file_time_type written;
    std::uintmax_t size = 0;
  };
  std::optional<Stamp> as_it_lay;
  std::vector<SqliteCursor*> cursors;
  int default_busy_ms = kDefaultBusyMilliseconds;
  int busy_ms = -1;
  Clock::time_point deadline;
  bool timed_out = false;

  ~Database() { close(); }
  void close() noexcept;
  void set_busy(int milliseconds) {
    if (milliseconds != busy_ms) {
      sqlite3_busy_timeout(handle, milliseconds);
      busy_ms = milliseconds;
    }
  }
};

[[noreturn]] void throw_error(sqlite3* db, int rc, std::string_view suffix = {}) {
  const int code = db != nullptr ? sqlite3_extended_errcode(db) : rc;
  std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  message += suffix;
  std::string state = sqlite_sqlstate(code, message);
  throw DriverError(std::move(state), code, std::move(message));
}

[[noreturn]] void throw_statement_error(Database& db, int rc) {
  if ((rc & 0xFF) == SQLITE_INTERRUPT && db.timed_out) {
    throw_error(db.handle, rc, " (the command time-out expired)");
  }
  throw_error(db.handle, rc);
}

// Arms the command time-out for the length of one call.
class DeadlineScope {
 public:
  DeadlineScope(Database& db, int seconds) : db_(db), armed_(seconds > 0) {
    db_.timed_out = false;
    if (!armed_) return;
    db_.deadline = Clock::now() + std::chrono::seconds(seconds);
    sqlite3_progress_handler(db_.handle, kProgressSteps, &DeadlineScope::on_progress, &db_);
  }
  ~DeadlineScope() {
    if (armed_ && db_.handle != nullptr) sqlite3_progress_handler(db_.handle, 0, nullptr, nullptr);
  }
  DeadlineScope(const DeadlineScope&) = delete;
  DeadlineScope& operator=(const DeadlineScope&) = delete;

 private:
  static int on_progress(void* context) {
    auto* db = static_cast<Database*>(context);
    if (Clock::now() < db->deadline) return 0;
    db->timed_out = true;
    return 1;
  }
  Database& db_;
  bool armed_;
};

// How a column's stored values are handed out.
enum class Reading { kAsStored, kBoolean, kDecimal, kTemporal, kText };

Reading reading_for(TypeCode type) {
  switch (type) {
    case TypeCode::kBoolean:
      return Reading::kBoolean;
    case TypeCode::kNumeric:
    case TypeCode::kCurrency:
      return Reading::kDecimal;
    case TypeCode::kDBDate:
    case TypeCode::kDBTime:
    case TypeCode::kDBTimeStamp:
      return Reading::kTemporal;
    case TypeCode::kChar:
    case TypeCode::kWChar:
    case TypeCode::kVarChar:
    case TypeCode::kVarWChar:
    case TypeCode::kLongVarChar:
    case TypeCode::kLongVarWChar:
      return Reading::kText;
    default:
      return Reading::kAsStored;
  }
}

void assign_text(Value& cell, const char* text, std::size_t size) {
  if (auto* existing = std::get_if<std::string>(&cell)) {
    existing->assign(text, size);
  } else {
    cell.emplace<std::string>(text, size);
  }
}

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(std::shared_ptr<Database> db, StatementPtr statement, bool has_row)
      : db_(std::move(db)), statement_(std::move(statement)), pending_(has_row) {
    describe();
    db_->cursors.push_back(this);
    if (!has_row) release();
  }
  ~SqliteCursor() override { close(); }

  const std::vector<ColumnInfo>& columns() const override { return columns_; }
  const std::vector<Value>& row() const override { return row_; }

  bool fetch() override {
    if (pending_) {
      pending_ = false;
      load_row();
      return true;
    }
    if (statement_ == nullptr) {
      if (closed_) throw DriverError("HY010", 0, "The recordset's cursor is closed");
      return false;
    }
    const int rc = sqlite3_step(statement_.get());
    if (rc == SQLITE_ROW) {
      load_row();
      return true;
    }
    if (rc == SQLITE_DONE) {
      release();
      return false;
    }
    // The statement's own error code; the connection's may already describe a later call.
    const int code = sqlite3_extended_errcode(db_->handle);
    std::string message = sqlite3_errmsg(db_->handle);
    release();
    std::string state = sqlite_sqlstate(code, message);
    throw DriverError(std::move(state), code, std::move(message));
  }

  void close() noexcept override {
    release();
    closed_ = true;
    pending_ = false;
    row_.clear();
    auto& list = db_->cursors;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }

  // The connection closes: the statement must go before the database handle does.
  void detach() noexcept {
    release();
    closed_ = true;
    pending_ = false;
    row_.clear();
  }

 private:
  void release() noexcept { statement_.reset(); }

  void describe() {
    sqlite3_stmt* st = statement_.get();
    const int count = sqlite3_column_count(st);
    columns_.resize(count);
    readings_.resize(count);
    row_.resize(count);
    for (int i = 0; i < count; ++i) {
      ColumnInfo& column = columns_[i];
      column.name = sqlite3_column_name(st, i) ? sqlite3_column_name(st, i) : "";
      const char* declared = sqlite3_column_decltype(st, i);
      DeclaredType type = sqlite_declared_type(declared ? declared : "");
      if (type.type == TypeCode::kEmpty) type = type_of_value(st, i);
      column.type = type.type;
      column.defined_size = type.defined_size;
      column.precision = type.precision;
      column.scale = type.scale;
      readings_[i] = reading_for(type.type);

      const char* table = sqlite3_column_table_name(st, i);
      const char* origin = sqlite3_column_origin_name(st, i);
      const char* schema = sqlite3_column_database_name(st, i);
      if (table == nullptr || origin == nullptr) continue;
      column.base_table = table;
      column.base_column = origin;
      int not_null = 0, primary_key = 0, auto_increment = 0;
      if (sqlite3_table_column_metadata(db_->handle, schema, table, origin, nullptr, nullptr, &not_null,
                                        &primary_key, &auto_increment) == SQLITE_OK) {
        column.nullable = not_null == 0;
        column.key_column = primary_key != 0;
        column.auto_increment = auto_increment != 0;
      }
      const std::string name = upper(origin);
      if (name == "ROWID" || name == "OID" || name == "_ROWID_") {
        column.row_id = true;
        column.key_column = true;
        column.nullable = false;
      }
    }
  }

  // A column without a declared type (an expression) takes the type of its first value.
  DeclaredType type_of_value(sqlite3_stmt* st, int i) const {
    if (!pending_) return {TypeCode::kVarWChar, kUnboundedSize, 0, 0};
    switch (sqlite3_column_type(st, i)) {
      case SQLITE_INTEGER: {
        const auto value = sqlite3_column_int64(st, i);
        if (value >= INT32_MIN && value <= INT32_MAX) return {TypeCode::kInteger, 4, 10, 0};
        return {TypeCode::kBigInt, 8, 19, 0};
      }
      case SQLITE_FLOAT:
        return {TypeCode::kDouble, 8, 15, 0};
      case SQLITE_BLOB:
        return {TypeCode::kLongVarBinary, kUnboundedSize, 0, 0};
      default:
        return {TypeCode::kVarWChar, kUnboundedSize, 0, 0};
    }
  }

  void load_row() {
    sqlite3_stmt* st = statement_.get();
    // Each column is read through its value object: on a connection opened without a mutex, as
    // ours are, a column's value may be read directly, without the checks every sqlite3_column_*
    // call repeats (a tenth of a row's cost on a walk).
    for (std::size_t i = 0; i < row_.size(); ++i) {
      sqlite3_value* value = sqlite3_column_value(st, static_cast<int>(i));
      Value& cell = row_[i];
      const int stored = sqlite3_value_type(value);
      if (stored == SQLITE_NULL) {
        cell.emplace<Null>();
        continue;
      }
      if (stored == SQLITE_BLOB) {
        const auto* data = static_cast<const unsigned char*>(sqlite3_value_blob(value));
        const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
        cell.emplace<Bytes>(data, data + size);
        continue;
      }
      switch (readings_[i]) {
        case Reading::kText:
          break;
        case Reading::kBoolean:
          if (stored == SQLITE_INTEGER || stored == SQLITE_FLOAT) {
            cell = sqlite3_value_double(value) != 0.0;
            continue;
          }
          break;
        case Reading::kDecimal:
          if (stored == SQLITE_INTEGER) {
            cell = Decimal{std::to_string(sqlite3_value_int64(value))};
            continue;
          }
          if (stored == SQLITE_FLOAT) {
            cell = Decimal{decimal_text(sqlite3_value_double(value))};
            continue;
          }
          break;
        case Reading::kTemporal:
          if (stored == SQLITE_TEXT) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            const std::string_view view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
            // Written in place when the cell already holds a timestamp, as it does from the second row.
            auto* held = std::get_if<Timestamp>(&cell);
            Timestamp stamp;
            if (read_canonical_timestamp(view, held != nullptr ? *held : stamp)) {
              if (held == nullptr) cell = stamp;
              continue;
            }
            if (auto parsed = parse_temporal(view, columns_[i].type)) {
              cell = std::move(*parsed);
              continue;
            }
          }
          [[fallthrough]];
        case Reading::kAsStored:
          if (stored == SQLITE_INTEGER) {
            cell = static_cast<std::int64_t>(sqlite3_value_int64(value));
            continue;
          }
          if (stored == SQLITE_FLOAT) {
            cell = sqlite3_value_double(value);
            continue;
          }
          break;
      }
      // Text, or a number in a text column: SQLite's own text form.
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      assign_text(cell, text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
    }
  }

  std::shared_ptr<Database> db_;
  StatementPtr statement_;
  bool pending_;
  bool closed_ = false;
  std::vector<ColumnInfo> columns_;
  std::vector<Reading> readings_;
  std::vector<Value> row_;
};

void Database::close() noexcept {
  const auto open_cursors = cursors;
  for (SqliteCursor* cursor : open_cursors) cursor->detach();
  if (handle != nullptr) {
    if (!sqlite3_get_autocommit(handle)) sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(handle);
    handle = nullptr;
  }
}

// Whether only blanks, ";" and comments are left: the statement before is the last one.
bool only_trivia(const char* text, const char* end) {
  while (text < end) {
    const char c = *text;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == ';') {
      ++text;
    } else if (c == '-' && text + 1 < end && text[1] == '-') {
      while (text < end && *text != '\n') ++text;
    } else if (c == '/' && text + 1 < end && text[1] == '*') {
      text += 2;
      while (text + 1 < end && !(text[0] == '*' && text[1] == '/')) ++text;
      text = std::min(text + 2, end);
    } else {
      return false;
    }
  }
  return true;
}

void bind(sqlite3* db, sqlite3_stmt* statement, int index, const Value& value) {
  int rc = SQLITE_OK;
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) {
          rc = sqlite3_bind_null(statement, index);
        } else if constexpr (std::is_same_v<T, bool>) {
          rc = sqlite3_bind_int(statement, index, v ? 1 : 0);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          rc = sqlite3_bind_int64(statement, index, v);
        } else if constexpr (std::is_same_v<T, double>) {
          rc = sqlite3_bind_double(statement, index, v);
        } else if constexpr (std::is_same_v<T, Decimal>) {
          rc = sqlite3_bind_text64(statement, index, v.text.data(), v.text.size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8);
        } else if constexpr (std::is_same_v<T, std::string>) {
          rc = sqlite3_bind_text64(statement, index, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        } else if constexpr (std::is_same_v<T, Bytes>) {
          // An empty vector may have no storage, and a null pointer would bind NULL.
          rc = v.empty() ? sqlite3_bind_zeroblob(statement, index, 0)
                         : sqlite3_bind_blob64(statement, index, v.data(), v.size(), SQLITE_TRANSIENT);
        } else {
          std::string text;
          if constexpr (std::is_same_v<T, Date>) {
            text = iso_date(v);
          } else if constexpr (std::is_same_v<T, Time>) {
            text = iso_time(v, 0);
          } else {
            text = iso_date(v.date) + " " + iso_time(v.time, v.nanosecond);
          }
          rc = sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
      },
      value);
  if (rc != SQLITE_OK) throw_error(db, rc);
}

// A file path as the path of an SQLite URI: the characters that the URI form reads itself
// ("?", "#", "%") and everything outside plain ASCII are percent-encoded.
std::string uri_path(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '?' || c == '#' || c == '%') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::string file_stem(const std::string& path) {
  if (path == ":memory:") return path;
  return std::filesystem::path(path).stem().string();
}

class SqliteDriver final : public Driver {
 public:
  ~SqliteDriver() override { close(); }

  std::vector<Diagnostic> open(const ConnectionString& connection, const OpenOptions& options) override {
    if (is_open()) throw DriverError("08002", 0, "The connection is already open");
    const std::string source = connection.get("Data Source");
    if (source.empty()) throw DriverError("08001", 0, "Data Source names no SQLite database file");
    const bool create = create_if_missing(connection);
    const std::string path =
        sqlite_database_path(source, platform::Facility<platform::ModulePath>::get().module().folder);

    auto db = std::make_shared<Database>();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(path.c_str(), &db->handle, flags, nullptr);
    if (rc != SQLITE_OK) {
      const int code = db->handle != nullptr ? sqlite3_extended_errcode(db->handle) : rc;
      const int system_error = db->handle != nullptr ? sqlite3_system_errno(db->handle) : 0;
      // As a server answers for an unknown database: a mistyped name must not become a new,
      // empty database that the program then fills unnoticed.
      if (!create && (code & 0xFF) == SQLITE_CANTOPEN && system_error == ENOENT) {
        throw DriverError("08001", code,
                          "The SQLite database file \"" + path + "\" does not exist (add " +
                              kCreateIfMissing + "=True to the connection string to create it)");
      }
      std::string message = db->handle != nullptr ? sqlite3_errmsg(db->handle) : sqlite3_errstr(rc);
      message += ": " + path;
      if (system_error != 0) message += std::string(" (") + std::strerror(system_error) + ")";
      std::string state = sqlite_sqlstate(code, message);
      throw DriverError(std::move(state), code, std::move(message));
    }
    sqlite3_extended_result_codes(db->handle, 1);
    db->default_busy_ms =
        options.timeout_seconds > 0 ? milliseconds(options.timeout_seconds) : kDefaultBusyMilliseconds;
    db->set_busy(db->default_busy_ms);
    // A user who may only read the file cannot change its journal mode, and asking is a write.
    const bool writable = sqlite3_db_readonly(db->handle, "main") == 0;
    const bool switched = writable && run_pragma(*db, "PRAGMA journal_mode=WAL", /*tolerate_read_only=*/true);
    // The first read of the file: a file that is not a database fails now. The journal mode
    // pragma read it already.
    if (!switched) {
      const int read = sqlite3_exec(db->handle, "PRAGMA schema_version", nullptr, nullptr, nullptr);
      std::error_code ec;
      const bool wal_left = read != SQLITE_OK && std::filesystem::exists(path + "-wal", ec);
      if (read != SQLITE_OK && !wal_left &&
          sqlite3_extended_errcode(db->handle) == SQLITE_READONLY_DIRECTORY) {
        db = open_as_it_lies(path, db->default_busy_ms);
      } else if (read != SQLITE_OK) {
        throw_error(db->handle, read,
                    wal_left && !std::filesystem::exists(path + "-shm", ec)
                        ? " (this WAL database has a -wal file but no -shm file, and its folder does not let "
                          "this user make one: a program that may write there must open it first)"
                        : "");
      }
    }
    run_pragma(*db, "PRAGMA synchronous=NORMAL", false);
    db->name = file_stem(path);
    db_ = std::move(db);
    return {};
  }

  void close() noexcept override {
    if (db_ != nullptr) {
      db_->close();
      db_.reset();
    }
  }

  bool is_open() const override { return db_ != nullptr; }

  ExecuteResult execute(std::string_view sql, std::span<const Value> parameters,
                        const ExecuteOptions& options) override {
    Database& db = require_open();
    check_unchanged(db);
    const int lock_wait =
        options.lock_timeout_seconds > 0 ? options.lock_timeout_seconds : options.timeout_seconds;
    db.set_busy(lock_wait > 0 ? milliseconds(lock_wait) : db.default_busy_ms);
    DeadlineScope deadline(db, options.timeout_seconds);

    // The text ends at its first NUL, as the server drivers read it: SQLite's parser stops there
    // too, and the rest could never be reached.
    sql = sql.substr(0, sql.find('\0'));
    ExecuteResult result;
    std::size_t next_parameter = 0;
    const char* text = sql.data();
    const char* const end = sql.data() + sql.size();
    bool ran_any = false;
    while (text < end) {
      sqlite3_stmt* raw = nullptr;
      const char* rest = nullptr;
      const int rc = sqlite3_prepare_v2(db.handle, text, static_cast<int>(end - text), &raw, &rest);
      if (rc != SQLITE_OK) throw_statement_error(db, rc);
      StatementPtr statement(raw);
      if (rest == nullptr || rest <= text) break;  // nothing consumed: nothing more can run
      text = rest;
      if (raw == nullptr) continue;  // only a comment
      ran_any = true;
      const bool last = only_trivia(rest, end);

      const int markers = sqlite3_bind_parameter_count(raw);
      if (next_parameter + markers > parameters.size() ||
          (last && next_parameter + markers < parameters.size())) {
        throw DriverError("07002", 0,
                          "The statement has " + std::to_string(next_parameter + markers) +
                              " parameter markers but " + std::to_string(parameters.size()) +
                              " parameters were given");
      }
      for (int i = 1; i <= markers; ++i) bind(db.handle, raw, i, parameters[next_parameter++]);

      const auto changes_before = sqlite3_total_changes64(db.handle);
      int step = sqlite3_step(raw);
      const bool has_columns = sqlite3_column_count(raw) > 0;
      if (last && has_columns && (step == SQLITE_ROW || step == SQLITE_DONE)) {
        result.cursor = std::make_unique<SqliteCursor>(db_, std::move(statement), step == SQLITE_ROW);
        return result;
      }
      while (step == SQLITE_ROW) step = sqlite3_step(raw);
      if (step != SQLITE_DONE) throw_statement_error(db, step);
      result.rows_affected =
          sqlite3_total_changes64(db.handle) != changes_before ? sqlite3_changes64(db.handle) : 0;
    }
    if (!ran_any) {
      if (!parameters.empty()) throw DriverError("07002", 0, "Parameters were given for an empty statement");
      result.rows_affected = 0;
    }
    return result;
  }

  std::vector<Diagnostic> begin() override {
    Database& db = require_open();
    if (in_transaction()) throw DriverError("25000", 0, "A transaction is already active on this connection");
    db.set_busy(db.default_busy_ms);
    exec(db, "BEGIN IMMEDIATE");
    return {};
  }

  std::vector<Diagnostic> commit() override {
    Database& db = require_transaction();
    exec(db, "COMMIT");
    return {};
  }

  std::vector<Diagnostic> rollback() override {
    Database& db = require_transaction();
    exec(db, "ROLLBACK");
    return {};
  }

  bool in_transaction() const override { return db_ != nullptr && !sqlite3_get_autocommit(db_->handle); }

  std::string database_name() const override { return db_ != nullptr ? db_->name : std::string(); }
  std::string dbms_name() const override { return db_ != nullptr ? "SQLite" : std::string(); }

 private:
  Database& require_open() {
    if (db_ == nullptr) throw DriverError("08003", 0, "The connection is not open");
    return *db_;
  }

  Database& require_transaction() {
    Database& db = require_open();
    if (!in_transaction()) throw DriverError("25000", 0, "No transaction is active on this connection");
    return db;
  }

  static void exec(Database& db, const char* sql) {
    const int rc = sqlite3_exec(db.handle, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw_error(db.handle, rc);
  }

  // False when the pragma was refused as a write to a database that can only be read: it still
  // serves reads in the journal mode it already has.
  static bool run_pragma(Database& db, const char* sql, bool tolerate_read_only) {
    const int rc = sqlite3_exec(db.handle, sql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return true;
    if (tolerate_read_only && (rc & 0xFF) == SQLITE_READONLY) return false;
    throw_error(db.handle, rc);
  }

  // A reader of a WAL database needs its -shm file, and makes one when there is none. In a folder
  // this user may only read, with no program having the database open (so no -shm and no -wal:
  // every committed change is in the file itself), the file is read as it lies, without the
  // -shm file and without locks. Such a connection sees no writer, so once one has opened the
  // database (its -wal file is there) or changed the file, the connection refuses statements
  // (see check_unchanged) rather than read pages a checkpoint may be rewriting.
  static std::shared_ptr<Database> open_as_it_lies(const std::string& path, int busy_ms) {
    auto db = std::make_shared<Database>();
    std::error_code ec;
    db->as_it_lay = Database::Stamp{path, std::filesystem::last_write_time(path, ec),
                                    std::filesystem::file_size(path, ec)};
    const std::string uri = "file:" + uri_path(path) + "?immutable=1";
    const int rc = sqlite3_open_v2(uri.c_str(), &db->handle,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) throw_error(db->handle, rc, ": " + path);
    sqlite3_extended_result_codes(db->handle, 1);
    db->default_busy_ms = busy_ms;
    db->set_busy(busy_ms);
    const int read = sqlite3_exec(db->handle, "PRAGMA schema_version", nullptr, nullptr, nullptr);
    if (read != SQLITE_OK) throw_error(db->handle, read);
    return db;
  }

  static void check_unchanged(const Database& db) {
    if (!db.as_it_lay) return;
    const auto& stamp = *db.as_it_lay;
    std::error_code ec;
    if (!std::filesystem::exists(stamp.path + "-wal", ec) &&
        std::filesystem::last_write_time(stamp.path, ec) == stamp.written &&
        std::filesystem::file_size(stamp.path, ec) == stamp.size && !ec) {
      return;
    }
    throw DriverError("HY000", 0,
                      "The database was opened for reading as it lay, while no program had it open; a "
                      "program has written to it since: connect again to read it");
  }

  std::shared_ptr<Database> db_;
};

}  // namespace

std::unique_ptr<Driver> make_sqlite_driver() { return std::make_unique<SqliteDriver>(); }

// A copied application folder takes its databases along; the working folder is whatever the
// program was started from and never counts. ".." is left to the file system, exactly as the
// settings folder is found.
std::string sqlite_database_path(const std::string& source, std::string library_folder) {
  if (source.empty() || source == ":memory:" || source.front() == '/') return source;
  if (library_folder.empty()) {
    throw DriverError(
        "08001", 0,
        "The application folder is unknown, so the relative Data Source \"" + source + "\" names no file");
  }
  if (library_folder.back() != '/') library_folder += '/';
  return library_folder + "../" + source;
}

std::string sqlite_sqlstate(int extended_code, std::string_view message) {
  switch (extended_code & 0xFF) {
    case SQLITE_CONSTRAINT:
      return "23000";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "HYT00";
    case SQLITE_CANTOPEN:
      return "08001";
    case SQLITE_NOTADB:
      return "08004";
    case SQLITE_READONLY:
      return "25006";
    case SQLITE_INTERRUPT:
      return "HY008";
    case SQLITE_TOOBIG:
      return "22001";
    case SQLITE_MISMATCH:
      return "22018";
    case SQLITE_RANGE:
      return "07009";
    case SQLITE_NOMEM:
      return "HY001";
    case SQLITE_MISUSE:
      return "HY010";
    case SQLITE_AUTH:
    case SQLITE_PERM:
      return "42000";
    case SQLITE_ERROR:
      break;
    default:
      return "HY000";
  }
  if (contains(message, "no such table") || contains(message, "no such view")) return "42S02";
  if (contains(message, "no such column") || contains(message, "has no column named")) return "42S22";
  if (contains(message, "already exists")) {
    return contains(message, "index") ? "42S11" : "42S01";
  }
  if (contains(message, "no such index")) return "42S12";
  if (contains(message, "duplicate column name")) return "42S21";
  if (contains(message, "syntax error") || contains(message, "incomplete input") ||
      contains(message, "unrecognized token") || contains(message, "no such function") ||
      contains(message, "wrong number of arguments") || contains(message, "ambiguous column name") ||
      contains(message, "values for") || contains(message, "misuse of")) {
    return "42000";
  }
  return "HY000";
}

DeclaredType sqlite_declared_type(std::string_view declared) {
  const std::string text = upper(declared);
  const auto paren = text.find('(');
  // Collapse runs of blanks so that "DOUBLE  PRECISION" is a known name.
  std::string name;
  for (const char c : std::string_view(text).substr(0, paren)) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (blank) {
      if (!name.empty() && name.back() != ' ') name.push_back(' ');
    } else {
      name.push_back(c);
    }
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return {TypeCode::kEmpty, 0, 0, 0};
  const auto args = paren == std::string::npos ? std::vector<std::int64_t>{}
                                               : type_arguments(std::string_view(text).substr(paren));

  for (const NameRule& rule : kNamedTypes) {
    if (rule.name != name) continue;
    DeclaredType type{rule.type, rule.size, rule.precision, rule.scale};
    if (type.type == TypeCode::kNumeric) {
      if (!args.empty()) type.precision = static_cast<int>(args[0]);
      if (args.size() > 1) type.scale = static_cast<int>(args[1]);
    } else if (rule.size == -1 || rule.size == 1) {
      // Character and binary types: the length given, or the long form without one.
      if (!args.empty()) {
        type.defined_size = args[0];
      } else if (rule.size == -1) {
        type.type = long_form(rule.type);
        type.defined_size = kUnboundedSize;
      }
    }
    return type;
  }

  // SQLite's affinity rules, in their order.
  if (contains(name, "INT")) return {TypeCode::kInteger, 4, 10, 0};
  if (contains(name, "CHAR") || contains(name, "CLOB") || contains(name, "TEXT")) {
    if (!args.empty()) return {TypeCode::kVarWChar, args[0], 0, 0};
    return {TypeCode::kLongVarChar, kUnboundedSize, 0, 0};
  }
  if (contains(name, "BLOB")) return {TypeCode::kLongVarBinary, kUnboundedSize, 0, 0};
  if (contains(name, "REAL") || contains(name, "FLOA") || contains(name, "DOUB")) {
    return {TypeCode::kDouble, 8, 15, 0};
  }
  DeclaredType numeric{TypeCode::kNumeric, 19, 0, 0};
  if (!args.empty()) numeric.precision = static_cast<int>(args[0]);
  if (args.size() > 1) numeric.scale = static_cast<int>(args[1]);
  return numeric;
}

}  // namespace ovik::access
