#include "database/access/objects/values.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "database/access/objects/errors.h"
#include "ovik/data_access.h"
#include "ovik/error.h"
#include "platform/locale_rules.h"

namespace ovik::access {
namespace {

using namespace ovik::ado;

bool is_fixed_type(std::int32_t type) {
  switch (type) {
    case adSmallInt:
    case adInteger:
    case adSingle:
    case adDouble:
    case adCurrency:
    case adDate:
    case adBoolean:
    case adTinyInt:
    case adUnsignedTinyInt:
    case adBigInt:
    case 72:
    case adBinary:
    case adChar:
    case adWChar:
    case adNumeric:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp:
      return true;
    default:
      return false;
  }
}

std::int32_t clamp32(std::int64_t n) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(n, 0, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t default_precision(std::int32_t type) {
  switch (type) {
    case adTinyInt:
    case adUnsignedTinyInt:
      return 3;
    case adSmallInt:
      return 5;
    case adInteger:
      return 10;
    case adBigInt:
    case adCurrency:
      return 19;
    case adSingle:
      return 7;
    case adDouble:
      return 15;
    default:
      return 0;
  }
}

// Plain decimal text ("-12.5000") to a currency count; false when it has more than four
// significant decimals, is out of range, or is not plain decimal text.
bool exact_currency(std::string_view text, std::int64_t& scaled) {
  bool negative = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  const std::size_t dot = text.find('.', i);
  std::string_view whole = text.substr(i, dot == std::string_view::npos ? std::string_view::npos : dot - i);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  if ((whole.empty() && dot == std::string_view::npos) || fraction.size() > 4) return false;
  auto digits = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(whole) || !digits(fraction)) return false;
  // Accumulate negatively so the most negative currency value fits.
  std::int64_t value = 0;
  auto add_digit = [&](int d) {
    if (value < (std::numeric_limits<std::int64_t>::min() + d) / 10) return false;
    value = value * 10 - d;
    return true;
  };
  for (char c : whole)
    if (!add_digit(c - '0')) return false;
  for (std::size_t k = 0; k < 4; ++k)
    if (!add_digit(k < fraction.size() ? fraction[k] - '0' : 0)) return false;
  if (!negative) {
    if (value == std::numeric_limits<std::int64_t>::min()) return false;
    value = -value;
  }
  scaled = value;
  return true;
}

std::string currency_text(std::int64_t scaled) {
  const bool negative = scaled < 0;
  // Work on the magnitude as unsigned so the most negative value has one too.
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
  std::string text = std::to_string(magnitude / 10000);
  std::uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04u", static_cast<unsigned>(fraction));
    std::string digits(buffer);
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return negative ? "-" + text : text;
}

std::string shortest(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string iso_text(const Date& d, const Time& t) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, t.hour,
                t.minute, t.second);
  return buffer;
}

Variant date_variant(const Date& d, const Time& t) {
  double ole = 0;
  platform::CivilDateTime civil{d.year, d.month, d.day, t.hour, t.minute, t.second};
  if (platform::ole_from_civil(civil, ole)) return Variant(DateTime{ole});
  return Variant(iso_text(d, t));
}

Variant integer_variant(std::int64_t v, std::int32_t type) {
  const bool fits32 =
      v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
  switch (type) {
    case adBigInt:
      return Variant(v);
    case adSmallInt:
      if (v >= -32768 && v <= 32767) return Variant(static_cast<std::int16_t>(v));
      break;
    case adUnsignedTinyInt:
      if (v >= 0 && v <= 255) return Variant(static_cast<std::uint8_t>(v));
      break;
    case adBoolean:
      return Variant(v != 0);
    case adCurrency:
    case adNumeric:
      if (v >= -922337203685477 && v <= 922337203685477) return Variant(Currency{v * 10000});
      return Variant(static_cast<double>(v));
    case adSingle:
    case adDouble:
      return Variant(static_cast<double>(v));
    default:
      if (is_text_type(type)) return Variant(std::to_string(v));
      break;
  }
  return fits32 ? Variant(static_cast<std::int32_t>(v)) : Variant(v);
}

Value natural_value(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
      return Null{};
    case VarType::Boolean:
      return v.to_bool();
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::LongLong:
      return v.to_i64();
    case VarType::Single:
    case VarType::Double:
      return v.to_double();
    case VarType::Currency:
      return Decimal{currency_text(v.to_currency().scaled)};
    case VarType::Date: {
      const auto c = platform::civil_from_ole(v.to_date().days);
      return Timestamp{{c.year, c.month, c.day}, {c.hour, c.minute, c.second}, 0};
    }
    case VarType::String:
      return v.to_string();
    default:
      raise_runtime_error(err::kTypeMismatch);
  }
}

std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

