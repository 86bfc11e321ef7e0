// clsDatabase: SQL literals of numbers, dates and strings, and of field values by field type.
//
// The input is read by the user's number and date settings (it is what the user typed), but the
// output is SQL text: its decimal point is always ".", whatever the user's decimal separator, since
// a "," inside a values list would split one value into two.
#include <cstdint>
#include <string>

#include "database/database.h"
#include "ovik/error.h"
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

std::string clsDatabase::SqlQuote(std::string_view text) const {
  std::string out;
  out.reserve(text.size() + 8);
  out += '\'';
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string clsDatabase::VarConv(std::string vdata) {
  if (vdata.empty()) return "NULL";
  return SqlQuote(vdata);
}

std::string clsDatabase::DayConv(std::string& vdata) {
  const auto parsed =
      platform::parse_date(vdata, platform::Facility<platform::Clock>::get().local_now().year);
  if (!parsed) return "NULL";
  std::string quoted = SqlQuote(platform::format_date_fixed(parsed->ole));
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
      if (holds_fractional_number(Value)) result = with_sql_decimal_point(std::move(result));
      break;
  }
  if (result.empty()) return "Null";
  return result;
}

}  // namespace ovik
