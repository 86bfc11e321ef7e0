#include "ovik/variant.h"

#include <cmath>
#include <limits>

#include "ovik/error.h"
#include "platform/clock.h"
#include "platform/locale_rules.h"
#include "platform/ascii.h"

namespace ovik {

namespace pl = ovik::platform;

const char* var_type_name(VarType type) noexcept {
  switch (type) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::Currency: return "Currency";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::Object: return "Object";
    case VarType::Boolean: return "Boolean";
    case VarType::Variant: return "Variant";
    case VarType::Byte: return "Byte";
    case VarType::LongLong: return "LongLong";
  }
  return "Unknown";
}

VarType Variant::type() const noexcept {
  static constexpr VarType kByIndex[] = {VarType::Empty,    VarType::Null,   VarType::Boolean, VarType::Byte,
                                         VarType::Integer,  VarType::Long,   VarType::LongLong, VarType::Single,
                                         VarType::Double,   VarType::Currency, VarType::Date,  VarType::String,
                                         VarType::Object};
  return kByIndex[v_.index()];
}

bool Variant::is_numeric() const noexcept {
  switch (type()) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::LongLong:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency: return true;
    default: return false;
  }
}

namespace {

[[noreturn]] void fail(pl::ConvStatus status) {
  raise_runtime_error(status == pl::ConvStatus::Overflow ? err::kOverflow : err::kTypeMismatch);
}

// The value of an object's default member, which the runtime uses wherever a plain value is needed.
Variant default_value(const Ref<IDispatch>& object) {
  if (!object) raise_runtime_error(err::kObjectNotSet);
  return object->Invoke(kDispidValue, InvokeKind::PropertyGet, {});
}

// A date written without its year takes the current one.
int current_year() { return pl::Facility<pl::Clock>::get().local_now().year; }

double currency_to_double(Currency c) { return static_cast<double>(c.scaled) / 10000.0; }

// A day count of the years 100 to 9999, wherever a date is converted to or from: civil_from_ole
// answers day zero for counts far outside them, and a year beyond four digits reads back as no date.
DateTime checked_date(double days) {
  if (!(days > -657435.0 && days < 2958466.0)) raise_runtime_error(err::kOverflow);
  double back = 0;
  if (!pl::ole_from_civil(pl::civil_from_ole(days), back)) raise_runtime_error(err::kOverflow);
  return DateTime{days};
}

float to_single(double value) {
  const float single = static_cast<float>(value);
  if (std::isinf(single) && std::isfinite(value)) raise_runtime_error(err::kOverflow);
  return single;
}

}  // namespace

double Variant::to_double() const {
  return std::visit(
      [this](const auto& v) -> double {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) return 0.0;
        else if constexpr (std::is_same_v<T, Null>) raise_runtime_error(err::kInvalidUseOfNull);
        else if constexpr (std::is_same_v<T, bool>) return v ? -1.0 : 0.0;
        else if constexpr (std::is_arithmetic_v<T>) return static_cast<double>(v);
        else if constexpr (std::is_same_v<T, Currency>) return currency_to_double(v);
        else if constexpr (std::is_same_v<T, DateTime>) return checked_date(v.days).days;
        else if constexpr (std::is_same_v<T, std::string>) {
          double d = 0;
          if (auto st = pl::parse_double(v, d); st != pl::ConvStatus::Ok) {
            // A date text is a number too for the runtime (its day count).
            if (auto date = pl::parse_date(v, current_year())) return date->ole;
            fail(st);
          }
          return d;
        } else {
          (void)this;
          return default_value(v).to_double();
        }
      },
      v_);
}

std::int64_t Variant::to_i64() const {
  if (auto* i = std::get_if<std::int64_t>(&v_)) return *i;
  if (auto* i = std::get_if<std::int32_t>(&v_)) return *i;
  if (auto* s = std::get_if<std::string>(&v_)) {
    // Exactly, not through a double: a LongLong has more digits than a double keeps.
    std::int64_t out = 0;
    const auto st = pl::parse_int64(*s, out);
    if (st == pl::ConvStatus::Ok) return out;
    if (st == pl::ConvStatus::Overflow) fail(st);
  }
  if (auto* c = std::get_if<Currency>(&v_)) {
    // Exact: round the scaled value half to even at the units.
    std::int64_t q = c->scaled / 10000, r = c->scaled % 10000;
    if (r > 5000 || (r == 5000 && (q & 1))) ++q;
    if (r < -5000 || (r == -5000 && (q & 1))) --q;
    return q;
  }
  std::int64_t out = 0;
  if (auto st = pl::double_to_int64(to_double(), out); st != pl::ConvStatus::Ok) fail(st);
  return out;
}

