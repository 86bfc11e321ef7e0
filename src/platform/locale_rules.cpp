#include "platform/locale_rules.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

namespace ovik::platform {
namespace {

const LocaleSettings* installed_settings = nullptr;

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    const std::size_t extra = (c & 0xE0) == 0xC0 && c >= 0xC2   ? 1
                              : (c & 0xF0) == 0xE0              ? 2
                              : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 3
                                                                : 0;
    if (extra == 0 || i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// A parsed number: value = digits x 10^exponent. `digits` has no leading or trailing zeros; empty
// means zero.
struct Decimal {
  bool negative = false;
  std::string digits;
  std::int64_t exponent = 0;
};

// Exponents beyond this make every target overflow or vanish; clamping keeps the arithmetic safe.
constexpr std::int64_t kExponentClamp = 100000000;

bool parse_decimal(std::string_view text, const NumberSettings& ns, Decimal& out) {
  std::string_view s = trim_blanks(text);
  if (s.empty()) return false;
  const std::string_view dec = ns.decimal;
  const std::string_view grp = ns.grouping == ns.decimal ? std::string_view() : std::string_view(ns.grouping);

  Decimal d;
  bool sign_seen = false;
  std::size_t i = 0;
  if (s[i] == '+' || s[i] == '-') {
    d.negative = s[i] == '-';
    sign_seen = true;
    ++i;
  }
  std::string all;  // integer and fraction digits as written
  std::int64_t fraction_digits = 0;
  bool any_digit = false;
  while (i < s.size()) {
    if (is_digit(s[i])) {
      all.push_back(s[i++]);
      any_digit = true;
    } else if (!grp.empty() && any_digit && s.substr(i).starts_with(grp) && i + grp.size() < s.size() &&
               is_digit(s[i + grp.size()])) {
      i += grp.size();
    } else {
      break;
    }
  }
  if (!dec.empty() && s.substr(i).starts_with(dec)) {
    i += dec.size();
    while (i < s.size() && is_digit(s[i])) {
      all.push_back(s[i++]);
      ++fraction_digits;
      any_digit = true;
    }
  }
  if (!any_digit) return false;

  std::int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    ++i;
    bool exponent_negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exponent_negative = s[i++] == '-';
    if (i >= s.size() || !is_digit(s[i])) return false;
    while (i < s.size() && is_digit(s[i])) {
      if (exponent < kExponentClamp) exponent = exponent * 10 + (s[i] - '0');
      ++i;
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (i < s.size() && !sign_seen && (s[i] == '+' || s[i] == '-')) {
    d.negative = s[i] == '-';
    ++i;
  }
  if (i != s.size()) return false;

  std::size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) {
    d.digits.clear();
    d.exponent = 0;
  } else {
    std::size_t last = all.find_last_not_of('0');
    d.digits = all.substr(first, last - first + 1);
    d.exponent = exponent - fraction_digits + static_cast<std::int64_t>(all.size() - 1 - last);
  }
  out = std::move(d);
  return true;
}

// The integer nearest to value x 10^scale, ties to even; Overflow outside the int64 range.
ConvStatus decimal_to_scaled(const Decimal& d, int scale, std::int64_t& out) {
  if (d.digits.empty()) {
    out = 0;
    return ConvStatus::Ok;
  }
  const std::int64_t shift = d.exponent + scale;
  const std::int64_t integer_digits = static_cast<std::int64_t>(d.digits.size()) + shift;
  if (integer_digits > 19) return ConvStatus::Overflow;
  std::uint64_t magnitude = 0;
  for (std::int64_t k = 0; k < integer_digits; ++k) {
    const char c =
        k < static_cast<std::int64_t>(d.digits.size()) ? d.digits[static_cast<std::size_t>(k)] : '0';
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (integer_digits < static_cast<std::int64_t>(d.digits.size())) {
    // Dropped digits: the first decides, unless it is a 5 with nothing after it (digits has no
    // trailing zeros), an exact half. When even the first digit lies past the point, leading zeros
    // are dropped first and the rest is below a half.
    int first_dropped = 0;
    bool more_after = false;
    if (integer_digits >= 0) {
      const auto at = static_cast<std::size_t>(integer_digits);
      first_dropped = d.digits[at] - '0';
      more_after = at + 1 < d.digits.size();
    }
    const bool round_up = first_dropped > 5 || (first_dropped == 5 && (more_after || (magnitude & 1) != 0));
    if (round_up) ++magnitude;
  }
  const std::uint64_t limit = d.negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  if (magnitude > limit) return ConvStatus::Overflow;
  out = d.negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return ConvStatus::Ok;
}

template <class Int>
ConvStatus parse_integer(std::string_view text, Int& out) {
  Decimal d;
  if (!parse_decimal(text, user_locale().number, d)) return ConvStatus::TypeMismatch;
  std::int64_t v = 0;
  const ConvStatus st = decimal_to_scaled(d, 0, v);
  if (st != ConvStatus::Ok) return st;
  if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) return ConvStatus::Overflow;
  out = static_cast<Int>(v);
  return ConvStatus::Ok;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

const std::int64_t kDayZero = days_from_civil(1899, 12, 30);

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Joins a day number and a time of day the way the platform's day count does.
double ole_from_parts(std::int64_t day, int seconds_of_day) {
  const double fraction = seconds_of_day / 86400.0;
  return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

// Zero-padded as "%0*d" pads. Every date of a statement is formatted twice (its text, then its SQL
// literal), and printf was most of what a row of RecordToDatabase cost the library.
void append_padded(std::string& out, int v, std::size_t width) {
  if (v < 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", static_cast<int>(width), v);
    out += buf;
    return;
  }
  char digits[12];
  std::size_t n = 0;
  auto u = static_cast<unsigned>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (n < width) out.append(width - n, '0');
  while (n > 0) out += digits[--n];
}

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!is_digit(c)) return false;
  return true;
}

int to_int(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// 0 = none, 1 = AM, 2 = PM.
int designator(std::string_view s) {
  if (ascii_iequals(s, "AM")) return 1;
  if (ascii_iequals(s, "PM")) return 2;
  return 0;
}

// Splits `s` at `sep`; false when any group is not 1..max_digits digits.
bool split_groups(std::string_view s, char sep, std::size_t max_digits, std::string_view* groups,
                  int& count) {
  count = 0;
  while (true) {
    const std::size_t at = s.find(sep);
    const std::string_view group = s.substr(0, at);
    if (count == 3 || !all_digits(group) || group.size() > max_digits) return false;
    groups[count++] = group;
    if (at == std::string_view::npos) return true;
    s.remove_prefix(at + 1);
  }
}

// `outside` is set for a date that is valid but for its year, which lies outside 100..9999.
bool parse_date_word(std::string_view w, DateOrder order, int current_year, std::int64_t& day_out,
                     bool& outside) {
  char sep = 0;
  for (char c : w) {
    if (c == '/' || c == '-' || c == '.') {
      sep = c;
      break;
    }
  }
  if (sep == 0) return false;
  std::string_view g[3];
  int n = 0;
  if (!split_groups(w, sep, 9, g, n) || n < 2) return false;

  std::string_view ys, ms, ds;
  if (n == 2) {
    if (order == DateOrder::DMY) {
      ds = g[0], ms = g[1];
    } else {
      ms = g[0], ds = g[1];
    }
  } else if (g[0].size() >= 3 || order == DateOrder::YMD) {
    ys = g[0], ms = g[1], ds = g[2];
  } else if (order == DateOrder::MDY) {
    ms = g[0], ds = g[1], ys = g[2];
  } else {
    ds = g[0], ms = g[1], ys = g[2];
  }
  if (ms.size() > 2 || ds.size() > 2) return false;

  int year = current_year;
  if (!ys.empty()) {
    year = to_int(ys);
    if (ys.size() <= 2) year += year < 30 ? 2000 : 1900;
  }
  const int month = to_int(ms), day = to_int(ds);
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return false;
  if (year < 100 || year > 9999) {
    outside = true;
    return false;
  }
  day_out = days_from_civil(year, month, day) - kDayZero;
  return true;
}

// `w` is the time word, `ampm` the designator found after it or attached to it (0 = none).
bool parse_time_word(std::string_view w, int ampm, int& seconds_out) {
  std::string_view g[3];
  int n = 0;
  if (!split_groups(w, ':', 2, g, n)) return false;
  if (n == 1 && ampm == 0) return false;  // a bare number is no time
  int hour = to_int(g[0]);
  const int minute = n >= 2 ? to_int(g[1]) : 0;
  const int second = n == 3 ? to_int(g[2]) : 0;
  if (minute > 59 || second > 59) return false;
  if (ampm != 0) {
    if (hour > 12) return false;
    hour %= 12;
    if (ampm == 2) hour += 12;
  } else if (hour > 23) {
    return false;
  }
  seconds_out = hour * 3600 + minute * 60 + second;
  return true;
}

}  // namespace

NumberSettings number_settings_from(std::string_view radix, std::string_view thousands_sep, bool is_c) {
  NumberSettings ns;
  if (is_c) return ns;
  if (!radix.empty() && valid_utf8(radix)) ns.decimal = std::string(radix);
  if (!thousands_sep.empty() && valid_utf8(thousands_sep) && thousands_sep != ns.decimal) {
    ns.grouping = std::string(thousands_sep);
  } else {
    ns.grouping = ns.decimal == "," ? "" : ",";
  }
  return ns;
}

DateOrder date_order_from(std::string_view d_fmt, bool is_c) {
  if (is_c) return DateOrder::YMD;
  std::size_t day = std::string_view::npos, month = day, year = day;
  auto mark = [](std::size_t& slot, std::size_t at) {
    if (slot == std::string_view::npos) slot = at;
  };
  for (std::size_t i = 0; i < d_fmt.size(); ++i) {
    if (d_fmt[i] != '%') continue;
    const std::size_t at = i++;
    while (i < d_fmt.size() &&
           (std::string_view("_-0^#").find(d_fmt[i]) != std::string_view::npos || is_digit(d_fmt[i])))
      ++i;
    if (i < d_fmt.size() && (d_fmt[i] == 'E' || d_fmt[i] == 'O')) ++i;
    if (i >= d_fmt.size()) break;
    switch (d_fmt[i]) {
      case 'd':
      case 'e':
        mark(day, at);
        break;
      case 'm':
      case 'b':
      case 'B':
      case 'h':
        mark(month, at);
        break;
      case 'y':
      case 'Y':
      case 'C':
      case 'G':
      case 'g':
        mark(year, at);
        break;
      case 'D':  // %m/%d/%y
        mark(month, at);
        mark(day, at + 1);
        mark(year, at + 2);
        break;
      case 'F':  // %Y-%m-%d
        mark(year, at);
        mark(month, at + 1);
        mark(day, at + 2);
        break;
      default:
        break;
    }
  }
  if (day == std::string_view::npos || month == std::string_view::npos) return DateOrder::YMD;
  if (year != std::string_view::npos && year < day && year < month) return DateOrder::YMD;
  return month < day ? DateOrder::MDY : DateOrder::DMY;
}

const LocaleSettings& user_locale() {
  if (installed_settings != nullptr) return *installed_settings;
  static const LocaleSettings settings = read_user_locale();
  return settings;
}

ScopedLocale::ScopedLocale(LocaleSettings s) : settings_(std::move(s)), previous_(installed_settings) {
  installed_settings = &settings_;
}

ScopedLocale::~ScopedLocale() { installed_settings = previous_; }

ConvStatus parse_double(std::string_view text, double& out) {
  Decimal d;
  if (!parse_decimal(text, user_locale().number, d)) return ConvStatus::TypeMismatch;
  if (d.digits.empty()) {
    out = d.negative ? -0.0 : 0.0;
    return ConvStatus::Ok;
  }
  // Magnitude is in [10^(m-1), 10^m): decide the extremes before handing digits to from_chars.
  const std::int64_t m = static_cast<std::int64_t>(d.digits.size()) + d.exponent;
  double v = 0;
  if (m > 310) return ConvStatus::Overflow;
  if (m >= -330) {
    const std::string normalized = d.digits + "e" + std::to_string(d.exponent);
    const auto [ptr, ec] = std::from_chars(normalized.data(), normalized.data() + normalized.size(), v);
    if (ec == std::errc::result_out_of_range) {
      if (m > 0) return ConvStatus::Overflow;
      v = 0;
    } else if (ec != std::errc() || ptr != normalized.data() + normalized.size()) {
      return ConvStatus::TypeMismatch;
    }
    if (std::isinf(v)) return ConvStatus::Overflow;
  }
  out = d.negative ? -v : v;
  return ConvStatus::Ok;
}

ConvStatus parse_currency(std::string_view text, std::int64_t& scaled) {
  Decimal d;
  if (!parse_decimal(text, user_locale().number, d)) return ConvStatus::TypeMismatch;
  return decimal_to_scaled(d, 4, scaled);
}

ConvStatus parse_int64(std::string_view text, std::int64_t& out) { return parse_integer(text, out); }
ConvStatus parse_int32(std::string_view text, std::int32_t& out) { return parse_integer(text, out); }
ConvStatus parse_int16(std::string_view text, std::int16_t& out) { return parse_integer(text, out); }
ConvStatus parse_uint8(std::string_view text, std::uint8_t& out) { return parse_integer(text, out); }

double round_half_even(double value) {
  if (!std::isfinite(value)) return value;
  const double lower = std::floor(value);
  const double diff = value - lower;  // exact: both lie within one binade step
  double r = lower;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(lower, 2.0) != 0.0)) r = lower + 1.0;
  return r == 0.0 ? std::copysign(0.0, value) : r;
}

ConvStatus double_to_int64(double value, std::int64_t& out) {
  if (!std::isfinite(value)) return ConvStatus::Overflow;
  const double r = round_half_even(value);
  // 2^63 is exact in a double; the upper bound is exclusive because 2^63 - 1 is not representable.
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return ConvStatus::Overflow;
  out = static_cast<std::int64_t>(r);
  return ConvStatus::Ok;
}

std::string format_double(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0.0) return "0";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  if (ec != std::errc()) return "0";  // cannot happen with this buffer size
  const std::string& dec = user_locale().number.decimal;
  std::string out;
  for (const char* p = buf; p != end; ++p) {
    if (*p == '.') {
      out += dec;
    } else if (*p == 'e') {
      out += 'E';
    } else {
      out += *p;
    }
  }
  return out;
}

