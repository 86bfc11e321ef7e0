// SQL literals of clsDatabase on every kind of database, with the user's settings and the clock
// pinned so that neither the machine's locale nor today's date matters.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/fake_connection.h"
#include "platform/clock.h"
#include "platform/locale_rules.h"

namespace ovik::testing {
namespace {

class FixedYearClock final : public platform::Clock {
 public:
  std::int64_t system_time_as_file_time() override { return 0; }
  platform::CivilNow local_now() override { return {2031, 6, 15, 12, 0, 0}; }
};

struct Kind {
  const char* provider;
  ConnectedDatabaseTypeEnum type;
};
const Kind kKinds[] = {
    {"OraOLEDB.Oracle.1", ConnectedDatabaseTypeEnum::IsOracle},
    {"Microsoft.Jet.OLEDB.4.0", ConnectedDatabaseTypeEnum::IsAccess},
    {"SQLOLEDB.1", ConnectedDatabaseTypeEnum::IsSqlServer},
    {"SQLite", ConnectedDatabaseTypeEnum::IsUnknown},
};

class LiteralsTest : public ::testing::Test {
 protected:
  // A database connected to a fake connection reporting `provider`.
  Ref<clsDatabase> connected(const std::string& provider) {
    source_.provider = provider;
    Ref<clsDatabase> db = make_object<clsDatabase>();
    EXPECT_TRUE(db->Connect("Provider=" + provider, HowToConnectEnum::ConnectByConnectionString));
    return db;
  }
  static std::int32_t error_of(const std::function<void()>& call) {
    try {
      call();
    } catch (const RaisedError& e) {
      return e.number();
    }
    return 0;
  }

  platform::ScopedLocale locale_{platform::LocaleSettings{}};
  FixedYearClock clock_;
  platform::ScopedFake<platform::Clock> clock_fake_{clock_};
  FakeConnectionSource source_;
  platform::ScopedFake<ConnectionSource> source_fake_{source_};
};

// Every row of the literal table, on each kind of database.
TEST_F(LiteralsTest, TableOfResultsByKindOfDatabase) {
  using N = SqlStringParmitNullEnum;
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.provider);
    Ref<clsDatabase> db = connected(kind.provider);
    ASSERT_EQ(db->get_Provider(), kind.type);
    std::string empty, grouped = "1,234.50", padded = "007", abc = "abc";
    EXPECT_EQ(db->NumConv(empty, N::FieldIsNotNullable), "0");
    EXPECT_EQ(db->NumConv(empty, N::FieldIsNullable), "NULL");
    EXPECT_EQ(db->NumConv(grouped, N::FieldIsNotNullable), "1234.5");
    EXPECT_EQ(db->NumConv(padded, N::FieldIsNullable), "7");
    EXPECT_EQ(error_of([&] { db->NumConv(abc, N::FieldIsNotNullable); }), 13);
    EXPECT_EQ(db->VarConv(""), "NULL");
    EXPECT_EQ(db->VarConv("O'Neil"), "'O''Neil'");
    EXPECT_EQ(db->VarConv("'x''"), "'''x'''''");  // quotes first, last and side by side

    std::string when = "2024/1/5 9:03", not_a_date = "not a date";
    const std::string expected_date[] = {"to_date('2024/01/05 09:03:00','YYYY/MM/DD HH24:MI:SS')",
                                         "#2024/01/05 09:03:00#", "'2024/01/05 09:03:00'",
                                         "'2024/01/05 09:03:00'"};
    EXPECT_EQ(db->DayConv(when), expected_date[static_cast<int>(kind.type)]);
    EXPECT_EQ(db->DayConv(empty), "NULL");
    EXPECT_EQ(db->DayConv(not_a_date), "NULL");
    EXPECT_EQ(when, "2024/1/5 9:03");  // by reference, never written
  }
}

