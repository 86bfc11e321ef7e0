// The environment object on an application folder of its own: settings lookups with their
// notices and defaults, the three databases on SQLite, the master object, the end steps, the log
// printing and the logging of database error events.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "ovik/component.h"
#include "ovik/system_info.h"
#include "platform/user_interface.h"
#include "support/fake_platform.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FakeModule;
using testing::TempDir;

// Records the message boxes instead of showing them.
class MessageBoxes final : public platform::UserInterface {
 public:
  std::int32_t message_box(const std::string& text, const std::string& title, std::int32_t style) override {
    shown.push_back(title + "|" + text + "|" + std::to_string(style));
    return platform::kMessageBoxOk;
  }
  std::vector<std::string> shown;

 private:
  platform::ScopedFake<platform::UserInterface> guard_{*this};
};

const std::string kNotice = "警告|アプリケーション初期化に失敗しています。一旦終了し、再立ち上げして下さい。|64";

std::string database_section(const std::string& name, const std::string& file, const std::string& extra = "") {
  return "[" + name + "]\r\nprovider=SQLite\r\nserver=" + file +
         "\r\ndatabase_user=\r\npassword=\r\ndatabase_name=main\r\ntransaction_log =False\r\n" + extra;
}

class SystemInfoTest : public ::testing::Test {
 protected:
  // The databases the settings name exist (empty files are empty SQLite databases): a missing
  // one would not be created.
  void SetUp() override {
    for (const char* name : {"app.db", "master.db", "m.db", "store.db"})
      dir_.write(std::string("data/") + name, "");
  }
  // The library's folder exists; "../ini" is reached through it.
  void write_settings(const std::string& text) {
    std::filesystem::create_directories(dir_.path() / "app/bin");
    dir_.write("app/ini/Brindlemark.ini", text);
  }
  std::string db(const std::string& name) const { return dir_.str() + "/data/" + name; }
  void standard_settings(const std::string& more = "") {
    std::filesystem::create_directories(dir_.path() / "data");
    write_settings(database_section("database", db("app.db")) + database_section("master_database", db("master.db")) +
                   database_section("store_database", "ignored") + more);
  }
  Ref<_clsSystemInfo> make() { return create<_clsSystemInfo>("OvikEnvironment.clsSystemInfo"); }

  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
  MessageBoxes boxes_;
};

TEST_F(SystemInfoTest, CreationTouchesNothingAndLookupsFallBackToDefaults) {
  auto si = make();  // no ini folder at all
  EXPECT_EQ(si->get_LoginStoreCd(), 0);
  EXPECT_FALSE(si->get_Database());
  EXPECT_EQ(si->GetIniDir(), dir_.str() + "/app/bin/../ini/");
  EXPECT_EQ(si->funAccountItem(), 0);
  EXPECT_EQ(si->funFinancialServer(), "0");
  std::string pos = "p", emp = "e", bat = "b";
  EXPECT_FALSE(si->funPosInfoImport(pos, emp, bat));
  EXPECT_EQ(pos, "p");
  EXPECT_EQ(boxes_.shown, (std::vector<std::string>{kNotice, kNotice, kNotice}));
  EXPECT_THROW(si->get_IniFiles(static_cast<IniFileIndexEnum>(2)), RaisedError);
  EXPECT_EQ(si->get_IniFiles(IniFileIndexEnum::AppSetting).get(), si->get_IniFiles(IniFileIndexEnum::AppSetting).get());
}

TEST_F(SystemInfoTest, LookupsConvertByThePlatformRules) {
  write_settings(
      "[accountitem]\r\naccitem_store= 1101 \r\naccitem_petty=11a\r\n"
      "[Financial]\r\nserver=\r\ndatabase=FINDB\r\n"
      "[journalpattern]\r\njouptn_tenant=2.5\r\n"
      "[headoffice]\r\nheadoffice_0=7\r\nheadoffice_255=-32768\r\nheadoffice_3=32768\r\n"
      "[getposinfoimport]\r\npos_file=/pos.csv\r\nemployee_file=/emp.csv\r\n");
  auto si = make();
  EXPECT_EQ(si->funAccountItem(), 1101);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(si->funAccountItemOfPetty(), 0);  // letters: notice and default
  EXPECT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(si->funFinancialServer(), "");  // present but empty is not missing
  EXPECT_EQ(si->funFinancialDatabase(), "FINDB");
  EXPECT_EQ(si->funJournalPatternCode(), 2);  // half to even
  EXPECT_EQ(si->funHeadOfficeCode(0), 7);
  EXPECT_EQ(si->funHeadOfficeCode(255), -32768);
  EXPECT_EQ(si->funHeadOfficeCode(3), 0);  // beyond 16 bits
  EXPECT_EQ(boxes_.shown.size(), 2u);
  std::string pos, emp, bat = "unchanged";
  EXPECT_FALSE(si->funPosInfoImport(pos, emp, bat));
  EXPECT_EQ(pos, "/pos.csv");
  EXPECT_EQ(emp, "/emp.csv");
  EXPECT_EQ(bat, "unchanged");
}