std::string format_currency(std::int64_t scaled) {
  const bool negative = scaled < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
  std::string out = negative ? "-" : "";
  out += std::to_string(magnitude / 10000);
  std::uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    out += user_locale().number.decimal;
    out += digits;
  }
  return out;
}

bool ole_from_civil(const CivilDateTime& c, double& out) {
  if (c.year < 100 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 ||
      c.day > days_in_month(c.year, c.month) || c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 ||
      c.second < 0 || c.second > 59)
    return false;
  out = ole_from_parts(days_from_civil(c.year, c.month, c.day) - kDayZero,
                       c.hour * 3600 + c.minute * 60 + c.second);
  return true;
}

CivilDateTime civil_from_ole(double ole) {
  CivilDateTime c;
  // Far beyond year 9999 either way; keeps the integer arithmetic below safe.
  if (!std::isfinite(ole) || std::fabs(ole) > 1.0e8) return c;
  const double whole = std::trunc(ole);
  std::int64_t day = static_cast<std::int64_t>(whole);
  auto seconds = static_cast<std::int64_t>(std::floor(std::fabs(ole - whole) * 86400.0 + 0.5));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;  // the next calendar day, also before day zero
  }
  civil_from_days(day + kDayZero, c.year, c.month, c.day);
  c.hour = static_cast<int>(seconds / 3600);
  c.minute = static_cast<int>(seconds / 60 % 60);
  c.second = static_cast<int>(seconds % 60);
  return c;
}

