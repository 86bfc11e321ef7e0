#include <gtest/gtest.h>

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

TEST(ConnectString, ValuesThatWouldBreakTheStringAreQuoted) {
  struct Case {
    const char* password;
    const char* written;
  };
  const Case cases[] = {
      {"plain", "plain"},                 // unchanged, byte for byte
      {"with=equals", "with=equals"},     // "=" in a value does not split it
      {"ab;cd", "\"ab;cd\""},             // would end the item early
      {" lead", "\" lead\""},             // blanks at the ends would be trimmed
      {"trail ", "\"trail \""},
      {"a\"b;c", "\"a\"\"b;c\""},         // an inner double quote is doubled
      {"\"quoted", "\"\"\"quoted\""},     // a leading quote would start a quoted value
      {"パス;ワード", "\"パス;ワード\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    auto cs = filled("SQLOLEDB", "srv", "sa", c.password, "db");
    EXPECT_EQ(cs->GetValue(), std::string("Provider=SQLOLEDB;Password=") + c.written +
                                  ";User ID=sa;Initial Catalog=db;Data Source=srv;Persist Security Info=True");
  }
}

}  // namespace
}  // namespace ovik