TEST_F(SystemInfoTest, OpensClosesAndReopensTheDatabases) {
  standard_settings();
  auto si = make();
  si->OpenDatabase();
  EXPECT_TRUE(boxes_.shown.empty());
  ASSERT_TRUE(si->get_Database());
  ASSERT_TRUE(si->get_DatabaseOfTM());
  EXPECT_FALSE(si->get_DatabaseOfStore());  // no store address: not opened, no notice
  EXPECT_TRUE(si->get_Database()->get_Usable());
  Ref<_OvikMaster> master = si->get_Master();
  ASSERT_TRUE(master);
  EXPECT_EQ(master->get_ApplicationConnection().get(), si->get_Database()->get_Connection().get());
  EXPECT_EQ(master->get_MasterConnection().get(), si->get_DatabaseOfTM()->get_Connection().get());
  EXPECT_EQ(si->get_Master().get(), master.get());  // a second read opens nothing

  // An open transaction is committed by CloseDatabase.
  Ref<_clsDatabase> app = si->get_Database();
  Variant affected;
  app->get_Connection()->Execute("create table t (n integer)", affected, -1);
  app->get_Connection()->BeginTrans();
  app->put_TransFlg(true);
  app->get_Connection()->Execute("insert into t values (1)", affected, -1);
  si->CloseDatabase();
  EXPECT_FALSE(si->get_Database());
  EXPECT_FALSE(app->get_Usable());
  EXPECT_TRUE(si->get_Master());  // kept

  // Reading Master after CloseDatabase opens everything again.
  Ref<_OvikMaster> again = si->get_Master();
  ASSERT_TRUE(si->get_Database());
  Ref<_Recordset> rs = si->get_Database()->OpenForwardOnlyRecordset("select count(*) from t");
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant(0))->get_Value().to_i32(), 1);
}

// The settings template an installation ships, copied as it is: every key the library reads is
// there and usable, so the lookups and all three databases answer without a notice.
TEST_F(SystemInfoTest, TheShippedTemplateAnswersEveryLookupAndOpensEveryDatabase) {
  std::ifstream in(std::string(OVIK_SOURCE_DIR) + "/packaging/ini/Brindlemark.ini.template",
                   std::ios::binary);
  ASSERT_TRUE(in.is_open());
  std::ostringstream text;
  text << in.rdbuf();
  write_settings(text.str());
  for (const char* name : {"app.db", "master.db", "store.db"})
    dir_.write(std::string("app/data/") + name, "");
  auto si = make();
  EXPECT_EQ(si->funAccountItem(), 0);
  EXPECT_EQ(si->funAccountItemOfPetty(), 0);
  EXPECT_EQ(si->funFinancialServer(), "");
  EXPECT_EQ(si->funFinancialDatabase(), "");
  EXPECT_EQ(si->funJournalPatternCode(), 0);
  EXPECT_EQ(si->funHeadOfficeCode(1), 0);
  std::string pos, emp, bat;
  EXPECT_TRUE(si->funPosInfoImport(pos, emp, bat));
  EXPECT_FALSE(bat.empty());
  si->put_strGetIpAddress("data/store.db");
  si->OpenDatabase();
  for (const Ref<_clsDatabase>& db :
       {si->get_Database(), si->get_DatabaseOfTM(), si->get_DatabaseOfStore()}) {
    ASSERT_TRUE(db);
    EXPECT_TRUE(db->get_Usable());
    EXPECT_FALSE(db->get_TraceTransaction());
  }
  EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown.front();
}

