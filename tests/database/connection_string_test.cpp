#include "database/access/connection_string.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "database/access/driver.h"
#include "database/access/odbc/odbc_driver.h"
#include "support/temp_dir.h"

namespace ovik::access {
namespace {

using Items = std::vector<std::pair<std::string, std::string>>;

struct ParseCase {
  std::string text;
  Items expected;
};

TEST(ConnectionStringTest, ParsesItems) {
  const std::vector<ParseCase> cases = {
      {"Provider=SQLite;Data Source=/tmp/a.db", {{"Provider", "SQLite"}, {"Data Source", "/tmp/a.db"}}},
      {"  Provider = SQLite ;  Data Source =  my file.db  ",
       {{"Provider", "SQLite"}, {"Data Source", "my file.db"}}},
      {"Password=\"a;b\";User ID=u", {{"Password", "a;b"}, {"User ID", "u"}}},
      {"Password='it''s'", {{"Password", "it's"}}},
      {"Password=\"say \"\"hi\"\"\"", {{"Password", "say \"hi\""}}},
      {"Password=\"  padded  \" ;X=1", {{"Password", "  padded  "}, {"X", "1"}}},
      {"Password=ab'c\"d", {{"Password", "ab'c\"d"}}},
      {"A=1;;B=2;", {{"A", "1"}, {"B", "2"}}},
      {"Pwd=x=y", {{"Pwd", "x=y"}}},
      {"A=", {{"A", ""}}},
      {"", {}},
      // A later duplicate replaces the value, in the place of the first.
      {"A=1;B=2;a=3", {{"A", "3"}, {"B", "2"}}},
      {"Data Source=日本語.db", {{"Data Source", "日本語.db"}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConnectionString::parse(c.text).items(), c.expected) << c.text;
  }
}

TEST(ConnectionStringTest, RejectsMalformedText) {
  for (const std::string_view text :
       {"Provider", "A=1;B", "A=\"unterminated", "A='x' y;B=1", "=value", "A=1; =2"}) {
    try {
      ConnectionString::parse(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const DriverError& e) {
      EXPECT_EQ(e.diagnostics().at(0).sqlstate, "08001") << text;
    }
  }
}

TEST(ConnectionStringTest, LooksUpKeysWithoutRegardToCase) {
  auto cs = ConnectionString::parse("Provider=SQLite;Data Source=x.db;Password=");
  EXPECT_EQ(cs.get("DATA SOURCE"), "x.db");
  EXPECT_EQ(cs.get(" provider "), "SQLite");
  EXPECT_TRUE(cs.contains("password"));
  EXPECT_EQ(cs.find("Password"), std::optional<std::string>(""));
  EXPECT_FALSE(cs.find("User ID").has_value());
  EXPECT_EQ(cs.get("User ID", "fallback"), "fallback");

  cs.set("data source", "y.db");
  cs.set("Mode", "Read");
  cs.erase("PASSWORD");
  EXPECT_EQ(cs.to_string(), "Provider=SQLite;Data Source=y.db;Mode=Read");
}

TEST(ConnectionStringTest, SerialisedValuesParseBackUnchanged) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"}, {"a;b", "\"a;b\""}, {" lead", "\" lead\""},     {"trail ", "\"trail \""},
      {"\"q", "'\"q'"},   {"'q", "\"'q\""},   {"it's", "it's"},           {"\"mix'", "\"\"\"mix'\""},
      {"", ""},           {"x=y", "x=y"},     {"日本;語", "\"日本;語\""},
  };
  for (const auto& [value, quoted] : cases) {
    EXPECT_EQ(quote_value(value), quoted) << value;
    ConnectionString cs;
    cs.set("Password", value);
    cs.set("User ID", "u");
    const auto back = ConnectionString::parse(cs.to_string());
    EXPECT_EQ(back.get("Password"), value) << cs.to_string();
    EXPECT_EQ(back.get("User ID"), "u") << cs.to_string();
  }
}

TEST(ConnectionStringTest, ClassifiesProvidersWithOrWithoutVersion) {
  const std::vector<std::pair<std::string, ProviderKind>> cases = {
      {"SQLite", ProviderKind::kSqlite},
      {"sqlite.1", ProviderKind::kSqlite},
      {"SQLOLEDB", ProviderKind::kSqlServer},
      {"sqloledb.1", ProviderKind::kSqlServer},
      {"MSDASQL.1", ProviderKind::kOdbc},
      {"", ProviderKind::kOdbc},
      {"OraOLEDB.Oracle.1", ProviderKind::kOracle},
      {"MSDAORA", ProviderKind::kOracle},
      {"Microsoft.Jet.OLEDB.4.0", ProviderKind::kAccess},
      {"microsoft.jet.oledb", ProviderKind::kAccess},
      {"SQLOLEDBX", ProviderKind::kUnknown},
      {"SQLite3", ProviderKind::kUnknown},
      {"sqloledb.x", ProviderKind::kUnknown},
      {"No.Such.Provider", ProviderKind::kUnknown},
  };
  for (const auto& [name, kind] : cases) EXPECT_EQ(classify_provider(name), kind) << name;
}

std::string utf16le_with_bom(const std::string& ascii_lines, const std::u16string& tail) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii_lines) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  for (const char16_t c : tail) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TEST(DataLinkFileTest, ReadsTheConnectionLineInEitherEncoding) {
  testing::TempDir dir;
  const std::string header = "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n";
  const auto wide = dir.write(
      "wide.udl", utf16le_with_bom(header + "Provider=SQLite;Data Source=/data/", u"\u65e5\u672c.db\r\n"));
  EXPECT_EQ(read_data_link_file(wide), "Provider=SQLite;Data Source=/data/日本.db");

  const auto bom =
      dir.write("bom.udl", "\xEF\xBB\xBF" + header + "\r\n  Provider=MSDASQL;Data Source=dsn  \n");
  EXPECT_EQ(read_data_link_file(bom), "Provider=MSDASQL;Data Source=dsn");

  const auto plain = dir.write("plain.udl", "Provider=SQLite;Data Source=a.db");
  EXPECT_EQ(read_data_link_file(plain), "Provider=SQLite;Data Source=a.db");
}