std::optional<ParsedDate> parse_date(std::string_view text, int current_year) {
  ParsedDate out;
  if (parse_date(text, current_year, out) != ConvStatus::Ok) return std::nullopt;
  return out;
}

ConvStatus parse_date(std::string_view text, int current_year, ParsedDate& out) {
  // Words separated by blanks: [date] [time [AM/PM]], the designator possibly glued to the time.
  std::string_view words[4];
  int n = 0;
  std::string_view s = trim_blanks(text);
  while (!s.empty()) {
    if (n == 4) return ConvStatus::TypeMismatch;
    std::size_t end = 0;
    while (end < s.size() && !is_blank(s[end])) ++end;
    words[n++] = s.substr(0, end);
    s = trim_blanks(s.substr(end));
  }
  if (n == 0) return ConvStatus::TypeMismatch;

  const DateOrder order = user_locale().date.order;
  ParsedDate result;
  std::int64_t day = 0;
  int w = 0;
  bool outside = false;
  if (words[0].find_first_of("/-.") != std::string_view::npos) {
    if (!parse_date_word(words[0], order, current_year, day, outside) && !outside)
      return ConvStatus::TypeMismatch;
    result.has_date = true;
    w = 1;
  }
  int seconds = 0;
  if (w < n) {
    std::string_view time_word = words[w++];
    int ampm = 0;
    if (w < n) {
      ampm = designator(words[w++]);
      if (ampm == 0) return ConvStatus::TypeMismatch;
    } else if (time_word.size() > 2) {
      ampm = designator(time_word.substr(time_word.size() - 2));
      if (ampm != 0) time_word.remove_suffix(2);
    }
    if (w != n || !parse_time_word(time_word, ampm, seconds)) return ConvStatus::TypeMismatch;
    result.has_time = true;
  }
  if (outside) return ConvStatus::Overflow;
  result.ole = ole_from_parts(day, seconds);
  out = result;
  return ConvStatus::Ok;
}

