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

TEST(ConnectString, OnlyAValueHoldingASemicolonIsQuoted) {
  // Every other value goes in byte for byte; `read` is the value as the connection then reads it
  // (nullptr: the finished string does not parse).
  struct Case {
    const char* password;
    const char* written;
    const char* read;
  };
  const Case cases[] = {
      {"plain", "plain", "plain"},
      {"with=equals", "with=equals", "with=equals"},  // "=" in a value does not split it
      {"ab;cd", "\"ab;cd\"", "ab;cd"},                 // would end the item early
      {"a\"b;c", "\"a\"\"b;c\"", "a\"b;c"},            // an inner double quote is doubled
      {"パス;ワード", "\"パス;ワード\"", "パス;ワード"},
      {" lead", " lead", "lead"},  // blanks at the ends are the parser's to trim
      {"trail ", "trail ", "trail"},
      {"\"a;b\"", "\"a;b\"", "a;b"},  // the caller quoted it already
      {"'a;b'", "'a;b'", "a;b"},
      {"\"x\"\";y\"", "\"x\"\";y\"", "x\";y"},
      {"'a;b' or 'c'", "\"'a;b' or 'c'\"", "'a;b' or 'c'"},  // quotes at the ends, yet not one quoted value
      {"\"quoted", "\"quoted", nullptr},                       // no ";": as given, though it cannot be read
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    auto cs = filled("SQLOLEDB", "srv", "sa", c.password, "db");
    const std::string value = cs->GetValue();
    EXPECT_EQ(value, std::string("Provider=SQLOLEDB;Password=") + c.written +
                         ";User ID=sa;Initial Catalog=db;Data Source=srv;Persist Security Info=True");
    if (c.read) {
      const auto parsed = access::ConnectionString::parse(value);
      EXPECT_EQ(parsed.get("Password"), c.read);
      EXPECT_EQ(parsed.get("User ID"), "sa");
    } else {
      EXPECT_THROW(access::ConnectionString::parse(value), access::DriverError);
    }
  }
}

}  // namespace
}  // namespace ovik