std::int32_t Variant::to_i32() const {
  if (auto* s = std::get_if<std::string>(&v_)) {
    std::int32_t out = 0;
    if (auto st = pl::parse_int32(*s, out); st == pl::ConvStatus::Ok) return out;
    else if (st == pl::ConvStatus::Overflow) fail(st);
  }
  std::int64_t v = to_i64();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    raise_runtime_error(err::kOverflow);
  return static_cast<std::int32_t>(v);
}

std::int16_t Variant::to_i16() const {
  std::int64_t v = to_i64();
  if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max())
    raise_runtime_error(err::kOverflow);
  return static_cast<std::int16_t>(v);
}

std::uint8_t Variant::to_byte() const {
  std::int64_t v = to_i64();
  if (v < 0 || v > 255) raise_runtime_error(err::kOverflow);
  return static_cast<std::uint8_t>(v);
}

Currency Variant::to_currency() const {
  if (auto* c = std::get_if<Currency>(&v_)) return *c;
  if (auto* s = std::get_if<std::string>(&v_)) {
    std::int64_t scaled = 0;
    if (auto st = pl::parse_currency(*s, scaled); st != pl::ConvStatus::Ok) fail(st);
    return Currency{scaled};
  }
  if (auto* i = std::get_if<std::int64_t>(&v_)) {
    if (*i > std::numeric_limits<std::int64_t>::max() / 10000 || *i < std::numeric_limits<std::int64_t>::min() / 10000)
      raise_runtime_error(err::kOverflow);
    return Currency{*i * 10000};
  }
  double d = to_double() * 10000.0;
  if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) raise_runtime_error(err::kOverflow);
  return Currency{static_cast<std::int64_t>(pl::round_half_even(d))};
}

bool Variant::to_bool() const {
  if (auto* b = std::get_if<bool>(&v_)) return *b;
  if (auto* s = std::get_if<std::string>(&v_)) {
    std::string_view t = *s;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    if (pl::ascii_iequals(t, "true")) return true;
    if (pl::ascii_iequals(t, "false")) return false;
    double d = 0;
    if (auto st = pl::parse_double(*s, d); st != pl::ConvStatus::Ok) fail(st);
    return d != 0.0;
  }
  if (auto* c = std::get_if<Currency>(&v_)) return c->scaled != 0;
  return to_double() != 0.0;
}

DateTime Variant::to_date() const {
  if (auto* d = std::get_if<DateTime>(&v_)) return checked_date(d->days);
  if (auto* s = std::get_if<std::string>(&v_)) {
    pl::ParsedDate parsed;
    const pl::ConvStatus status = pl::parse_date(*s, current_year(), parsed);
    if (status == pl::ConvStatus::Ok) return DateTime{parsed.ole};
    if (status == pl::ConvStatus::Overflow) fail(status);
    double d = 0;
    if (pl::parse_double(*s, d) == pl::ConvStatus::Ok) return checked_date(d);
    raise_runtime_error(err::kTypeMismatch);
  }
  if (auto* o = std::get_if<Ref<IDispatch>>(&v_)) return default_value(*o).to_date();
  return checked_date(to_double());
}

std::string Variant::to_string() const {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) return {};
        else if constexpr (std::is_same_v<T, Null>) raise_runtime_error(err::kInvalidUseOfNull);
        else if constexpr (std::is_same_v<T, bool>) return v ? "True" : "False";
        else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                           std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>)
          return std::to_string(v);
        else if constexpr (std::is_same_v<T, float>) return pl::format_double(static_cast<double>(v));
        else if constexpr (std::is_same_v<T, double>) return pl::format_double(v);
        else if constexpr (std::is_same_v<T, Currency>) return pl::format_currency(v.scaled);
        else if constexpr (std::is_same_v<T, DateTime>) return pl::format_date(checked_date(v.days).days);
        else if constexpr (std::is_same_v<T, std::string>) return v;
        else return default_value(v).to_string();
      },
      v_);
}

Ref<IDispatch> Variant::to_object() const {
  if (auto* o = std::get_if<Ref<IDispatch>>(&v_)) return *o;
  raise_runtime_error(err::kTypeMismatch);
}

Variant change_type(const Variant& value, VarType type) {
  switch (type) {
    case VarType::Empty: return Variant();
    case VarType::Null: return Variant(Null{});
    case VarType::Boolean: return Variant(value.to_bool());
    case VarType::Byte: return Variant(value.to_byte());
    case VarType::Integer: return Variant(value.to_i16());
    case VarType::Long: return Variant(value.to_i32());
    case VarType::LongLong: return Variant(value.to_i64());
    case VarType::Single: return Variant(to_single(value.to_double()));
    case VarType::Double: return Variant(value.to_double());
    case VarType::Currency: return Variant(value.to_currency());
    case VarType::Date: return Variant(value.to_date());
    case VarType::String: return Variant(value.to_string());
    case VarType::Object: return Variant(value.to_object());
    case VarType::Variant: return value;
  }
  raise_runtime_error(err::kTypeMismatch);
}

}  // namespace ovik