bool is_text_type(std::int32_t type) {
  switch (type) {
    case adBSTR:
    case adChar:
    case adWChar:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar:
    case 72:
      return true;
    default:
      return false;
  }
}

bool is_long_type(std::int32_t type) {
  return type == adLongVarChar || type == adLongVarWChar || type == adLongVarBinary;
}

FieldDef field_from_column(const ColumnInfo& column, bool updatable) {
  FieldDef f;
  f.name = column.name;
  f.type = static_cast<std::int32_t>(column.type);
  f.defined_size = clamp32(column.defined_size);
  f.precision = column.precision;
  f.scale = column.scale;
  f.base_table = column.base_table;
  f.base_column = column.base_column;
  f.key = column.key_column || column.row_id;
  if (column.nullable) f.attributes |= adFldIsNullable | adFldMayBeNull;
  if (updatable && !column.base_column.empty()) f.attributes |= adFldUpdatable;
  if (f.key) f.attributes |= adFldKeyColumn;
  if (column.row_id) f.attributes |= adFldRowID;
  if (is_long_type(f.type)) f.attributes |= adFldLong;
  if (is_fixed_type(f.type)) f.attributes |= adFldFixed;
  return f;
}

FieldDef appended_field(std::string name, std::int32_t type, std::int32_t defined_size,
                        std::int32_t attributes) {
  FieldDef f;
  f.name = std::move(name);
  f.type = type;
  f.defined_size = defined_size;
  f.attributes = attributes;
  f.precision = default_precision(type);
  f.scale = type == adCurrency ? 4 : 0;
  return f;
}

Variant to_variant(const Value& value, std::int32_t type) {
  return std::visit(
      [type](const auto& v) -> Variant {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) {
          return Variant(ovik::Null{});
        } else if constexpr (std::is_same_v<T, bool>) {
          return Variant(v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return integer_variant(v, type);
        } else if constexpr (std::is_same_v<T, double>) {
          if (type == adSingle) return Variant(static_cast<float>(v));
          if (is_text_type(type)) return Variant(Variant(v).to_string());
          return Variant(v);
        } else if constexpr (std::is_same_v<T, Decimal>) {
          if (is_text_type(type)) return Variant(v.text);
          std::int64_t scaled = 0;
          if (exact_currency(v.text, scaled)) return Variant(Currency{scaled});
          double d = 0;
          auto [end, ec] = std::from_chars(v.text.data(), v.text.data() + v.text.size(), d);
          if (ec != std::errc()) return Variant(v.text);
          return Variant(d);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return Variant(v);
        } else if constexpr (std::is_same_v<T, Bytes>) {
          return Variant(std::string(v.begin(), v.end()));
        } else if constexpr (std::is_same_v<T, Date>) {
          return date_variant(v, Time{});
        } else if constexpr (std::is_same_v<T, Time>) {
          return date_variant(Date{1899, 12, 30}, v);
        } else {
          return date_variant(v.date, v.time);
        }
      },
      value);
}

Value from_variant(const Variant& value, const FieldDef& field) {
  if (value.is_empty() || value.is_null()) return Null{};
  switch (field.type) {
    case adSmallInt:
      return std::int64_t{value.to_i16()};
    case adInteger:
      return std::int64_t{value.to_i32()};
    case adTinyInt: {
      const std::int16_t n = value.to_i16();
      if (n < -128 || n > 127) raise_runtime_error(err::kOverflow);
      return std::int64_t{n};
    }
    case adUnsignedTinyInt:
      return std::int64_t{value.to_byte()};
    case adBigInt:
      return value.to_i64();
    case adSingle:
    case adDouble:
      return value.to_double();
    case adCurrency:
      return Decimal{currency_text(value.to_currency().scaled)};
    case adNumeric:
      switch (value.type()) {
        case VarType::Single:
        case VarType::Double:
          return Decimal{shortest(value.to_double())};
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong:
          return Decimal{std::to_string(value.to_i64())};
        default:
          return Decimal{currency_text(value.to_currency().scaled)};
      }
    case adBoolean:
      return value.to_bool();
    case adDate:
    case adDBTimeStamp:
    case adDBDate:
    case adDBTime: {
      const auto c = platform::civil_from_ole(value.to_date().days);
      if (field.type == adDBDate) return Date{c.year, c.month, c.day};
      if (field.type == adDBTime) return Time{c.hour, c.minute, c.second};
      return Timestamp{{c.year, c.month, c.day}, {c.hour, c.minute, c.second}, 0};
    }
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: {
      const std::string bytes = value.to_string();
      return Bytes(bytes.begin(), bytes.end());
    }
    default:
      break;
  }
  if (is_text_type(field.type)) {
    std::string text = value.to_string();
    if (field.defined_size > 0 && !is_long_type(field.type) &&
        code_points(text) > static_cast<std::size_t>(field.defined_size)) {
      throw RaisedError(kMultipleStepError, kSource,
                        "The value is too long for field " + field.name + " (" +
                            std::to_string(field.defined_size) + " characters allowed).");
    }
    return text;
  }
  return natural_value(value);
}

