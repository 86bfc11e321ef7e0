#include <gtest/gtest.h>

#include "database/access/connection_string.h"
#include "database/access/driver.h"
#include "ovik/component.h"
#include "ovik/environment.h"

namespace ovik {
namespace {

std::string error_text(const Ref<_clsConnectString>& cs) {
  try {
    cs->GetValue();
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.number(), -1);
    EXPECT_EQ(e.source(), "clsConnectString");
    return e.description();
  }
  return "(no error)";
}

Ref<_clsConnectString> filled(const std::string& provider, const std::string& server, const std::string& user,
                              const std::string& password, const std::string& database) {
  auto cs = create<_clsConnectString>("OvikEnvironment.clsConnectString");
  cs->SetProvider(provider);
  cs->SetServer(server);
  cs->SetUser(user);
  cs->SetPassword(password);
  cs->SetInitialDatabase(database);
  return cs;
}

TEST(ConnectString, ReportsTheFirstMissingItemInIndexOrder) {
  auto cs = create<_clsConnectString>("OvikEnvironment.clsConnectString");
  EXPECT_EQ(error_text(cs), "Ole Db Provider 名が設定されていません");
  cs->SetInitialDatabase("db");
  cs->SetPassword("pw");
  EXPECT_EQ(error_text(cs), "Ole Db Provider 名が設定されていません");
  cs->SetProvider("SQLOLEDB");
  EXPECT_EQ(error_text(cs), "サーバー名が設定されていません");
  cs->SetServer("srv");
  EXPECT_EQ(error_text(cs), "ログインユーザー名が設定されていません");
  cs->SetUser("sa");
  EXPECT_EQ(cs->GetValue(),
            "Provider=SQLOLEDB;Password=pw;User ID=sa;Initial Catalog=db;Data Source=srv;Persist Security Info=True");
  cs->Init();
  EXPECT_EQ(error_text(cs), "Ole Db Provider 名が設定されていません");

  auto no_password = create<_clsConnectString>("OvikEnvironment.clsConnectString");
  no_password->SetProvider("p");
  no_password->SetServer("s");
  no_password->SetUser("u");
  no_password->SetInitialDatabase("d");
  EXPECT_EQ(error_text(no_password), "パスワードが設定されていません");
}

TEST(ConnectString, FillsPlaceholdersAsTheTemplateSays) {
  // An empty value counts as set; a second call finds no placeholder; a value holding another
  // placeholder is rewritten when that placeholder's setter runs; placeholder case is exact.
  EXPECT_EQ(filled("SQLite", "", "", "", "").get()->GetValue(),
            "Provider=SQLite;Password=;User ID=;Initial Catalog=;Data Source=;Persist Security Info=True");

  auto twice = create<_clsConnectString>("OvikEnvironment.clsConnectString");
  twice->SetProvider("first");
  twice->SetProvider("second");
  twice->SetServer("s");
  twice->SetUser("u");
  twice->SetPassword("p");
  twice->SetInitialDatabase("d");
  EXPECT_EQ(twice->GetValue().substr(0, 15), "Provider=first;");

  auto nested = create<_clsConnectString>("OvikEnvironment.clsConnectString");
  nested->SetProvider("X{$server}Y{$SERVER}");
  nested->SetServer("host");
  nested->SetUser("u");
  nested->SetPassword("p");
  nested->SetInitialDatabase("d");
  EXPECT_EQ(nested->GetValue().substr(0, 30), "Provider=XhostY{$SERVER};Passw");
}

TEST(ConnectString, ValuesGoInByteForByte) {
  // Nothing is quoted or escaped: settings and store addresses add items through a ";" in a
  // value. `read` is the item as the connection then reads it (nullptr: the finished string does
  // not parse); `added`, an item the value added, as "key=value".
  struct Case {
    const char* item;  // "Password" or "Data Source"
    const char* value;
    const char* read;
    const char* added = nullptr;
  };
  const Case cases[] = {
      {"Password", "plain", "plain"},
      {"Password", "with=equals", "with=equals"},  // "=" in a value does not split it
      {"Password", "ab;cd", nullptr},              // "cd" is an item without "="
      {"Password", "a\"b;c", nullptr},
      {"Password", "パス;ワード", nullptr},
      {"Password", " lead", "lead"},  // blanks at the ends are the parser's to trim
      {"Password", "trail ", "trail"},
      {"Password", "\"a;b\"", "a;b"},  // a caller who needs a ";" in a value quotes it
      {"Password", "'a;b'", "a;b"},
      {"Password", "\"x\"\";y\"", "x\";y"},
      {"Password", "'a;b' or 'c'", nullptr},  // text after the closing quote
      {"Password", "\"quoted", nullptr},
      {"Data Source", "host;Network Library=DBMSSOCN", "host", "Network Library=DBMSSOCN"},
      {"Data Source", "data/new.db;Create If Missing=True", "data/new.db", "Create If Missing=True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const bool server = std::string(c.item) == "Data Source";
    auto cs = filled("SQLOLEDB", server ? c.value : "srv", "sa", server ? "pw" : c.value, "db");
    const std::string value = cs->GetValue();
    EXPECT_EQ(value, "Provider=SQLOLEDB;Password=" + std::string(server ? "pw" : c.value) +
                         ";User ID=sa;Initial Catalog=db;Data Source=" + (server ? c.value : "srv") +
                         ";Persist Security Info=True");
    if (!c.read) {
      EXPECT_THROW(access::ConnectionString::parse(value), access::DriverError);
      continue;
    }
    const auto parsed = access::ConnectionString::parse(value);
    EXPECT_EQ(parsed.get(c.item), c.read);
    EXPECT_EQ(parsed.get("User ID"), "sa");
    if (c.added) {
      const std::string added = c.added;
      const std::size_t equals = added.find('=');
      EXPECT_EQ(parsed.get(added.substr(0, equals)), added.substr(equals + 1));
    }
  }
}

}  // namespace
}  // namespace ovik
