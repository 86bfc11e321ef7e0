// The SQL literals of clsDatabase (NumConv, DayConv, VarConv, GetValueString) on every kind of
// database and with the settings of several real locales. Nothing that leaves them can end a
// statement or start a comment, and each reads back as the value it was made from:
//  - On SQLite, "select <literal>" is prepared by SQLite itself: it must be one statement with
//    one result column that uses the whole text, and its value must be the input (the text of
//    VarConv, the bytes of a binary value, the date of DayConv). A literal holding a NUL may only
//    be refused as a whole, since the statement text ends there.
//  - On every kind, the literal is read with the rules that SQL Server, Oracle, Access and
//    PostgreSQL share for statement text: quotes (doubled inside), quoted names, the escape
//    strings E'...', comments; no ";" and no comment may stand outside a quote, and every quote
//    must close. The date and binary forms must have exactly their database's shape.
//  - NumConv writes the canonical number, which reads back (with "." as decimal point) as the
//    same Currency value that the input gave, whatever the user's separators.
//
// Input: one byte picking the member (bits 0-2), the kind of database (bits 3-5) and, with the
// next byte, the user's settings; then for NumConv a flag byte, for GetValueString a field type
// byte and a value (fuzz_values.h); then the text.
#include <sqlite3.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "database/database.h"
#include "database/fake_connection.h"
#include "fuzz_values.h"
#include "ovik/error.h"
#include "platform/clock.h"
#include "platform/locale_rules.h"

namespace {

using ovik::fuzz::check;
using ovik::fuzz::FixedClock;
namespace pl = ovik::platform;

enum class Kind { SQLite, SqlServer, Oracle, Access, Odbc };
struct Database {
  const char* provider;
  Kind kind;
};
constexpr Database kDatabases[] = {{"SQLite", Kind::SQLite},
                                   {"SQLOLEDB.1", Kind::SqlServer},
                                   {"OraOLEDB.Oracle.1", Kind::Oracle},
                                   {"Microsoft.Jet.OLEDB.4.0", Kind::Access},
                                   {"MSDASQL.1", Kind::Odbc}};

constexpr std::int32_t kFieldTypes[] = {0,   2,   3,   4,   5,   6,   7,   8,   11,  12,
                                        16,  17,  20,  72,  128, 129, 130, 131, 133, 134,
                                        135, 200, 201, 202, 203, 204, 205, 64,  -1};

struct Fixture {
  FixedClock clock;
  pl::ScopedFake<pl::Clock> clock_fake{clock};
  ovik::testing::FakeConnectionSource source;
  pl::ScopedFake<ovik::ConnectionSource> source_fake{source};
  ovik::Ref<ovik::clsDatabase> databases[std::size(kDatabases)];
  sqlite3* sqlite = nullptr;

  Fixture() {
    for (std::size_t i = 0; i < std::size(kDatabases); ++i) {
      source.provider = kDatabases[i].provider;
      databases[i] = ovik::make_object<ovik::clsDatabase>();
      check(databases[i]->Connect(std::string("Provider=") + kDatabases[i].provider,
                                  ovik::HowToConnectEnum::ConnectByConnectionString),
            "the fake connection opens");
    }
    check(sqlite3_open(":memory:", &sqlite) == SQLITE_OK, "SQLite opens");
  }
};

// Statement text as SQL Server, Oracle, Access and PostgreSQL read it: whether a ";" or a comment
// stands outside quotes, or a quote is left open. E'...' (PostgreSQL) takes backslash escapes. A
// NUL is read as any other byte: where a driver cuts the text there, it only refuses the statement.
bool could_end_a_statement(std::string_view sql) {
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == ';') return true;
    if ((c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') ||
        (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*'))
      return true;
    if (c == '\'' || c == '"') {
      const bool escapes = c == '\'' && i > 0 && (sql[i - 1] == 'E' || sql[i - 1] == 'e');
      bool closed = false;
      for (++i; i < sql.size(); ++i) {
        if (escapes && sql[i] == '\\') {
          ++i;
          continue;
        }
        if (sql[i] == c) {
          if (i + 1 < sql.size() && sql[i + 1] == c) {
            ++i;
            continue;
          }
          closed = true;
          break;
        }
      }
      if (!closed) return true;
    }
  }
  return false;
}

struct Prepared {
  bool ok = false;
  int type = SQLITE_NULL;
  std::string bytes;  // the value's text or blob bytes
};

// "select <literal>" as the SQLite driver runs it: the text ends at a NUL.
Prepared select_on_sqlite(sqlite3* db, const std::string& literal) {
  const std::string sql = "select " + literal.substr(0, literal.find('\0'));
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  Prepared out;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, &tail) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return out;
  }
  check(statement != nullptr, "a literal is a statement");
  check(std::string_view(tail).find_first_not_of(" \t\r\n") == std::string_view::npos,
        "the statement uses the whole literal");
  check(sqlite3_column_count(statement) == 1, "a literal is one column");
  check(sqlite3_step(statement) == SQLITE_ROW, "the literal's statement gives its row");
  out.ok = true;
  out.type = sqlite3_column_type(statement, 0);
  if (out.type == SQLITE_TEXT || out.type == SQLITE_BLOB) {
    const void* data = out.type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(statement, 0))
                                               : sqlite3_column_blob(statement, 0);
    out.bytes.assign(static_cast<const char*>(data),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, 0)));
  }
  sqlite3_finalize(statement);
  return out;
}