// ---- ColumnStore ----

ColumnStore::Kind ColumnStore::kind_of(const Value& value) {
  if (std::holds_alternative<Null>(value)) return Kind::kUnset;
  if (std::holds_alternative<std::int64_t>(value)) return Kind::kInteger;
  if (std::holds_alternative<double>(value)) return Kind::kReal;
  if (std::holds_alternative<std::string>(value)) return Kind::kText;
  return Kind::kGeneral;
}

void ColumnStore::reserve(std::size_t rows) {
  nulls_.reserve(rows);
  switch (kind_) {
    case Kind::kInteger:
      integers_.reserve(rows);
      break;
    case Kind::kReal:
      reals_.reserve(rows);
      break;
    case Kind::kText:
      texts_.reserve(rows);
      break;
    case Kind::kGeneral:
      general_.reserve(rows);
      break;
    case Kind::kUnset:
      break;
  }
}

void ColumnStore::become(Kind kind) {
  const std::size_t rows = size();
  if (kind_ == Kind::kUnset) {
    switch (kind) {
      case Kind::kInteger:
        integers_.assign(rows, 0);
        break;
      case Kind::kReal:
        reals_.assign(rows, 0.0);
        break;
      case Kind::kText:
        texts_.assign(rows, std::string());
        break;
      default:
        general_.assign(rows, Value{});
        break;
    }
    kind_ = kind == Kind::kUnset ? Kind::kGeneral : kind;
    return;
  }
  // A second kind of value: every row moves to the general form.
  std::vector<Value> general;
  general.reserve(std::max(rows, nulls_.capacity()));
  for (std::size_t i = 0; i < rows; ++i) general.push_back(get(i));
  integers_ = {};
  reals_ = {};
  texts_ = {};
  general_ = std::move(general);
  kind_ = Kind::kGeneral;
}

void ColumnStore::store(std::size_t row, const Value& value) {
  switch (kind_) {
    case Kind::kInteger:
      integers_[row] = std::get<std::int64_t>(value);
      break;
    case Kind::kReal:
      reals_[row] = std::get<double>(value);
      break;
    case Kind::kText:
      texts_[row] = std::get<std::string>(value);
      break;
    default:
      general_[row] = value;
      break;
  }
}

void ColumnStore::push(const Value& value) {
  const Kind kind = kind_of(value);
  if (kind != Kind::kUnset && kind != kind_ && kind_ != Kind::kGeneral)
    become(kind_ == Kind::kUnset ? kind : Kind::kGeneral);
  nulls_.push_back(kind == Kind::kUnset);
  switch (kind_) {
    case Kind::kInteger:
      integers_.push_back(kind == Kind::kUnset ? 0 : std::get<std::int64_t>(value));
      break;
    case Kind::kReal:
      reals_.push_back(kind == Kind::kUnset ? 0.0 : std::get<double>(value));
      break;
    case Kind::kText:
      if (kind == Kind::kUnset)
        texts_.emplace_back();
      else
        texts_.push_back(std::get<std::string>(value));
      break;
    case Kind::kGeneral:
      general_.push_back(value);
      break;
    case Kind::kUnset:
      break;
  }
}

void ColumnStore::set(std::size_t row, const Value& value) {
  const Kind kind = kind_of(value);
  if (kind == Kind::kUnset) {
    nulls_[row] = true;
    if (kind_ == Kind::kGeneral) general_[row] = Null{};
    return;
  }
  if (kind != kind_ && kind_ != Kind::kGeneral) become(kind_ == Kind::kUnset ? kind : Kind::kGeneral);
  nulls_[row] = false;
  store(row, value);
}

Value ColumnStore::get(std::size_t row) const {
  if (nulls_[row]) return Null{};
  switch (kind_) {
    case Kind::kInteger:
      return integers_[row];
    case Kind::kReal:
      return reals_[row];
    case Kind::kText:
      return texts_[row];
    case Kind::kGeneral:
      return general_[row];
    case Kind::kUnset:
      break;
  }
  return Null{};
}

Variant ColumnStore::variant(std::size_t row, std::int32_t type) const {
  if (nulls_[row]) return Variant(ovik::Null{});
  switch (kind_) {
    case Kind::kInteger:
      return to_variant(Value(integers_[row]), type);
    case Kind::kReal:
      return to_variant(Value(reals_[row]), type);
    case Kind::kText:
      return Variant(texts_[row]);
    case Kind::kGeneral:
      return to_variant(general_[row], type);
    case Kind::kUnset:
      break;
  }
  return Variant(ovik::Null{});
}

}  // namespace ovik::access
