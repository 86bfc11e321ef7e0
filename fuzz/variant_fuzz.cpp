// Variant conversions between every pair of types, text read by the locale rules of several real
// locales. A conversion either gives a value of the asked type or raises 13 (type mismatch),
// 6 (overflow) or 94 (invalid use of Null); the sanitizers watch for undefined behaviour. What a
// conversion gives must be usable: a date lies in the years 100 to 9999, a number converted to
// Single stays finite, and a value written as text reads back as itself.
//
// Input: one byte for the user's settings, then a value (fuzz_values.h).
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz_values.h"
#include "ovik/error.h"
#include "platform/clock.h"
#include "platform/locale_rules.h"

namespace {

using ovik::Variant;
using ovik::VarType;
using ovik::fuzz::check;
using ovik::fuzz::FixedClock;
namespace pl = ovik::platform;

constexpr VarType kTypes[] = {VarType::Empty,  VarType::Null,    VarType::Integer,  VarType::Long,
                              VarType::Single, VarType::Double,  VarType::Currency, VarType::Date,
                              VarType::String, VarType::Object,  VarType::Boolean,  VarType::Variant,
                              VarType::Byte,   VarType::LongLong};

// Years 100 to 9999 (civil_from_ole answers day zero for what lies far outside them).
bool date_in_range(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return false;
  const pl::CivilDateTime c = pl::civil_from_ole(days);
  return c.year >= 100 && c.year <= 9999;
}

bool same_second(double a, double b) {
  const pl::CivilDateTime x = pl::civil_from_ole(a), y = pl::civil_from_ole(b);
  return x.year == y.year && x.month == y.month && x.day == y.day && x.hour == y.hour &&
         x.minute == y.minute && x.second == y.second;
}

// Runs one conversion; false when it raised one of the runtime's conversion errors.
template <class Convert>
bool converts(Convert convert) {
  try {
    convert();
    return true;
  } catch (const ovik::RaisedError& e) {
    const std::int32_t n = e.number();
    if (n != 13 && n != 6 && n != 94) {
      std::fprintf(stderr, "conversion raised %d (%s)\n", n, e.description().c_str());
      std::abort();
    }
    return false;
  }
}

// A value written as text reads back as itself (dates to the second, doubles to their text).
void check_text_round_trip(const Variant& value) {
  std::string text;
  if (!converts([&] { text = value.to_string(); })) return;
  const Variant as_text(text);
  switch (value.type()) {
    case VarType::Boolean:
      check(as_text.to_bool() == *value.get_if<bool>(), "a Boolean reads back");
      break;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::LongLong:
      check(as_text.to_i64() == value.to_i64(), "an integer reads back");
      break;
    case VarType::Currency:
      check(as_text.to_currency() == *value.get_if<ovik::Currency>(), "a Currency reads back");
      break;
    case VarType::Double: {
      const double d = *value.get_if<double>();
      // Fifteen digits round the very largest doubles past the range, as the runtime's own do.
      if (std::isfinite(d) && std::fabs(d) < 1.79769313486231e308)
        check(Variant(as_text.to_double()).to_string() == text, "a Double reads back");
      break;
    }
    case VarType::Date: {
      const double d = value.get_if<ovik::DateTime>()->days;
      check(date_in_range(d), "a date outside the years 100 to 9999 has no text");
      if (date_in_range(d)) {
        ovik::DateTime back;
        check(converts([&] { back = as_text.to_date(); }), "a date's text is a date");
        check(same_second(back.days, d), "a date reads back to the second");
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FixedClock clock;
  static pl::ScopedFake<pl::Clock> clock_fake(clock);
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const pl::ScopedLocale locale(ovik::fuzz::settings_of(ovik::fuzz::take_byte(in)));
  const Variant value = ovik::fuzz::take_variant(in);

  for (const VarType type : kTypes) {
    Variant result;
    if (!converts([&] { result = ovik::change_type(value, type); })) continue;
    if (type == VarType::Variant) {
      check(result.type() == value.type(), "Variant keeps the value");
      continue;
    }
    check(result.type() == type, "the result has the asked type");
    switch (type) {
      case VarType::Date:
        check(date_in_range(result.get_if<ovik::DateTime>()->days), "a converted date is a valid date");
        break;
      case VarType::Single: {
        double source = 0;
        if (converts([&] { source = value.to_double(); }) && std::isfinite(source))
          check(std::isfinite(*result.get_if<float>()), "a finite number stays finite as Single");
        break;
      }
      case VarType::Double:
        if (value.is_string())
          check(std::isfinite(*result.get_if<double>()), "text reads as a finite Double");
        break;
      default:
        break;
    }
    check_text_round_trip(result);
  }
  check_text_round_trip(value);
  return 0;
}
