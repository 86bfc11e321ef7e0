// The standard conversions between text, numbers and dates that the library's classes rely on,
// on the rules of the user's number and date settings.
//
// Settings. user_locale() reads LC_NUMERIC and LC_TIME once, each through newlocale (the process locale
// is never changed, and a later setlocale by the host does not change the answer). A category that
// is C or POSIX (also "C.UTF-8"), or that cannot be loaded, gives the conventions of the Japanese
// installations the library serves: "." decimal, "," grouping, year/month/day. Otherwise:
//  - decimal: the locale's radix character;
//  - grouping: the locale's thousands separator. A locale that has none (empty), or one that is not
//    valid UTF-8 or equals the decimal, falls back to "," unless the decimal itself is ",", in which
//    case no group separator is accepted. Grouping is a convenience on input only, never written, so
//    accepting the customary "," costs nothing as long as it cannot be mistaken for the decimal.
//  - date order: from the first day, month and year fields of the short date format (D_FMT).
// A test installs its own settings with ScopedLocale; every function below reads the settings in
// force at the moment of the call. Installing is not thread-safe (tests only); reading is.
//
// Numbers. Text is parsed exactly as decimal digits, so currency and integer results carry no
// binary floating-point error, and ties are rounded half to even. Accepted: blanks (space, tab)
// around, one sign in front or behind, group separators between two digits of the integer part,
// one decimal separator, an exponent "E"/"e" with optional sign. Anything else, "" and blanks only
// are TypeMismatch; a number too large for the target is Overflow. Nothing here throws.
//
// Dates. OLE automation dates: days since 1899-12-30, the fraction the time of day; before day zero
// the fraction still counts forward in the day (-1.25 is 1899-12-29 06:00). Valid years 100..9999.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ovik/export.h"

namespace ovik::platform {

struct NumberSettings {
  std::string decimal = ".";
  std::string grouping = ",";  // "" means no group separator is accepted
};
enum class DateOrder { YMD, MDY, DMY };
struct DateSettings {
  DateOrder order = DateOrder::YMD;
};
struct LocaleSettings {
  NumberSettings number;
  DateSettings date;
};

// The user's settings (see above), or the ones a ScopedLocale has installed. The reference stays
// valid until the ScopedLocale that installed them ends.
const LocaleSettings& user_locale();

// Installs `s` as the user's settings for its lifetime; the previous ones come back afterwards.
class ScopedLocale {
 public:
  explicit ScopedLocale(LocaleSettings s);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

 private:
  LocaleSettings settings_;
  const LocaleSettings* previous_;
};

// How user_locale() derives its answer from what the locale reports; exposed so the derivation can
// be checked without installing locales. `is_c` marks a C or POSIX category.
NumberSettings number_settings_from(std::string_view radix, std::string_view thousands_sep, bool is_c);
DateOrder date_order_from(std::string_view d_fmt, bool is_c);

// What the system reports for the user, before any ScopedLocale (once per process through user_locale()).
LocaleSettings read_user_locale();

enum class ConvStatus { Ok, TypeMismatch, Overflow };

// Text to a double. A value beyond the double range is Overflow; one too small for it is 0.
ConvStatus parse_double(std::string_view text, double& out);
// Exact decimal to a 64-bit integer scaled by 10,000; digits past the fourth decimal rounded half to
// even; out of range (-922337203685477.5808 .. 922337203685477.5807) is Overflow.
ConvStatus parse_currency(std::string_view text, std::int64_t& scaled);
// Text to integer: parse, round half to even, range check. `out` is untouched on failure.
ConvStatus parse_int64(std::string_view text, std::int64_t& out);
OVIK_API ConvStatus parse_int32(std::string_view text, std::int32_t& out);
ConvStatus parse_int16(std::string_view text, std::int16_t& out);
ConvStatus parse_uint8(std::string_view text, std::uint8_t& out);
// Half to even, then range check; NaN and infinities are Overflow.
ConvStatus double_to_int64(double value, std::int64_t& out);
// Half to even whatever the process's floating-point rounding mode; NaN and infinities pass through.
double round_half_even(double value);

// Text forms with the locale's decimal separator and no group separators: rounded to 15 significant
// digits without trailing zeros; exponent form ("1E+20", "1.5E-07") when the decimal exponent is
// below -4 or 15 and above. -0 is "0"; NaN and infinities are "NaN", "Infinity", "-Infinity".
std::string format_double(double value);
// "-", integer digits, and the fraction without trailing zeros only when it is not zero.
std::string format_currency(std::int64_t scaled);

struct CivilDateTime {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};
// False, leaving `out` alone, when any field is out of range or the day does not exist.
OVIK_API bool ole_from_civil(const CivilDateTime& c, double& out);
// Rounded to the nearest second (a carry moves to the next calendar day). NaN, infinities and values
// far outside the valid years give day zero.
OVIK_API CivilDateTime civil_from_ole(double ole);

// The date test and conversion: a date, a time, or a date followed by a time.
//  - date: two or three groups of 1..4 digits separated by one of "/", "-", "." (the same one
//    throughout). A first group of 3 or 4 digits is a year, and the date is then year-first;
//    otherwise the order follows DateSettings. Two groups are month and day (day and month for DMY)
//    of `current_year`. A year of one or two digits: 00..29 -> 2000s, 30..99 -> 1900s.
//  - time: H:MM or H:MM:SS (one or two digits each), 0..23 hours; with AM/PM (any case, attached or
//    after a blank) hours 0..12, and the hour alone is enough ("9 PM").
// A time alone lies on day zero. Nothing else is accepted: no month names, no fractions of seconds,
// no day and month swapped when the settings' order gives an impossible date.
struct ParsedDate {
  double ole = 0;
  bool has_date = false;
  bool has_time = false;
};
std::optional<ParsedDate> parse_date(std::string_view text, int current_year);
// The same, telling a text that is no date (TypeMismatch) from a valid date but for its year, of
// up to nine digits, outside 100..9999 (Overflow). `out` is untouched on failure.
ConvStatus parse_date(std::string_view text, int current_year, ParsedDate& out);

// The user's text form of a date-time: the short date (order from DateSettings, 4-digit year, 2-digit
// month and day, "/" between), a space, the time "H:mm:ss"; only the time when the date is day zero,
// only the date when the time is midnight.
std::string format_date(double ole);
// "yyyy/mm/dd hh:mm:ss" always with "/" and ":" (SQL literals, logs).
std::string format_date_fixed(double ole);

}  // namespace ovik::platform