bool all_digits(std::string_view s) { return s.find_first_not_of("0123456789") == std::string_view::npos; }

// The "yyyy/mm/dd hh:mm:ss" text inside a date literal of `kind`, or "" when the shape is wrong.
std::string_view date_body(std::string_view literal, Kind kind) {
  std::string_view open = "'", close = "'";
  if (kind == Kind::Oracle) open = "to_date('", close = "','YYYY/MM/DD HH24:MI:SS')";
  if (kind == Kind::Access) open = close = "#";
  if (!literal.starts_with(open) || !literal.ends_with(close) ||
      literal.size() != open.size() + 19 + close.size())
    return {};
  const std::string_view body = literal.substr(open.size(), 19);
  const bool shaped = all_digits(body.substr(0, 4)) && body[4] == '/' && all_digits(body.substr(5, 2)) &&
                      body[7] == '/' && all_digits(body.substr(8, 2)) && body[10] == ' ' &&
                      all_digits(body.substr(11, 2)) && body[13] == ':' && all_digits(body.substr(14, 2)) &&
                      body[16] == ':' && all_digits(body.substr(17, 2));
  return shaped ? body : std::string_view();
}

void check_date_literal(Fixture& f, std::string_view literal, Kind kind, double expected_days) {
  const std::string_view body = date_body(literal, kind);
  check(!body.empty(), "a date literal has its database's shape");
  const pl::ScopedLocale japanese(pl::LocaleSettings{});
  const auto back = pl::parse_date(body, 2031);
  check(back.has_value(), "the date inside a literal is a valid date");
  const pl::CivilDateTime a = pl::civil_from_ole(back->ole), b = pl::civil_from_ole(expected_days);
  check(a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
            a.minute == b.minute && a.second == b.second,
        "a date literal holds the date it was made from");
  if (kind == Kind::SQLite) {
    const Prepared p = select_on_sqlite(f.sqlite, std::string(literal));
    check(p.ok && p.bytes == body, "SQLite reads the date literal");
  }
}

std::string hex_of(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 0x0F];
  }
  return out;
}

void check_num_conv(Fixture& f, ovik::clsDatabase& db, std::string text, bool nullable) {
  const auto flg = nullable ? ovik::SqlStringParmitNullEnum::FieldIsNullable
                            : ovik::SqlStringParmitNullEnum::FieldIsNotNullable;
  std::int64_t expected = 0;
  const pl::ConvStatus status = pl::parse_currency(text, expected);
  std::string literal;
  try {
    literal = db.NumConv(text, flg);
  } catch (const ovik::RaisedError& e) {
    check(!text.empty() && e.number() == (status == pl::ConvStatus::Overflow ? 6 : 13) &&
              status != pl::ConvStatus::Ok,
          "NumConv refuses only what is not a Currency number, with 13 or 6");
    return;
  }
  if (text.empty()) {
    check(literal == (nullable ? "NULL" : "0"), "NumConv of nothing");
    return;
  }
  check(status == pl::ConvStatus::Ok, "NumConv accepts only Currency numbers");
  // Canonical: "-", digits without leading zeros, a fraction of at most four digits without
  // trailing zeros; never "-0".
  const std::string_view digits = std::string_view(literal).substr(literal.starts_with('-') ? 1 : 0);
  const std::size_t point = digits.find('.');
  const std::string_view whole = digits.substr(0, point);
  check(!whole.empty() && all_digits(whole) && (whole == "0" || whole.front() != '0'),
        "NumConv's integer digits");
  if (point != std::string_view::npos) {
    const std::string_view fraction = digits.substr(point + 1);
    check(!fraction.empty() && fraction.size() <= 4 && all_digits(fraction) && fraction.back() != '0',
          "NumConv's fraction digits");
  }
  check(literal != "-0", "NumConv never writes -0");
  {
    const pl::ScopedLocale sql(pl::LocaleSettings{{".", ""}, {pl::DateOrder::YMD}});
    std::int64_t back = 0;
    check(pl::parse_currency(literal, back) == pl::ConvStatus::Ok && back == expected, "NumConv round-trips");
    std::string again = literal;
    check(db.NumConv(again, flg) == literal, "NumConv of its own result is the same");
  }
  check(!could_end_a_statement(literal), "a NumConv literal cannot end a statement");
  const Prepared p = select_on_sqlite(f.sqlite, literal);
  check(p.ok && (p.type == SQLITE_INTEGER || p.type == SQLITE_FLOAT), "SQLite reads NumConv as a number");
}

void check_var_conv(Fixture& f, ovik::clsDatabase& db, const std::string& text) {
  const std::string literal = db.VarConv(text);
  if (text.empty()) {
    check(literal == "NULL", "VarConv of nothing");
    return;
  }
  check(!could_end_a_statement(literal), "a VarConv literal cannot end a statement");
  const Prepared p = select_on_sqlite(f.sqlite, literal);
  if (text.find('\0') != std::string::npos) {
    check(!p.ok, "a statement cut at a NUL inside a quote is refused");
  } else {
    check(p.ok && p.type == SQLITE_TEXT && p.bytes == text, "SQLite reads VarConv back as the text");
  }
}