// Both build their text in one string: a date is formatted twice for every row RecordToDatabase
// writes, and temporary strings were most of that cost.
std::string format_date(double ole) {
  const CivilDateTime c = civil_from_ole(ole);
  const bool day_zero = c.year == 1899 && c.month == 12 && c.day == 30;
  const bool midnight = c.hour == 0 && c.minute == 0 && c.second == 0;
  std::string out;
  out.reserve(24);
  const auto append_time = [&] {
    append_padded(out, c.hour, 1);
    out += ':';
    append_padded(out, c.minute, 2);
    out += ':';
    append_padded(out, c.second, 2);
  };
  if (day_zero) {
    append_time();
    return out;
  }
  int first = c.year, second = c.month, third = c.day;
  std::size_t first_width = 4, third_width = 2;
  switch (user_locale().date.order) {
    case DateOrder::YMD:
      break;
    case DateOrder::MDY:
      first = c.month, second = c.day, third = c.year;
      first_width = 2, third_width = 4;
      break;
    case DateOrder::DMY:
      first = c.day, second = c.month, third = c.year;
      first_width = 2, third_width = 4;
      break;
  }
  append_padded(out, first, first_width);
  out += '/';
  append_padded(out, second, 2);
  out += '/';
  append_padded(out, third, third_width);
  if (!midnight) {
    out += ' ';
    append_time();
  }
  return out;
}

std::string format_date_fixed(double ole) {
  const CivilDateTime c = civil_from_ole(ole);
  std::string out;
  out.reserve(19);
  append_padded(out, c.year, 4);
  out += '/';
  append_padded(out, c.month, 2);
  out += '/';
  append_padded(out, c.day, 2);
  out += ' ';
  append_padded(out, c.hour, 2);
  out += ':';
  append_padded(out, c.minute, 2);
  out += ':';
  append_padded(out, c.second, 2);
  return out;
}

}  // namespace ovik::platform
