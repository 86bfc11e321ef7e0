#include <gtest/gtest.h>

#include "ovik/component.h"
#include "ovik/environment.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::TempDir;

class IniFileTest : public ::testing::Test {
 protected:
  Ref<_clsIniFile> open(const std::string& content, const std::string& name = "app.ini") {
    dir_.write(name, content);
    Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
    ini->put_Path(dir_.str());
    ini->put_FileName(name);
    return ini;
  }
  static std::string get(const Ref<_clsIniFile>& ini, std::string section, std::string key) {
    return ini->GetIni(section, key);
  }
  static int error_of(const Ref<_clsIniFile>& ini, std::string section, std::string key) {
    try {
      ini->GetIni(section, key);
    } catch (const RaisedError& e) {
      EXPECT_EQ(e.source(), "clsIniFile");
      EXPECT_EQ(e.description(), "設定が見つかりません。");
      return e.number();
    }
    return 0;
  }
  TempDir dir_;
};

TEST_F(IniFileTest, ReadsValuesAndRaisesForWhatIsMissing) {
  auto ini = open("[database]\r\nprovider=SQLite\r\nempty=\r\nliteral=Not found\r\ntransaction_log=TRUE\r\n");
  EXPECT_EQ(get(ini, "database", "provider"), "SQLite");
  EXPECT_EQ(get(ini, "DATABASE", " Provider "), "SQLite");
  EXPECT_EQ(get(ini, "database", "transaction_log "), "TRUE");  // the key is looked up with a trailing blank
  EXPECT_EQ(get(ini, "database", "empty"), "");
  EXPECT_EQ(error_of(ini, "database", "literal"), 60000);  // a stored "Not found" reads as missing
  EXPECT_EQ(error_of(ini, "database", "nokey"), 60000);
  EXPECT_EQ(error_of(ini, "nosection", "provider"), 60000);
  // The object stays usable after the error.
  EXPECT_EQ(get(ini, "database", "provider"), "SQLite");
  ini->put_FileName("missing.ini");
  EXPECT_EQ(error_of(ini, "database", "provider"), 60000);
}

TEST_F(IniFileTest, FolderGetsItsSeparatorAtTheFirstUseAndKeepsIt) {
  auto ini = open("[a]\nb=c\n");
  EXPECT_EQ(ini->get_Path(), dir_.str());  // stored unchanged
  EXPECT_EQ(get(ini, "a", "b"), "c");
  EXPECT_EQ(ini->get_Path(), dir_.str() + "/");
  get(ini, "a", "b");
  EXPECT_EQ(ini->get_Path(), dir_.str() + "/");  // never doubled

  Ref<_clsIniFile> bare = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  std::string s = "a", k = "b";
  EXPECT_THROW(bare->GetIni(s, k), RaisedError);
  EXPECT_EQ(bare->get_Path(), "/");  // an empty folder becomes the root
}

TEST_F(IniFileTest, LongValuesAreCutToTheBufferInBytesWithoutSplittingACharacter) {
  std::string ascii(300, 'x');
  std::string japanese;
  for (int i = 0; i < 100; ++i) japanese += "設";  // 3 bytes each in UTF-8: 255 bytes = 85 characters
  auto ini = open("[s]\nascii=" + ascii + "\nja=x" + japanese + "\n");
  EXPECT_EQ(get(ini, "s", "ascii"), std::string(255, 'x'));
  std::string cut = get(ini, "s", "ja");
  EXPECT_LE(cut.size(), 255u);
  EXPECT_EQ(cut.size(), 1u + 84 * 3);  // the 85th character would need bytes 253..255: dropped whole
  EXPECT_EQ(cut.substr(1), japanese.substr(0, 84 * 3));
}

TEST_F(IniFileTest, PutIniWritesAndReportsFailureAsZero) {
  auto ini = open("; settings\r\n[database]\r\nprovider=SQLite\r\n");
  std::string s = "database", k = "server", v = "/srv/app.db";
  EXPECT_EQ(ini->PutIni(s, k, v), "1");
  EXPECT_EQ(s, "database");  // by-reference arguments are not changed
  EXPECT_EQ(get(ini, "database", "server"), "/srv/app.db");
  std::string empty;
  EXPECT_EQ(ini->PutIni(s, k, empty), "1");
  EXPECT_EQ(get(ini, "database", "server"), "");
  EXPECT_EQ(dir_.read("app.ini"), "; settings\r\n[database]\r\nprovider=SQLite\r\nserver=\r\n");

  ini->put_Path(dir_.str() + "/no/such/folder");
  EXPECT_EQ(ini->PutIni(s, k, v), "0");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "no"));
}

TEST_F(IniFileTest, LateBoundCallsSeeTheSameBehaviour) {
  auto ini = open("[a]\nb=c\n");
  std::vector<Variant> args{Variant("a"), Variant("b")};
  EXPECT_EQ(ini->Invoke(ini->GetIDOfName("getini"), InvokeKind::Method, args).to_string(), "c");
  args[1] = Variant("missing");
  try {
    ini->Invoke(ini->GetIDOfName("GetIni"), InvokeKind::Method, args);
    FAIL();
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.number(), 60000);
  }
}

}  // namespace
}  // namespace ovik