// A client that closed a shared connection makes that database's Disconnect return False; the
// others still close.
TEST_F(SystemInfoTest, CloseDatabaseGoesOnAfterAClientClosedAConnection) {
  standard_settings();
  auto si = make();
  si->OpenDatabase();
  Ref<_clsDatabase> app = si->get_Database(), master = si->get_DatabaseOfTM();
  ASSERT_TRUE(app && master);
  app->get_Connection()->Close();
  EXPECT_NO_THROW(si->CloseDatabase());
  EXPECT_EQ(app->get_ErrorCD(), 3704);
  EXPECT_FALSE(master->get_Usable());
  EXPECT_FALSE(si->get_Database());
  EXPECT_FALSE(si->get_DatabaseOfTM());
}

TEST_F(SystemInfoTest, ASectionThatCannotBePreparedShowsOneNotice) {
  std::filesystem::create_directories(dir_.path() / "data");
  // The master section lacks transaction_log: it fails although its connection settings are complete.
  write_settings(database_section("database", db("app.db")) +
                 "[master_database]\r\nprovider=SQLite\r\nserver=" + db("m.db") +
                 "\r\ndatabase_user=\r\npassword=\r\ndatabase_name=main\r\n");
  auto si = make();
  try {
    si->OpenDatabase();
    FAIL() << "the absent master database must fail the attach with 91";
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.number(), err::kObjectNotSet);
  }
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{kNotice});
  EXPECT_TRUE(si->get_Database());  // the one that did open stays open
  EXPECT_FALSE(si->get_DatabaseOfTM());
}

// A settings value goes into the connection string as written, so it may add items: here the one
// that creates the missing master database (a relative path lies in the application folder).
TEST_F(SystemInfoTest, ASettingsValueAddsItemsToTheConnectionString) {
  std::filesystem::create_directories(dir_.path() / "app/data");
  write_settings(database_section("database", db("app.db")) +
                 database_section("master_database", "data/new.db;Create If Missing=True"));
  auto si = make();
  EXPECT_NO_THROW(si->OpenDatabase());
  EXPECT_TRUE(boxes_.shown.empty());
  ASSERT_TRUE(si->get_DatabaseOfTM());
  EXPECT_TRUE(si->get_DatabaseOfTM()->get_Usable());
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "app/data/new.db"));
}

TEST_F(SystemInfoTest, TheStoreUsesTheGivenAddressAndTracingFollowsTheKey) {
  std::filesystem::create_directories(dir_.path() / "data");
  write_settings(database_section("database", db("app.db")) + database_section("master_database", db("master.db")) +
                 "[store_database]\r\nprovider=SQLite\r\nserver=/nonexistent/never.db\r\ndatabase_user=\r\n"
                 "password=\r\ndatabase_name=main\r\ntransaction_log=TRUE\r\n");
  auto si = make();
  si->put_strGetIpAddress(db("store.db"));
  si->OpenDatabase();
  ASSERT_TRUE(si->get_DatabaseOfStore());
  EXPECT_TRUE(si->get_DatabaseOfStore()->get_Usable());
  EXPECT_EQ(si->get_DatabaseOfStore()->get_Connection()->get_DefaultDatabase(), "store");
  EXPECT_TRUE(si->get_DatabaseOfStore()->get_TraceTransaction());
  EXPECT_FALSE(si->get_Database()->get_TraceTransaction());
}

// A store address naming no database file opens nothing (no empty database appears, in the working
// folder or anywhere); a relative one lies in the application folder, the parent of "ini".
TEST_F(SystemInfoTest, TheStoreAddressNamesAnExistingFileOfTheApplicationFolder) {
  standard_settings();
  dir_.write("app/data/store.db", "");
  auto si = make();
  si->put_strGetIpAddress("data/store.db");
  si->OpenDatabase();
  EXPECT_TRUE(boxes_.shown.empty());
  ASSERT_TRUE(si->get_DatabaseOfStore());
  EXPECT_TRUE(si->get_DatabaseOfStore()->get_Usable());
  si->CloseDatabase();

  const auto working_folder = std::filesystem::current_path();
  for (const std::string address : {"5", "data/nostore.db"}) {
    si->put_strGetIpAddress(address);
    si->OpenDatabase();
    EXPECT_FALSE(si->get_DatabaseOfStore()) << address;
    EXPECT_FALSE(std::filesystem::exists(working_folder / address)) << address;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "app" / address)) << address;
    si->CloseDatabase();
  }
  EXPECT_EQ(boxes_.shown, (std::vector<std::string>{kNotice, kNotice}));
}

