#include "platform/locale_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace ovik::platform {
namespace {

// Every test pins the settings so the machine's own locale never matters.
LocaleSettings japanese() { return {}; }
LocaleSettings german() { return {{",", "."}, {DateOrder::DMY}}; }
LocaleSettings american() { return {{".", ","}, {DateOrder::MDY}}; }

constexpr auto Ok = ConvStatus::Ok;
constexpr auto Mismatch = ConvStatus::TypeMismatch;
constexpr auto Overflow = ConvStatus::Overflow;

TEST(LocaleRulesCurrency, ParsesExactlyAndRoundsHalfToEven) {
  ScopedLocale loc(japanese());
  struct Case {
    const char* text;
    ConvStatus status;
    std::int64_t scaled;
  };
  const Case cases[] = {
      {"0.1", Ok, 1000},
      {"1,234.50", Ok, 12345000},
      {"007", Ok, 70000},
      {" 12 ", Ok, 120000},
      {"\t12\t", Ok, 120000},
      {"12-", Ok, -120000},
      {"+12", Ok, 120000},
      {"-.5", Ok, -5000},
      {"5.", Ok, 50000},
      {"1E3", Ok, 10000000},
      {"1.5e-3", Ok, 15},
      {"0.00005", Ok, 0},      // tie, 0 is even
      {"0.00015", Ok, 2},      // tie, up to even
      {"0.00025", Ok, 2},      // tie, down to even
      {"0.000250001", Ok, 3},  // just above the tie
      {"-0.00015", Ok, -2},
      {"0.00004999", Ok, 0},
      {"1E-30", Ok, 0},
      {"0E999999999999", Ok, 0},
      {"922337203685477.5807", Ok, std::numeric_limits<std::int64_t>::max()},
      {"-922337203685477.5808", Ok, std::numeric_limits<std::int64_t>::min()},
      {"922337203685477.58074", Ok, std::numeric_limits<std::int64_t>::max()},
      {"922337203685477.5808", Overflow, 0},
      {"922337203685477.58075", Overflow, 0},  // rounds up past the top
      {"-922337203685477.5809", Overflow, 0},
      {"1E15", Overflow, 0},
      {"99999999999999999999999", Overflow, 0},
      {"abc", Mismatch, 0},
      {"", Mismatch, 0},
      {"   ", Mismatch, 0},
      {"-", Mismatch, 0},
      {".", Mismatch, 0},
      {"1E", Mismatch, 0},
      {"1,,234", Mismatch, 0},
      {",123", Mismatch, 0},
      {"123,", Mismatch, 0},
      {"1.234,5", Mismatch, 0},
      {"-12-", Mismatch, 0},
      {"1 2", Mismatch, 0},
      {"12abc", Mismatch, 0},
      {"0x10", Mismatch, 0},
  };
  for (const Case& c : cases) {
    std::int64_t scaled = 0;
    EXPECT_EQ(parse_currency(c.text, scaled), c.status) << c.text;
    if (c.status == Ok) {
      EXPECT_EQ(scaled, c.scaled) << c.text;
    }
  }
}

TEST(LocaleRulesCurrency, FormatsWithoutTrailingZeros) {
  ScopedLocale loc(japanese());
  EXPECT_EQ(format_currency(12345000), "1234.5");
  EXPECT_EQ(format_currency(70000), "7");
  EXPECT_EQ(format_currency(0), "0");
  EXPECT_EQ(format_currency(-5000), "-0.5");
  EXPECT_EQ(format_currency(1), "0.0001");
  EXPECT_EQ(format_currency(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
  EXPECT_EQ(format_currency(std::numeric_limits<std::int64_t>::max()), "922337203685477.5807");
}

TEST(LocaleRulesCurrency, GermanSettingsSwapSeparators) {
  ScopedLocale loc(german());
  std::int64_t scaled = 0;
  ASSERT_EQ(parse_currency("1.234,50", scaled), Ok);
  EXPECT_EQ(scaled, 12345000);
  EXPECT_EQ(format_currency(scaled), "1234,5");
  EXPECT_EQ(parse_currency("1,234.50", scaled), Mismatch);
  // Without a group separator the other mark is simply not part of a number.
  ScopedLocale none({{",", ""}, {}});
  EXPECT_EQ(parse_currency("1.234", scaled), Mismatch);
}

TEST(LocaleRulesIntegers, RoundHalfToEvenAndCheckRange) {
  ScopedLocale loc(japanese());
  struct Case {
    const char* text;
    ConvStatus status;
    std::int64_t value;
  };
  const Case int32_cases[] = {
      {"2.5", Ok, 2},
      {"3.5", Ok, 4},
      {"-2.5", Ok, -2},
      {"2.5000000000000000001", Ok, 3},  // beyond double precision, still above the half
      {"2147483647", Ok, 2147483647},
      {"-2147483648", Ok, -2147483648LL},
      {"2147483647.5", Overflow, 0},
      {"2147483648", Overflow, 0},
      {"-2147483649", Overflow, 0},
      {"1E10", Overflow, 0},
      {" 42 ", Ok, 42},
      {"4a2", Mismatch, 0},
      {"", Mismatch, 0},
  };
  for (const Case& c : int32_cases) {
    std::int32_t v = 0;
    EXPECT_EQ(parse_int32(c.text, v), c.status) << c.text;
    if (c.status == Ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  const Case int16_cases[] = {
      {"32767", Ok, 32767},   {"32768", Overflow, 0},   {"-32768", Ok, -32768},
      {"32767.4", Ok, 32767}, {"-32768.5", Ok, -32768}, {"-32769", Overflow, 0},
  };
  for (const Case& c : int16_cases) {
    std::int16_t v = 0;
    EXPECT_EQ(parse_int16(c.text, v), c.status) << c.text;
    if (c.status == Ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  const Case uint8_cases[] = {
      {"255", Ok, 255}, {"256", Overflow, 0}, {"-0.4", Ok, 0}, {"-1", Overflow, 0}, {"0.5", Ok, 0},
  };
  for (const Case& c : uint8_cases) {
    std::uint8_t v = 7;
    EXPECT_EQ(parse_uint8(c.text, v), c.status) << c.text;
    if (c.status == Ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  std::int32_t untouched = 99;
  EXPECT_EQ(parse_int32("x", untouched), Mismatch);
  EXPECT_EQ(untouched, 99);
}

TEST(LocaleRulesDouble, ParsesWithTheLocaleSeparators) {
  ScopedLocale loc(japanese());
  double v = 0;
  ASSERT_EQ(parse_double("1,234.50", v), Ok);
  EXPECT_EQ(v, 1234.5);
  ASSERT_EQ(parse_double("0.1", v), Ok);
  EXPECT_EQ(v, 0.1);  // correctly rounded, the same double as the literal
  ASSERT_EQ(parse_double(" 1.5E-7 ", v), Ok);
  EXPECT_EQ(v, 1.5e-7);
  ASSERT_EQ(parse_double("1e-400", v), Ok);
  EXPECT_EQ(v, 0.0);
  ASSERT_EQ(parse_double("-0", v), Ok);
  EXPECT_TRUE(std::signbit(v));
  EXPECT_EQ(parse_double("1E400", v), Overflow);
  EXPECT_EQ(parse_double("1.8E308", v), Overflow);
  EXPECT_EQ(parse_double("  ", v), Mismatch);

  ScopedLocale de(german());
  ASSERT_EQ(parse_double("-1.234,5", v), Ok);
  EXPECT_EQ(v, -1234.5);
  ASSERT_EQ(parse_double("2,5E3", v), Ok);
  EXPECT_EQ(v, 2500.0);
}

TEST(LocaleRulesDouble, RoundingToIntegers) {
  const double cases[][2] = {{2.5, 2},
                             {3.5, 4},
                             {-2.5, -2},
                             {-3.5, -4},
                             {0.49999999999999994, 0},
                             {1.5, 2},
                             {2.4999, 2},
                             {-0.5, 0},
                             {4503599627370497.0, 4503599627370497.0}};
  for (const auto& c : cases) EXPECT_EQ(round_half_even(c[0]), c[1]) << c[0];

  std::int64_t out = 0;
  ASSERT_EQ(double_to_int64(-9223372036854775808.0, out), Ok);
  EXPECT_EQ(out, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(double_to_int64(9223372036854775808.0, out), Overflow);
  EXPECT_EQ(double_to_int64(std::nan(""), out), Overflow);
  EXPECT_EQ(double_to_int64(-INFINITY, out), Overflow);
  ASSERT_EQ(double_to_int64(12345.5, out), Ok);
  EXPECT_EQ(out, 12346);
}

TEST(LocaleRulesDouble, FormatsShortestUpToFifteenDigits) {
  ScopedLocale loc(japanese());
  const std::pair<double, const char*> cases[] = {
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {1e20, "1E+20"},
      {1.5e-7, "1.5E-07"},
      {1234.5, "1234.5"},
      {-0.5, "-0.5"},
      {0.0, "0"},
      {-0.0, "0"},
      {1.0 / 3.0, "0.333333333333333"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E+15"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {-2.5e-300, "-2.5E-300"},
      {1234567.0, "1234567"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(format_double(value), text) << text;

  ScopedLocale de(german());
  EXPECT_EQ(format_double(1234.5), "1234,5");
  EXPECT_EQ(format_double(1.5e-7), "1,5E-07");
}

TEST(LocaleRulesSettings, DerivedFromWhatTheLocaleReports) {
  const NumberSettings c = number_settings_from(".", "", true);
  EXPECT_EQ(c.decimal, ".");
  EXPECT_EQ(c.grouping, ",");
  const NumberSettings de = number_settings_from(",", ".", false);
  EXPECT_EQ(de.decimal, ",");
  EXPECT_EQ(de.grouping, ".");
  EXPECT_EQ(number_settings_from(",", "", false).grouping, "");  // "," is taken by the decimal
  EXPECT_EQ(number_settings_from(".", "", false).grouping, ",");
  EXPECT_EQ(number_settings_from(",", "\xe2\x80\xaf", false).grouping,
            "\xe2\x80\xaf");                                         // narrow no-break space
  EXPECT_EQ(number_settings_from(",", "\xa0", false).grouping, "");  // not UTF-8: not trusted

  const std::pair<const char*, DateOrder> formats[] = {
      {"%m/%d/%Y", DateOrder::MDY}, {"%d.%m.%Y", DateOrder::DMY},     {"%d/%m/%y", DateOrder::DMY},
      {"%Y-%m-%d", DateOrder::YMD}, {"%Y年%m月%d日", DateOrder::YMD}, {"%D", DateOrder::MDY},
      {"%F", DateOrder::YMD},       {"%-d/%-m/%Y", DateOrder::DMY},   {"%e %B %Y", DateOrder::DMY},
      {"", DateOrder::YMD},
  };
  for (const auto& [fmt, order] : formats) EXPECT_EQ(date_order_from(fmt, false), order) << fmt;
  EXPECT_EQ(date_order_from("%m/%d/%y", true), DateOrder::YMD);
}

TEST(LocaleRulesSettings, ScopedLocaleNestsAndRestores) {
  const LocaleSettings before = user_locale();
  {
    ScopedLocale outer(german());
    EXPECT_EQ(user_locale().number.decimal, ",");
    {
      ScopedLocale inner(american());
      EXPECT_EQ(user_locale().date.order, DateOrder::MDY);
    }
    EXPECT_EQ(user_locale().date.order, DateOrder::DMY);
  }
  EXPECT_EQ(user_locale().number.decimal, before.number.decimal);
  EXPECT_EQ(user_locale().date.order, before.date.order);
}

TEST(LocaleRulesDates, CivilAndOleAgree) {
  struct Case {
    CivilDateTime civil;
    double ole;
  };
  const Case cases[] = {
      {{1899, 12, 30, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0}, 2.0},
      {{2024, 1, 5, 9, 3, 0}, 45296.0 + (9 * 3600 + 3 * 60) / 86400.0},
      {{1899, 12, 29, 0, 0, 0}, -1.0},
      {{1899, 12, 29, 6, 0, 0}, -1.25},  // the time still counts forward
      {{1899, 12, 28, 18, 0, 0}, -2.75},
      {{100, 1, 1, 0, 0, 0}, -657434.0},
      {{9999, 12, 31, 23, 59, 59}, 2958465.0 + 86399 / 86400.0},
      {{2000, 2, 29, 12, 0, 0}, 36585.5},
  };
  for (const Case& c : cases) {
    double ole = 0;
    ASSERT_TRUE(ole_from_civil(c.civil, ole)) << c.ole;
    EXPECT_DOUBLE_EQ(ole, c.ole);
    const CivilDateTime back = civil_from_ole(ole);
    EXPECT_EQ(format_date_fixed(ole), format_date_fixed(c.ole));
    EXPECT_EQ(back.year, c.civil.year);
    EXPECT_EQ(back.month, c.civil.month);
    EXPECT_EQ(back.day, c.civil.day);
    EXPECT_EQ(back.hour * 3600 + back.minute * 60 + back.second,
              c.civil.hour * 3600 + c.civil.minute * 60 + c.civil.second);
  }
  const CivilDateTime invalid[] = {
      {2023, 2, 29, 0, 0, 0}, {1900, 2, 29, 0, 0, 0}, {99, 12, 31, 0, 0, 0},
      {10000, 1, 1, 0, 0, 0}, {2024, 13, 1, 0, 0, 0}, {2024, 4, 31, 0, 0, 0},
      {2024, 1, 1, 24, 0, 0}, {2024, 1, 1, 0, 60, 0}, {2024, 1, 1, 0, 0, -1},
  };
  for (const CivilDateTime& c : invalid) {
    double ole = 123;
    EXPECT_FALSE(ole_from_civil(c, ole)) << c.year << "/" << c.month << "/" << c.day;
    EXPECT_EQ(ole, 123);
  }
}

TEST(LocaleRulesDates, RoundsToTheNearestSecondAcrossMidnight) {
  // Half a second before midnight of 1899-12-29 rounds to day zero, not to the 28th.
  EXPECT_EQ(format_date_fixed(-1.0 - 86399.6 / 86400.0), "1899/12/30 00:00:00");
  EXPECT_EQ(format_date_fixed(45296.0 + 86399.6 / 86400.0), "2024/01/06 00:00:00");
  EXPECT_EQ(format_date_fixed(45296.0 + 0.4 / 86400.0), "2024/01/05 00:00:00");
  EXPECT_EQ(format_date_fixed(std::nan("")), "1899/12/30 00:00:00");
}

TEST(LocaleRulesDates, ParsesDatesAndTimesInTheSettingsOrder) {
  struct Case {
    LocaleSettings settings;
    const char* text;
    const char* fixed;  // nullptr: not a date
    bool has_date, has_time;
  };
  const LocaleSettings jp = japanese(), de = german(), us = american();
  const Case cases[] = {
      {jp, "2024/1/5 9:03", "2024/01/05 09:03:00", true, true},
      {jp, "2024-01-05 09:03:07", "2024/01/05 09:03:07", true, true},
      {jp, "  2024.1.5  ", "2024/01/05 00:00:00", true, false},
      {jp, "24/1/5", "2024/01/05 00:00:00", true, false},
      {jp, "29/1/5", "2029/01/05 00:00:00", true, false},
      {jp, "30/1/5", "1930/01/05 00:00:00", true, false},
      {jp, "1/5", "2023/01/05 00:00:00", true, false},  // the current year is passed in
      {jp, "9:03", "1899/12/30 09:03:00", false, true},
      {jp, "23:59:59", "1899/12/30 23:59:59", false, true},
      {jp, "9:03 PM", "1899/12/30 21:03:00", false, true},
      {jp, "12:00am", "1899/12/30 00:00:00", false, true},
      {jp, "12:30 pm", "1899/12/30 12:30:00", false, true},
      {jp, "9 PM", "1899/12/30 21:00:00", false, true},
      {jp, "2024/1/5 9:03:30 AM", "2024/01/05 09:03:30", true, true},
      {jp, "0100/1/1", "0100/01/01 00:00:00", true, false},
      {jp, "9999/12/31 23:59:59", "9999/12/31 23:59:59", true, true},
      {jp, "1899/12/29 6:00", "1899/12/29 06:00:00", true, true},
      {jp, "1800/3/1", "1800/03/01 00:00:00", true, false},
      {de, "5.1.2024", "2024/01/05 00:00:00", true, false},
      {de, "5/1", "2023/01/05 00:00:00", true, false},
      {de, "2024-01-05", "2024/01/05 00:00:00", true, false},  // a leading 4-digit year wins
      {us, "1/5/2024 9:03", "2024/01/05 09:03:00", true, true},
      {us, "12/31/99", "1999/12/31 00:00:00", true, false},
      {us, "2024/1/5", "2024/01/05 00:00:00", true, false},
      {jp, "2023/2/29", nullptr, false, false},
      {jp, "2024/2/30", nullptr, false, false},
      {jp, "25:00", nullptr, false, false},
      {jp, "9:60", nullptr, false, false},
      {jp, "13:00 PM", nullptr, false, false},
      {jp, "99/1/1 0:00 XM", nullptr, false, false},
      {jp, "0099/1/1", nullptr, false, false},
      {jp, "10000/1/1", nullptr, false, false},
      {jp, "2024/1-5", nullptr, false, false},
      {jp, "2024/1/5/6", nullptr, false, false},
      {jp, "2024//5", nullptr, false, false},
      {jp, "2024", nullptr, false, false},
      {jp, "9", nullptr, false, false},
      {jp, "", nullptr, false, false},
      {jp, "   ", nullptr, false, false},
      {jp, "abc", nullptr, false, false},
      {jp, "9:03 2024/1/5", nullptr, false, false},
      {jp, "2024/1/5 9:03:00.5", nullptr, false, false},
      {jp, "2024/1/5T9:03", nullptr, false, false},
      {de, "13.13.2024", nullptr, false, false},
      {us, "13/1/2024", nullptr, false, false},  // no swapping of day and month
      {jp, "1/2/3/", nullptr, false, false},
  };
  for (const Case& c : cases) {
    ScopedLocale loc(c.settings);
    const auto parsed = parse_date(c.text, 2023);
    if (c.fixed == nullptr) {
      EXPECT_FALSE(parsed.has_value()) << c.text;
      continue;
    }
    ASSERT_TRUE(parsed.has_value()) << c.text;
    EXPECT_EQ(format_date_fixed(parsed->ole), c.fixed) << c.text;
    EXPECT_EQ(parsed->has_date, c.has_date) << c.text;
    EXPECT_EQ(parsed->has_time, c.has_time) << c.text;
  }
}

TEST(LocaleRulesDates, FormatsInTheUsersShortDate) {
  double ole = 0;
  ASSERT_TRUE(ole_from_civil({2024, 1, 5, 9, 3, 0}, ole));
  double midnight = 0;
  ASSERT_TRUE(ole_from_civil({2024, 1, 5, 0, 0, 0}, midnight));
  double early = 0;
  ASSERT_TRUE(ole_from_civil({120, 3, 4, 23, 59, 59}, early));
  const double time_only = (21 * 3600 + 3 * 60 + 7) / 86400.0;
  struct Case {
    LocaleSettings settings;
    double ole;
    const char* text;
  };
  const Case cases[] = {
      {japanese(), ole, "2024/01/05 9:03:00"},   {japanese(), midnight, "2024/01/05"},
      {japanese(), time_only, "21:03:07"},       {japanese(), 0.0, "0:00:00"},
      {japanese(), -1.25, "1899/12/29 6:00:00"}, {german(), ole, "05/01/2024 9:03:00"},
      {american(), midnight, "01/05/2024"},      {german(), early, "04/03/0120 23:59:59"},
      {japanese(), early, "0120/03/04 23:59:59"},
  };
  for (const Case& c : cases) {
    ScopedLocale loc(c.settings);
    EXPECT_EQ(format_date(c.ole), c.text);
  }
  // What is written reads back as the same moment.
  for (const LocaleSettings& s : {japanese(), german(), american()}) {
    ScopedLocale loc(s);
    const auto parsed = parse_date(format_date(ole), 2023);
    ASSERT_TRUE(parsed.has_value()) << format_date(ole);
    EXPECT_EQ(format_date_fixed(parsed->ole), "2024/01/05 09:03:00");
  }
}

}  // namespace
}  // namespace ovik::platform
