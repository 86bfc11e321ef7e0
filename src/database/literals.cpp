// clsDatabase: SQL literals of numbers, dates and strings, and of field values by field type.
//
// The input is read by the user's number and date settings (it is what the user typed), but the
// output is SQL text: its decimal point is always ".", whatever the user's decimal separator, since
// a "," inside a values list would split one value into two.
#include <cstdint>
#include <string>

#include "database/access/connection_string.h"
#include "database/access/objects/connection.h"
#include "database/access/sql_text.h"
#include "database/database.h"
#include "ovik/error.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/locale_rules.h"

namespace ovik {

namespace {

// The library's number texts carry no group separators, so the user's decimal separator appears at
// most once and is the only thing to change.
std::string with_sql_decimal_point(std::string text) {
  const std::string& decimal = platform::user_locale().number.decimal;
  if (decimal == "." || decimal.empty()) return text;
  const std::size_t at = text.find(decimal);
  if (at == std::string::npos) return text;
  std::string out = text.substr(0, at);
  out += '.';
  out.append(text, at + decimal.size());
  return out;
}

bool holds_fractional_number(const Variant& value) {
  return value.get_if<double>() != nullptr || value.get_if<float>() != nullptr ||
         value.get_if<Currency>() != nullptr;
}

bool is_binary_type(std::int32_t type) {
  return type == ado::adBinary || type == ado::adVarBinary || type == ado::adLongVarBinary;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A number as SQL reads one: sign, digits, an optional fraction and exponent. Only such text may go
// into a statement unquoted; anything else could carry a separator, a quote or a second statement.
bool is_sql_number(std::string_view text) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && is_digit(text[i])) ++i;
    return i - start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

std::string hex_digits(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
  return out;
}

}  // namespace

std::string clsDatabase::NumConv(std::string& vdata, SqlStringParmitNullEnum flg) {
  if (vdata.empty()) return flg == SqlStringParmitNullEnum::FieldIsNotNullable ? "0" : "NULL";
  std::int64_t scaled = 0;
  switch (platform::parse_currency(vdata, scaled)) {
    case platform::ConvStatus::Ok:
      break;
    case platform::ConvStatus::TypeMismatch:
      raise_runtime_error(err::kTypeMismatch);
    case platform::ConvStatus::Overflow:
      raise_runtime_error(err::kOverflow);
  }
  return with_sql_decimal_point(platform::format_currency(scaled));
}

std::string clsDatabase::ReachedProduct() const {
  const auto* connection = dynamic_cast<const access::Connection*>(m_cnAdo.get());
  return connection != nullptr ? platform::ascii_lower(connection->dbms_name()) : std::string();
}

// MySQL and MariaDB read a backslash inside a string literal as an escape by default, so "\'"
// would end the literal early and let the rest of the value run as SQL: there the backslash is
// doubled too, which reads back as the caller's text. Every other database takes it as it stands.
std::string clsDatabase::SqlQuote(std::string_view text) const {
  return access::quote_string(
      text, text.find('\\') != std::string_view::npos && access::reads_backslash_escapes(ReachedProduct()));
}

std::string clsDatabase::VarConv(std::string vdata) {
  if (vdata.empty()) return "NULL";
  return SqlQuote(vdata);
}

std::string clsDatabase::DayConv(std::string& vdata) {
  platform::ParsedDate parsed;
  switch (platform::parse_date(vdata, platform::Facility<platform::Clock>::get().local_now().year, parsed)) {
    case platform::ConvStatus::Ok:
      break;
    case platform::ConvStatus::TypeMismatch:
      return "NULL";
    case platform::ConvStatus::Overflow:
      // A date the literal cannot hold is refused, never written as NULL in its place.
      raise_runtime_error(err::kOverflow);
  }
  std::string quoted = SqlQuote(platform::format_date_fixed(parsed.ole));
  switch (get_Provider()) {
    case ConnectedDatabaseTypeEnum::IsOracle:
      return "to_date(" + quoted + ",'YYYY/MM/DD HH24:MI:SS')";
    case ConnectedDatabaseTypeEnum::IsAccess:
      quoted.front() = '#';
      quoted.back() = '#';
      return quoted;
    default:
      return quoted;
  }
}

// Each database's own form, chosen by the provider the connection was opened with and, behind an
// ODBC source, by the product the driver names. A source that names nothing known is taken for
// PostgreSQL, the server this library reaches through ODBC; any other server refuses that form as
// a syntax error rather than storing something else. The escape-string form reads the same
// whatever standard_conforming_strings says.
std::string clsDatabase::BinaryLiteral(std::string_view bytes) {
  if (!m_cnAdo) raise_runtime_error(err::kObjectNotSet);
  const std::string hex = hex_digits(bytes);
  switch (access::classify_provider(m_cnAdo->get_Provider())) {
    case access::ProviderKind::kSqlite:
      return "X'" + hex + "'";
    case access::ProviderKind::kSqlServer:
    case access::ProviderKind::kAccess:
      return "0x" + hex;
    case access::ProviderKind::kOracle:
      return "hextoraw('" + hex + "')";
    case access::ProviderKind::kOdbc:
    case access::ProviderKind::kUnknown:
      break;
  }
  const std::string product = ReachedProduct();
  const auto names = [&](std::string_view what) { return product.find(what) != std::string::npos; };
  if (names("sql server")) return "0x" + hex;
  if (names("sqlite") || names("mysql") || names("mariadb")) return "X'" + hex + "'";
  if (names("oracle")) return "hextoraw('" + hex + "')";
  return "E'\\\\x" + hex + "'::bytea";
}

std::string clsDatabase::NullToEmpty(const Variant& value) {
  if (value.is_null()) return {};
  return value.to_string();
}

std::string clsDatabase::GetValueString(Variant Value, std::int32_t attrib) {
  std::string result;
  switch (classify_field_type(attrib)) {
    case FieldClass::Date: {
      std::string text = NullToEmpty(Value);
      result = DayConv(text);
      break;
    }
    case FieldClass::String:
      result = VarConv(NullToEmpty(Value));
      break;
    case FieldClass::Other:
      result = NullToEmpty(Value);
      if (result.empty()) break;
      if (is_binary_type(attrib)) {
        result = BinaryLiteral(result);
        break;
      }
      if (holds_fractional_number(Value)) result = with_sql_decimal_point(std::move(result));
      // Numbers and Booleans keep their text form; anything else (text in a numeric column, which
      // SQLite allows, a date) becomes a string literal for the database to take or refuse.
      if (Value.get_if<bool>() == nullptr && !is_sql_number(result)) result = SqlQuote(result);
      break;
  }
  if (result.empty()) return "Null";
  return result;
}

}  // namespace ovik