TEST_F(SystemInfoTest, TheStoreDatabaseOnPostgreSqlIsReachedThroughItsAddress) {
  auto server = testing::PgServer::from_environment();
  OVIK_REQUIRE_PG_SERVER(server);
  std::filesystem::create_directories(dir_.path() / "data");
  // Through ODBC the store's "address" is the data source name; the section's own server key is ignored.
  write_settings(database_section("database", db("app.db")) + database_section("master_database", db("master.db")) +
                 "[store_database]\r\nprovider=MSDASQL\r\nserver=not-this-one\r\ndatabase_user=" + server->user +
                 "\r\npassword=" + server->password + "\r\ndatabase_name=citestdb\r\ntransaction_log=false\r\n");
  auto si = make();
  si->put_strGetIpAddress(server->dsn);
  si->OpenDatabase();
  EXPECT_TRUE(boxes_.shown.empty());
  ASSERT_TRUE(si->get_DatabaseOfStore());
  Ref<_clsDatabase> store = si->get_DatabaseOfStore();
  EXPECT_TRUE(store->get_Usable());
  EXPECT_EQ(store->get_Provider(), ConnectedDatabaseTypeEnum::IsUnknown);
  Ref<_Recordset> rs = store->OpenForwardOnlyRecordset("select current_database()");
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant(0))->get_Value().to_string(), "citestdb");
  // The connection that the environment object built from its settings is in the test's own
  // schema, where a table the test made under a plain name is found.
  {
    auto own = new_connection();
    own->Open(server->connection_string(), "", "", -1);
    Variant affected;
    own->Execute("create table store_probe (n integer)", affected, -1);
    own->Execute("insert into store_probe values (7)", affected, -1);
  }
  rs = store->OpenForwardOnlyRecordset("select n from store_probe");
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant(0))->get_Value().to_i32(), 7);
  rs.reset();
  si->CloseDatabase();
  EXPECT_FALSE(store->get_Usable());

  // Released with everything open: the server sees no session of it afterwards.
  const std::string app_name = "ovik-si-" + std::to_string(getpid());
  auto checker = new_connection();
  checker->Open(server->connection_string(), "", "", -1);
  setenv("PGAPPNAME", app_name.c_str(), 1);  // names the sessions opened from here on
  auto sessions = [&] {
    Variant affected;
    Ref<_Recordset> rs = checker->Execute(
        "select count(*) from pg_stat_activity where application_name = '" + app_name + "'", affected, -1);
    return rs->get_Fields()->get_Item(Variant(0))->get_Value().to_i32();
  };
  {
    auto open_one = make();
    open_one->put_strGetIpAddress(server->dsn);
    open_one->OpenDatabase();
    EXPECT_EQ(sessions(), 1);
  }
  unsetenv("PGAPPNAME");
  int left = sessions();
  for (int i = 0; i < 50 && left != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    left = sessions();
  }
  EXPECT_EQ(left, 0);

  // A store server that refuses the login: the notice, and no store database.
  si->put_strGetIpAddress(server->dsn);
  write_settings(database_section("database", db("app.db")) + database_section("master_database", db("master.db")) +
                 "[store_database]\r\nprovider=MSDASQL\r\ndatabase_user=" + server->user +
                 "\r\npassword=wrong\r\ndatabase_name=citestdb\r\ntransaction_log=false\r\n");
  si->OpenDatabase();
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{kNotice});
  EXPECT_FALSE(si->get_DatabaseOfStore());
}

TEST_F(SystemInfoTest, PrintApplogWritesTheTableOrTheFile) {
  standard_settings();
  {
    auto setup = new_connection();
    setup->Open("Provider=SQLite;Data Source=" + db("app.db"), "", "", -1);
    Variant affected;
    setup->Execute(
        "CREATE TABLE wkLog (ProcessID INTEGER, LogonUserName VARCHAR(255), ApplicationName VARCHAR(255), "
        "AmendDate DATETIME, Title VARCHAR(255), Comment TEXT)",
        affected, -1);
  }
  auto si = make();
  EXPECT_TRUE(si->PrintApplog("it's done\r\nline two", 1, "POS").is_empty());
  EXPECT_TRUE(si->PrintErrlog("failure", 1, "").is_empty());
  auto check = new_connection();
  check->Open("Provider=SQLite;Data Source=" + db("app.db"), "", "", -1);
  Variant affected;
  Ref<_Recordset> rs = check->Execute("select Title, Comment, ApplicationName from wkLog order by rowid", affected, -1);
  ASSERT_FALSE(rs->get_EOF());
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant("Title"))->get_Value().to_string(), "application log");
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant("Comment"))->get_Value().to_string(), "it's done\r\nline two");
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant("ApplicationName"))->get_Value().to_string(), "POS");
  rs->MoveNext();
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant("Title"))->get_Value().to_string(), "exception log");
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant("ApplicationName"))->get_Value().to_string(), "Ovik2Environment");

  // With the store address empty, connect flag 2 builds an empty data source: the entry goes to the file.
  std::filesystem::create_directories(dir_.path() / "app/bin");
  si->PrintApplog("to the file", 2, "");
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / "app/bin/log"))
    found |= dir_.read("app/bin/log/" + entry.path().filename().string()).find("to the file") != std::string::npos;
  EXPECT_TRUE(found);
}