TEST_F(LiteralsTest, NumConvEdges) {
  Ref<clsDatabase> db = connected("SQLite");
  struct Case {
    const char* text;
    const char* result;  // nullptr: fails with `error`
    std::int32_t error;
  };
  const Case cases[] = {
      {"   ", nullptr, 13},  // only the empty text counts as empty
      {"1.23456", "1.2346", 0},
      {"0.00004", "0", 0},
      {"-12.5", "-12.5", 0},
      {" 12 ", "12", 0},
      {"12.0000", "12", 0},
      {"922337203685477.5807", "922337203685477.5807", 0},
      {"-922337203685477.5808", "-922337203685477.5808", 0},
      {"922337203685477.5808", nullptr, 6},
      {"1E300", nullptr, 6},
      {"1.2.3", nullptr, 13},
      {"１２", nullptr, 13},  // full-width digits are not a number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    if (c.result != nullptr) {
      EXPECT_EQ(db->NumConv(text, SqlStringParmitNullEnum::FieldIsNotNullable), c.result);
    } else {
      EXPECT_EQ(error_of([&] { db->NumConv(text, SqlStringParmitNullEnum::FieldIsNotNullable); }), c.error);
    }
  }
  std::string empty;
  EXPECT_EQ(db->NumConv(empty, static_cast<SqlStringParmitNullEnum>(7)), "NULL");
}

TEST_F(LiteralsTest, NumConvWithANulCharacterIsATypeMismatch) {
  Ref<clsDatabase> db = connected("SQLite");
  std::string text(
      "12\0"
      "3",
      4);
  EXPECT_EQ(error_of([&] { db->NumConv(text, SqlStringParmitNullEnum::FieldIsNullable); }), 13);
}

TEST_F(LiteralsTest, VarConvQuotesWithoutTouchingAnythingElse) {
  Ref<clsDatabase> db = connected("SQLite");
  EXPECT_EQ(db->VarConv("'"), "''''");
  EXPECT_EQ(db->VarConv(" a\r\nb "), "' a\r\nb '");
  EXPECT_EQ(db->VarConv("店舗'コード"), "'店舗''コード'");
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(db->VarConv(with_nul), std::string("'a\0b'", 5));
  const std::string long_text(1 << 20, '\'');
  EXPECT_EQ(db->VarConv(long_text).size(), 2 * long_text.size() + 2);
}

TEST_F(LiteralsTest, DayConvForms) {
  Ref<clsDatabase> db = connected("SQLite");
  struct Case {
    const char* text;
    const char* result;  // nullptr: overflow (6)
  };
  const Case cases[] = {
      {"2024/1/5", "'2024/01/05 00:00:00'"},
      {"9:03", "'1899/12/30 09:03:00'"},
      {"21:15:07", "'1899/12/30 21:15:07'"},
      {"1/5", "'2031/01/05 00:00:00'"},  // no year: the clock's
      {"1850/2/3 23:59:59", "'1850/02/03 23:59:59'"},
      {"9999/12/31 23:59:59", "'9999/12/31 23:59:59'"},
      {"0100/1/1", "'0100/01/01 00:00:00'"},
      {"10000/1/1", nullptr},  // a date the literal cannot hold, never NULL in its place
      {"0099-12-31 00:00:00", nullptr},
      {"12/31/0099", "NULL"},  // no such month in year-first order
      {"0099/2/30", "NULL"},
      {"2023/2/29", "NULL"},
      {"2024/13/1", "NULL"},
      {"25:00", "NULL"},
      {" ", "NULL"},
      {"２０２４/1/5", "NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    if (c.result != nullptr) {
      EXPECT_EQ(db->DayConv(text), c.result);
    } else {
      EXPECT_EQ(error_of([&] { db->DayConv(text); }), 6);
    }
  }
  Ref<clsDatabase> access = connected("Microsoft.Jet.OLEDB.4.0");
  std::string date_only = "2024/1/5";
  EXPECT_EQ(access->DayConv(date_only), "#2024/01/05 00:00:00#");
}

TEST_F(LiteralsTest, DayConvWithoutConnectionFailsOnlyForValidDates) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  std::string invalid = "nope", valid = "2024/1/5";
  EXPECT_EQ(db->DayConv(invalid), "NULL");
  EXPECT_EQ(error_of([&] { db->DayConv(valid); }), 91);
}

