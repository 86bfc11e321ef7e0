// Variant conversions at the edges of the target types: a conversion gives a value the target
// type can hold, or raises overflow (6).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "ovik/error.h"
#include "ovik/variant.h"
#include "platform/locale_rules.h"

namespace ovik {
namespace {

std::int32_t error_of(const Variant& value, VarType type) {
  try {
    change_type(value, type);
  } catch (const RaisedError& e) {
    return e.number();
  }
  return 0;
}

// Far numbers once came back as dates that every later step read as 1899-12-30.
TEST(VariantConversion, DatesOutsideTheYears100To9999AreOverflow) {
  const platform::ScopedLocale japanese{platform::LocaleSettings{}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Variant> too_far = {
      Variant(2958466.0),  // 10000-01-01
      Variant(-657435.0),  // 0099-12-31
      Variant(1e300),
      Variant(-1e9),
      Variant("1E300"),
      Variant("2958466"),
      Variant(Currency{std::numeric_limits<std::int64_t>::min()}),
      Variant(std::numeric_limits<std::int64_t>::max()),
      Variant(std::numeric_limits<double>::infinity()),
      Variant(-1e300),
      Variant("0099/12/31"),
      Variant("10000/1/1 9:00"),
      Variant(DateTime{1e9}),
      Variant(DateTime{nan}),
      Variant(DateTime{std::numeric_limits<double>::infinity()}),
      Variant(DateTime{-std::numeric_limits<double>::infinity()}),
      Variant(DateTime{1e300}),
      Variant(DateTime{-1e300}),
      Variant(DateTime{-657435.0}),
      Variant(DateTime{2958466.0}),
      Variant(DateTime{2958465.999996}),  // rounds into 10000
  };
  for (std::size_t i = 0; i < too_far.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(error_of(too_far[i], VarType::Date), 6);
    // Such a date once became "0:00:00" or "10000/01/01" as text.
    if (too_far[i].type() == VarType::Date) {
      EXPECT_EQ(error_of(too_far[i], VarType::String), 6);
      EXPECT_EQ(error_of(too_far[i], VarType::Double), 6);
    }
  }

  struct Edge {
    Variant value;
    platform::CivilDateTime civil;
  };
  const std::vector<Edge> inside = {
      {Variant(-657434.0), {100, 1, 1, 0, 0, 0}},
      {Variant(-657434.99998), {100, 1, 1, 23, 59, 58}},
      {Variant(2958465.99998), {9999, 12, 31, 23, 59, 58}},
      {Variant("9999/12/31 23:59:59"), {9999, 12, 31, 23, 59, 59}},
      {Variant("0100/1/1"), {100, 1, 1, 0, 0, 0}},
      {Variant(DateTime{-657434.0}), {100, 1, 1, 0, 0, 0}},
      {Variant(DateTime{2958465.99998}), {9999, 12, 31, 23, 59, 58}},
      {Variant(DateTime{-1.25}), {1899, 12, 29, 6, 0, 0}},
  };
  for (const Edge& edge : inside) {
    SCOPED_TRACE(edge.value.to_string());
    EXPECT_EQ(error_of(edge.value, VarType::String), 0);
    const platform::CivilDateTime c = platform::civil_from_ole(edge.value.to_date().days);
    EXPECT_EQ(std::vector<int>({c.year, c.month, c.day, c.hour, c.minute, c.second}),
              std::vector<int>({edge.civil.year, edge.civil.month, edge.civil.day, edge.civil.hour,
                                edge.civil.minute, edge.civil.second}));
  }
}

// A Single past its range once came out as infinity, which reads back as no number at all.
TEST(VariantConversion, SingleOverflowsPastItsRange) {
  const platform::ScopedLocale japanese{platform::LocaleSettings{}};
  EXPECT_EQ(error_of(Variant(1e300), VarType::Single), 6);
  EXPECT_EQ(error_of(Variant(-3.5e38), VarType::Single), 6);
  EXPECT_EQ(error_of(Variant("1E39"), VarType::Single), 6);
  EXPECT_EQ(*change_type(Variant(3.4028234e38), VarType::Single).get_if<float>(),
            std::numeric_limits<float>::max());
  EXPECT_EQ(*change_type(Variant(1e-50), VarType::Single).get_if<float>(), 0.0f);  // too small is 0
  EXPECT_EQ(*change_type(Variant(Currency{-15000}), VarType::Single).get_if<float>(), -1.5f);
}

// Text once went through a double on its way to a LongLong, which holds 53 bits: the largest
// values overflowed and others came back as a neighbour.
TEST(VariantConversion, LongLongTextReadsBackExactly) {
  const platform::ScopedLocale japanese{platform::LocaleSettings{}};
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  for (const std::int64_t n : {kMax, kMin, std::int64_t{9007199254740993}, std::int64_t{-9007199254740993}}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Variant(Variant(n).to_string()).to_i64(), n);
    EXPECT_EQ(*change_type(Variant(std::to_string(n)), VarType::LongLong).get_if<std::int64_t>(), n);
  }
  EXPECT_EQ(Variant("9,007,199,254,740,993").to_i64(), 9007199254740993);
  EXPECT_EQ(Variant("9223372036854775806.5").to_i64(), kMax - 1);  // half to even
  EXPECT_EQ(error_of(Variant("9223372036854775808"), VarType::LongLong), 6);
  EXPECT_EQ(error_of(Variant("-9223372036854775809"), VarType::LongLong), 6);
  EXPECT_EQ(Variant("2024/1/5").to_i64(), 45296);  // a date text is its day count
  EXPECT_EQ(error_of(Variant("12x"), VarType::LongLong), 13);
}

}  // namespace
}  // namespace ovik