TEST_F(SystemInfoTest, DatabaseErrorEventsAreLoggedWithTheirText) {
  standard_settings();
  std::filesystem::create_directories(dir_.path() / "app/bin");
  auto si = make();
  si->OpenDatabase();
  Variant affected;
  EXPECT_THROW(si->get_Database()->get_Connection()->Execute("select * from no_such_table", affected, -1), RaisedError);
  // No wkLog table in the application database: the entry lands in the day's file.
  std::string logged;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / "app/bin/log"))
    logged += dir_.read("app/bin/log/" + entry.path().filename().string());
  EXPECT_NE(logged.find("exception log\tdatabase error [app]  (event)ADODB.ExecuteComplete  "), std::string::npos)
      << logged;
  EXPECT_NE(logged.find("no_such_table"), std::string::npos);
}

// A store address holding the password placeholder carries the password into the data source:
// neither the store's trace lines nor the log's lines may show it.
TEST_F(SystemInfoTest, APasswordCarriedIntoTheAddressReachesNoFile) {
  std::filesystem::create_directories(dir_.path() / "data");
  dir_.write("data/app.db", "");  // empty files are empty databases
  dir_.write("data/master.db", "");
  write_settings("[database]\r\nprovider=SQLite\r\nserver=" + db("app.db") +
                 "\r\ndatabase_user=\r\npassword=S3cr3t-app\r\ndatabase_name=main\r\ntransaction_log=false\r\n" +
                 database_section("master_database", db("master.db")) +
                 "[store_database]\r\nprovider=SQLite\r\ndatabase_user=\r\npassword=S3cr3t-store\r\n"
                 "database_name=main\r\ntransaction_log=TRUE\r\n");
  auto si = make();
  si->put_strGetIpAddress(dir_.str() + "/missing/{$password}");
  si->OpenDatabase();
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{kNotice});
  EXPECT_FALSE(si->get_DatabaseOfStore());
  si->PrintErrlog("store failed", 2, "");  // the log connection's data source takes the application password

  std::string written;
  for (const char* folder : {"app/bin/transaction_log", "app/bin/log"}) {
    ASSERT_TRUE(std::filesystem::exists(dir_.path() / folder)) << folder;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / folder))
      written += dir_.read(std::string(folder) + "/" + entry.path().filename().string());
  }
  EXPECT_NE(written.find("Data Source=" + dir_.str() + "/missing/********;"), std::string::npos) << written;
  EXPECT_NE(written.find("\tServerConnectionString\t"), std::string::npos) << written;
  EXPECT_NE(written.find("\tstore failed\r\n"), std::string::npos) << written;
  EXPECT_EQ(written.find("S3cr3t"), std::string::npos) << written;
}

TEST_F(SystemInfoTest, HostInfoRetriesTwelveTimesThenRaises) {
  auto si = make();
  EXPECT_TRUE(si->get_HostInfo());
  int attempts = 0;
  register_factory("OvikEnvironment.clsMetaClientInfo", [&]() -> Ref<IDispatch> {
    ++attempts;
    throw RaisedError(5, "test", "no host name");
  });
  try {
    si->get_HostInfo();
    FAIL();
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.number(), 60000);
    EXPECT_EQ(e.source(), "clsSystemInfo");
    EXPECT_EQ(e.description(), "クライアント情報取得に失敗しました。");
  }
  register_factory("OvikEnvironment.clsMetaClientInfo", nullptr);
  EXPECT_EQ(attempts, 12);
  EXPECT_TRUE(boxes_.shown.empty());
}

}  // namespace
}  // namespace ovik