void check_day_conv(Fixture& f, ovik::clsDatabase& db, Kind kind, std::string text) {
  const std::string copy = text;
  pl::ParsedDate parsed;
  const pl::ConvStatus status = pl::parse_date(text, 2031, parsed);
  std::string literal;
  try {
    literal = db.DayConv(text);
  } catch (const ovik::RaisedError& e) {
    check(e.number() == 6 && status == pl::ConvStatus::Overflow,
          "DayConv refuses only dates outside the years 100 to 9999, with 6");
    return;
  }
  check(text == copy, "DayConv leaves its argument alone");
  check(status != pl::ConvStatus::Overflow, "DayConv refuses a date outside the years 100 to 9999");
  if (status != pl::ConvStatus::Ok) {
    check(literal == "NULL", "DayConv of what is not a date");
    return;
  }
  check(!could_end_a_statement(literal), "a DayConv literal cannot end a statement");
  check_date_literal(f, literal, kind, parsed.ole);
}

// A date value outside the years 100 to 9999, or such a date's text in a date field.
bool date_outside_the_years(const ovik::Variant& value, std::int32_t type) {
  if (value.type() == ovik::VarType::Date) {
    try {
      (void)value.to_date();
      return false;
    } catch (const ovik::RaisedError&) {
      return true;
    }
  }
  pl::ParsedDate parsed;
  return value.is_string() && ovik::classify_field_type(type) == ovik::FieldClass::Date &&
         pl::parse_date(*value.get_if<std::string>(), 2031, parsed) == pl::ConvStatus::Overflow;
}

void check_get_value_string(Fixture& f, ovik::clsDatabase& db, Kind kind, const ovik::Variant& value,
                            std::int32_t type) {
  std::string literal;
  try {
    literal = db.GetValueString(value, type);
  } catch (const ovik::RaisedError& e) {
    check(e.number() == 6 && date_outside_the_years(value, type),
          "GetValueString refuses only dates outside the years 100 to 9999, with 6");
    return;
  }
  check(!date_outside_the_years(value, type), "GetValueString refuses a date outside the years 100 to 9999");
  if (literal == "Null" || literal == "NULL") return;
  check(!could_end_a_statement(literal), "a GetValueString literal cannot end a statement");
  const ovik::FieldClass field_class = ovik::classify_field_type(type);
  const std::string text = value.to_string();
  if (field_class == ovik::FieldClass::Date) {
    const auto parsed = pl::parse_date(text, 2031);
    check(parsed.has_value(), "GetValueString writes a date only for a date");
    check_date_literal(f, literal, kind, parsed->ole);
    return;
  }
  const bool binary = type == 128 || type == 204 || type == 205;
  if (binary) {
    const std::string hex = hex_of(text);
    const std::string expected[] = {"X'" + hex + "'", "0x" + hex, "hextoraw('" + hex + "')", "0x" + hex,
                                    "E'\\\\x" + hex + "'::bytea"};
    check(literal == expected[static_cast<int>(kind)], "a binary value is its database's hex literal");
  }
  if (kind != Kind::SQLite) return;
  const Prepared p = select_on_sqlite(f.sqlite, literal);
  if (literal.find('\0') != std::string::npos) {
    check(!p.ok, "a statement cut at a NUL inside a quote is refused");
    return;
  }
  check(p.ok, "SQLite reads every literal");
  if (binary) {
    check(p.type == SQLITE_BLOB && p.bytes == text, "SQLite reads a binary literal back as the bytes");
  } else if (field_class == ovik::FieldClass::String || p.type == SQLITE_TEXT) {
    check(p.type == SQLITE_TEXT && p.bytes == text, "SQLite reads a quoted value back as its text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const unsigned choice = ovik::fuzz::take_byte(in);
  const std::size_t which = ((choice >> 3) & 7) % std::size(kDatabases);
  const pl::ScopedLocale locale(ovik::fuzz::settings_of(ovik::fuzz::take_byte(in)));
  ovik::clsDatabase& db = *fixture.databases[which];
  const Kind kind = kDatabases[which].kind;
  switch (choice & 7) {
    case 0: {
      const bool nullable = ovik::fuzz::take_byte(in) & 1;
      check_num_conv(fixture, db, std::string(in), nullable);
      break;
    }
    case 1:
      check_day_conv(fixture, db, kind, std::string(in));
      break;
    case 2:
      check_var_conv(fixture, db, std::string(in));
      break;
    default: {
      const std::int32_t type = kFieldTypes[ovik::fuzz::take_byte(in) % std::size(kFieldTypes)];
      const ovik::Variant value = ovik::fuzz::take_variant(in);
      if (value.is_null()) {
        (void)db.GetValueString(value, type);
      } else {
        check_get_value_string(fixture, db, kind, value, type);
      }
      break;
    }
  }
  return 0;
}
