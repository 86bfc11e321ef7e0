// What the value targets share: Variants of every type built from fuzz bytes, the user settings
// a byte picks, and an abort that says which invariant broke.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ovik/variant.h"
#include "platform/clock.h"
#include "platform/locale_rules.h"

namespace ovik::fuzz {

// A clock fixed at 2031-06-15 12:00: conversions that read today's date give the same in every run.
class FixedClock final : public platform::Clock {
 public:
  std::int64_t system_time_as_file_time() override { return 0; }
  platform::CivilNow local_now() override { return {2031, 6, 15, 12, 0, 0}; }
};

inline void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

inline unsigned take_byte(std::string_view& in) {
  if (in.empty()) return 0;
  const auto b = static_cast<unsigned char>(in.front());
  in.remove_prefix(1);
  return b;
}

// The next sizeof(T) bytes as they lie in memory (zeros past the end).
template <class T>
T take_raw(std::string_view& in) {
  unsigned char bytes[sizeof(T)] = {};
  const std::size_t n = in.size() < sizeof(T) ? in.size() : sizeof(T);
  std::memcpy(bytes, in.data(), n);
  in.remove_prefix(n);
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

// Settings of real locales: the separators come as the locale reports them, several bytes long in
// some (the narrow no-break space of French grouping, the Arabic decimal separator).
inline platform::LocaleSettings settings_of(unsigned choice) {
  using platform::DateOrder;
  static const platform::LocaleSettings kSettings[] = {
      {{".", ","}, {DateOrder::YMD}},                // the Japanese installations, and C
      {{",", "."}, {DateOrder::DMY}},                // German
      {{".", ","}, {DateOrder::MDY}},                // US English
      {{",", "\xE2\x80\xAF"}, {DateOrder::DMY}},     // French
      {{".", "'"}, {DateOrder::DMY}},                // Swiss German
      {{"\xD9\xAB", "\xD9\xAC"}, {DateOrder::DMY}},  // Arabic
      {{",", ""}, {DateOrder::YMD}},                 // a decimal comma with no grouping
      {{".", " "}, {DateOrder::MDY}},                // grouping by blanks
  };
  return kSettings[choice % (sizeof kSettings / sizeof kSettings[0])];
}

// A Variant of any type but objects: a tag byte, then the value's bytes (a text takes the rest).
// Dates and numbers come both from raw bits (NaN, infinities, extremes) and from small counts
// (seconds, minutes or ten-thousandths), so that ordinary values are reached as often as odd ones.
inline Variant take_variant(std::string_view& in) {
  switch (take_byte(in) % 17) {
    case 0:
      return Variant();
    case 1:
      return Variant(Null{});
    case 2:
      return Variant((take_byte(in) & 1) != 0);
    case 3:
      return Variant(static_cast<std::uint8_t>(take_byte(in)));
    case 4:
      return Variant(take_raw<std::int16_t>(in));
    case 5:
      return Variant(take_raw<std::int32_t>(in));
    case 6:
      return Variant(take_raw<std::int64_t>(in));
    case 7:
      return Variant(take_raw<float>(in));
    case 8:
      return Variant(take_raw<double>(in));
    case 9:
      return Variant(static_cast<double>(take_raw<std::int32_t>(in)) / 10000.0);
    case 10:
      return Variant(Currency{take_raw<std::int64_t>(in)});
    case 11:
      return Variant(Currency{take_raw<std::int32_t>(in)});
    case 12:
      return Variant(DateTime{take_raw<double>(in)});
    case 13:
      return Variant(DateTime{static_cast<double>(take_raw<std::int32_t>(in)) / 86400.0});
    case 14:
      return Variant(DateTime{static_cast<double>(take_raw<std::int32_t>(in)) / 1440.0});
    default: {
      Variant text{std::string(in)};
      in = {};
      return text;
    }
  }
}

}  // namespace ovik::fuzz