TEST(DataLinkFileTest, OuterItemsOverrideTheFile) {
  testing::TempDir dir;
  const auto path = dir.write("x.udl", "[oledb]\nProvider=SQLite;Data Source=file.db;Password=old\n");
  ConnectionString outer;
  outer.set("File Name", path);
  outer.set("Password", "new");
  const auto resolved = resolve_data_link(outer);
  EXPECT_EQ(resolved.items(),
            (Items{{"Provider", "SQLite"}, {"Data Source", "file.db"}, {"Password", "new"}}));
  // Without "File Name" the string stays as it is.
  EXPECT_EQ(resolve_data_link(resolved).items(), resolved.items());
}

TEST(DataLinkFileTest, UnreadableFilesAreProviderErrorsNamingTheFile) {
  testing::TempDir dir;
  const auto comments = dir.write("empty.udl", "[oledb]\r\n; only a comment\r\n");
  for (const auto& path : {dir.str() + "/missing.udl", dir.str(), comments}) {
    try {
      read_data_link_file(path);
      ADD_FAILURE() << "read: " << path;
    } catch (const DriverError& e) {
      EXPECT_EQ(e.diagnostics().at(0).sqlstate, "08001");
      EXPECT_NE(e.diagnostics().at(0).message.find(path), std::string::npos) << e.what();
    }
  }
}

struct OdbcCase {
  std::string oledb;
  std::vector<std::string> installed;
  std::string odbc;  // empty: IM002 expected
};

TEST(OdbcConnectionStringTest, TranslatesEachProvider) {
  const std::vector<std::string> debian = {"FreeTDS", "PostgreSQL ANSI", "PostgreSQL Unicode", "SQLite3"};
  const std::vector<OdbcCase> cases = {
      {"Provider=SQLOLEDB.1;Data Source=db1\\SQLEXPRESS;Initial Catalog=shop;User ID=sa;Password=\"a;b}c\"",
       debian, "Driver={FreeTDS};Server=db1\\SQLEXPRESS;Database=shop;UID=sa;PWD={a;b}}c};TDS_Version=7.4"},
      {"Provider=SQLOLEDB;Data Source=10.0.0.5,1433;Initial Catalog=;User ID=;Password=", debian,
       "Driver={FreeTDS};Server=10.0.0.5;Port=1433;TDS_Version=7.4"},
      {"Provider=SQLOLEDB;Data Source=tcp:host\\inst, 1500;TDS_Version=7.3", debian,
       "Driver={FreeTDS};Server=host;Port=1500;TDS_Version=7.3"},
      {"Provider=SQLOLEDB;Data Source=h", {"PostgreSQL Unicode"}, ""},
      {"Provider=MSDASQL;Data Source=ovik_pg;User ID=u;Password=p;Initial Catalog=db",
       {},
       "DSN=ovik_pg;UID=u;PWD=p;DATABASE=db"},
      // The connection string template leaves empty items; they are not passed on.
      {"Provider=MSDASQL.1;Password=;User ID=;Initial Catalog=;Data Source=dsn;Persist Security Info=True",
       {},
       "DSN=dsn"},
      {"Provider=MSDASQL;Driver={PostgreSQL Unicode};Server=h;Port=5432;Password=\"x;y\"",
       {},
       "Driver={PostgreSQL Unicode};PWD={x;y};Server=h;Port=5432"},
      {"Provider=MSDASQL;Extended Properties=\"DRIVER={SQLite3};Database=:memory:\";User ID=u",
       {},
       "DRIVER={SQLite3};Database=:memory:;UID=u"},
      {"Provider=OraOLEDB.Oracle.1;Data Source=orcl;User ID=scott;Password=tiger", debian, ""},
      {"Provider=MSDAORA;Data Source=orcl;User ID=scott;Password=tiger",
       {"Oracle 19 ODBC driver"},
       "Driver={Oracle 19 ODBC driver};DBQ=orcl;UID=scott;PWD=tiger"},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/a.mdb",
       {"MDBTools"},
       "Driver={MDBTools};DBQ=/data/a.mdb"},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/a.mdb", debian, ""},
  };
  for (const auto& c : cases) {
    const auto cs = ConnectionString::parse(c.oledb);
    if (c.odbc.empty()) {
      try {
        odbc_connection_string(cs, c.installed);
        ADD_FAILURE() << "translated: " << c.oledb;
      } catch (const DriverError& e) {
        EXPECT_EQ(e.diagnostics().at(0).sqlstate, "IM002") << c.oledb;
        EXPECT_NE(e.diagnostics().at(0).message.find("not installed"), std::string::npos) << e.what();
      }
    } else {
      EXPECT_EQ(odbc_connection_string(cs, c.installed), c.odbc) << c.oledb;
    }
  }
}

TEST(OdbcConnectionStringTest, BracesValuesThatNeedThem) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"}, {"a;b}c", "{a;b}}c}"}, {"{x}", "{{x}}}"},
      {"a=b", "{a=b}"},   {" x", "{ x}"},        {"", ""},
  };
  for (const auto& [value, quoted] : cases) EXPECT_EQ(odbc_quote(value), quoted) << value;
}

}  // namespace
}  // namespace ovik::access