TEST_F(LiteralsTest, GetValueStringByFieldTypeClass) {
  Ref<clsDatabase> db = connected("SQLOLEDB.1");
  platform::CivilDateTime when{2024, 1, 5, 9, 3, 0};
  double ole = 0;
  ASSERT_TRUE(platform::ole_from_civil(when, ole));
  struct Case {
    Variant value;
    std::int32_t type;
    const char* result;
  };
  const std::vector<Case> cases = {
      {Variant(Null{}), ado::adInteger, "Null"},
      {Variant(), ado::adInteger, "Null"},
      {Variant(Null{}), ado::adVarChar, "NULL"},
      {Variant(""), ado::adVarWChar, "NULL"},
      {Variant(Null{}), ado::adDBTimeStamp, "NULL"},
      {Variant(std::int32_t{5}), ado::adInteger, "5"},
      {Variant(std::int64_t{-9000000000}), ado::adBigInt, "-9000000000"},
      {Variant(1.5), ado::adDouble, "1.5"},
      {Variant(Currency{125000}), ado::adCurrency, "12.5"},
      {Variant(true), ado::adBoolean, "True"},
      {Variant("O'Neil"), ado::adVarChar, "'O''Neil'"},
      {Variant(std::int32_t{42}), ado::adWChar, "'42'"},
      {Variant("x"), ado::adVariant, "'x'"},
      {Variant(DateTime{ole}), ado::adDBTimeStamp, "'2024/01/05 09:03:00'"},
      {Variant(DateTime{ole}), ado::adDate, "'2024/01/05 09:03:00'"},
      {Variant("2024/1/5"), ado::adDBDate, "'2024/01/05 00:00:00'"},
      {Variant("not a date"), ado::adDBTime, "NULL"},
      {Variant(DateTime{-657434.0}), ado::adDBTimeStamp, "'0100/01/01 00:00:00'"},
      {Variant(DateTime{2958465.99998}), ado::adDBTimeStamp, "'9999/12/31 23:59:58'"},
      {Variant("9999-12-31 23:59:59"), ado::adDBTimeStamp, "'9999/12/31 23:59:59'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.result) + " / type " + std::to_string(c.type));
    EXPECT_EQ(db->GetValueString(c.value, c.type), c.result);
  }
  // Dates outside the years 100 to 9999 (as a server hands them over: text) are refused, in any
  // field: they once became 1899/12/30, NULL or a text that reads as no date.
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Variant> outside = {
      Variant(DateTime{std::numeric_limits<double>::quiet_NaN()}), Variant(DateTime{inf}),
      Variant(DateTime{-inf}), Variant(DateTime{1e300}), Variant(DateTime{-1e300}),
      Variant(DateTime{-657435.0}), Variant(DateTime{2958466.0}), Variant("0099-12-31 00:00:00"),
      Variant("10000-01-01 00:00:00"),
  };
  for (std::size_t i = 0; i < outside.size(); ++i) {
    for (const std::int32_t type : {ado::adDBTimeStamp, ado::adDate, ado::adInteger}) {
      if (outside[i].is_string() && type == ado::adInteger) continue;  // text there is no date
      EXPECT_EQ(error_of([&] { db->GetValueString(outside[i], type); }), 6) << i << " type " << type;
    }
  }
}

// A value of the other class goes in unquoted only when it is a number (or a Boolean): text in a
// numeric column, which SQLite allows, becomes a string literal and can never end the statement.
TEST_F(LiteralsTest, GetValueStringQuotesWhatIsNotANumber) {
  Ref<clsDatabase> db = connected("SQLite");
  platform::CivilDateTime when{2024, 1, 5, 9, 3, 0};
  double ole = 0;
  ASSERT_TRUE(platform::ole_from_civil(when, ole));
  struct Case {
    Variant value;
    std::string result;
  };
  const std::vector<Case> cases = {
      {Variant("12"), "12"},
      {Variant("-0.5"), "-0.5"},
      {Variant("+.5e-3"), "+.5e-3"},
      {Variant("7."), "7."},
      {Variant(1e20), "1E+20"},
      {Variant(false), "False"},
      {Variant("1,NULL,NULL); delete from victim; --"), "'1,NULL,NULL); delete from victim; --'"},
      {Variant("1;"), "'1;'"},
      {Variant("text"), "'text'"},
      {Variant("it's"), "'it''s'"},
      {Variant(" 12"), "' 12'"},
      {Variant("1,5"), "'1,5'"},
      {Variant("0x10"), "'0x10'"},
      {Variant("1e"), "'1e'"},
      {Variant("."), "'.'"},
      {Variant("-"), "'-'"},
      {Variant("True"), "'True'"},  // text, not a Boolean
      {Variant(std::string("1\0;", 3)), std::string("'1\0;'", 5)},
      {Variant(DateTime{ole}), "'2024/01/05 9:03:00'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.to_string());
    for (const std::int32_t type :
         {ado::adInteger, ado::adNumeric, ado::adDouble, ado::adBoolean, 72 /* GUID */}) {
      EXPECT_EQ(db->GetValueString(c.value, type), c.result) << "type " << type;
    }
  }
}

// Binary values are written as the connected database's own hex literal, chosen by its provider.
TEST_F(LiteralsTest, BinaryValuesBecomeTheDatabasesHexLiteral) {
  const Variant bytes(std::string("\0\xff');--", 7));
  struct Case {
    const char* provider;
    const char* result;
  };
  const std::vector<Case> cases = {
      {"SQLite", "X'00FF27293B2D2D'"},
      {"SQLOLEDB.1", "0x00FF27293B2D2D"},
      {"Microsoft.Jet.OLEDB.4.0", "0x00FF27293B2D2D"},
      {"OraOLEDB.Oracle.1", "hextoraw('00FF27293B2D2D')"},
      {"MSDASQL.1", "E'\\\\x00FF27293B2D2D'::bytea"},
  };
  for (const Case& c : cases) {
    Ref<clsDatabase> db = connected(c.provider);
    for (const std::int32_t type : {ado::adBinary, ado::adVarBinary, ado::adLongVarBinary}) {
      EXPECT_EQ(db->GetValueString(bytes, type), c.result) << c.provider << " type " << type;
      EXPECT_EQ(db->GetValueString(Variant(Null{}), type), "Null");
      EXPECT_EQ(db->GetValueString(Variant(""), type), "Null");
    }
  }
  // Which form is right depends on the database: without a connection there is no answer.
  EXPECT_EQ(error_of([&] { make_object<clsDatabase>()->GetValueString(bytes, ado::adBinary); }), 91);
}

// The user's settings read the input; the SQL text always carries a "." decimal point, or a value
// list would split "1,5" into two values.
TEST_F(LiteralsTest, DecimalCommaSettingsStillGiveSqlNumbers) {
  platform::ScopedLocale german(platform::LocaleSettings{{",", "."}, {platform::DateOrder::DMY}});
  Ref<clsDatabase> db = connected("SQLite");
  std::string text = "1.234,56";
  EXPECT_EQ(db->NumConv(text, SqlStringParmitNullEnum::FieldIsNotNullable), "1234.56");
  EXPECT_EQ(db->GetValueString(Variant(2.25), ado::adDouble), "2.25");
  EXPECT_EQ(db->GetValueString(Variant(Currency{-15000}), ado::adCurrency), "-1.5");
  std::string day_first = "5.1.2024";
  EXPECT_EQ(db->DayConv(day_first), "'2024/01/05 00:00:00'");
  platform::CivilDateTime when{2024, 1, 5, 0, 0, 0};
  double ole = 0;
  ASSERT_TRUE(platform::ole_from_civil(when, ole));
  EXPECT_EQ(db->GetValueString(Variant(DateTime{ole}), ado::adDate), "'2024/01/05 00:00:00'");
}

TEST_F(LiteralsTest, LateBoundDefaultsOfNumConv) {
  Ref<clsDatabase> db = connected("SQLite");
  const std::int32_t id = db->GetIDOfName("numconv");
  ASSERT_NE(id, kDispidUnknown);
  std::vector<Variant> one{Variant("")};
  EXPECT_EQ(db->Invoke(id, InvokeKind::Method, one).to_string(), "0");  // flg omitted: not nullable
  std::vector<Variant> two{Variant(""), Variant(std::int32_t{0})};
  EXPECT_EQ(db->Invoke(id, InvokeKind::Method, two).to_string(), "NULL");
}

}  // namespace
}  // namespace ovik::testing
