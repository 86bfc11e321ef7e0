// The environment object driven by a late-bound client (`ovik script`): message boxes come out as
// JSON lines before the answer of the request that showed them, and failures as error answers.
#include <gtest/gtest.h>

#include "script_host.h"
#include "support/script_run.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace ovik::host {
namespace {

using testing::run_script;

const Json kNotice = {{"msgbox",
                       {{"text", "アプリケーション初期化に失敗しています。一旦終了し、再立ち上げして下さい。"},
                        {"title", "警告"},
                        {"style", 64}}}};

TEST(SystemInfoScript, BadSettingsShowTheNoticeAndGiveDefaults) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir.path() / "app/bin");
  dir.write("app/ini/Brindlemark.ini",
            "[accountitem]\r\naccitem_store=12x\r\naccitem_petty= 7 \r\n"
            "[database]\r\nprovider=SQLite\r\nserver=" + dir.str() + "/app.db\r\n");
  testing::FakeModule module(dir.str() + "/app/bin");
  auto a = run_script({
      R"({"new": "OvikEnvironment.clsSystemInfo", "as": "si"})",
      R"({"call": "si.funAccountItem"})",
      R"({"call": "si.funAccountItemOfPetty"})",
      R"({"call": "si.funPosInfoImport", "args": ["a", "b", "c"]})",
      R"({"get": "si.IniFiles", "args": [2]})",
      R"({"get": "si.IniFiles", "args": [0], "as": "app"})",
      R"({"call": "app.GetIni", "args": ["accountitem", "accitem_petty"]})",
      R"({"call": "si.OpenDatabase"})",
      R"({"call": "si.PrintApplog", "args": ["entry", 1]})",
  });
  ASSERT_EQ(a.size(), 13u);
  EXPECT_EQ(a[1], kNotice);  // the message box first, then the answer with the default
  EXPECT_EQ(a[2]["result"], 0);
  EXPECT_EQ(a[3]["result"], 7);
  EXPECT_EQ(a[4], kNotice);
  EXPECT_EQ(a[5]["result"], false);
  EXPECT_EQ(a[5]["args"], Json::array({"a", "b", "c"}));
  EXPECT_EQ(a[6]["error"]["number"], 5);
  EXPECT_EQ(a[8]["result"], "7");  // blanks around a value are the profile functions' to remove
  // OpenDatabase: the two incomplete sections show one notice each, then the attach fails with 91.
  EXPECT_EQ(a[9], kNotice);
  EXPECT_EQ(a[10], kNotice);
  EXPECT_EQ(a[11]["error"]["number"], 91);
  // PrintApplog's section "database" lacks keys: 60000 reaches the caller, nothing is logged.
  EXPECT_EQ(a[12]["error"]["number"], 60000);
  EXPECT_EQ(a[12]["error"]["source"], "clsIniFile");
}

}  // namespace
}  // namespace ovik::host
