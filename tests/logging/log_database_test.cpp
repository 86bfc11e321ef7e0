// The application log with a database: rows of wkLog on SQLite (the embedded default, with its
// own forms of the SQL Server statements) and on PostgreSQL reached through ODBC (the SQL Server
// text as it stands), the purge of rows, and the fall back to the file when the server goes away.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "logging/log.h"
#include "ovik/data_access.h"
#include "support/fake_platform.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FakeClock;
using testing::FakeFocus;
using testing::FakeModule;
using testing::FakeUser;
using testing::TempDir;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class LogDatabaseTest : public ::testing::Test {
 protected:
  // The log database exists (empty): the library never creates a missing one.
  LogDatabaseTest() {
    std::filesystem::create_directories(dir_.path() / "app/bin");
    dir_.write("log.db", "");
  }

  std::string sqlite_string() const { return "Provider=SQLite;Data Source=" + dir_.str() + "/log.db"; }
  Ref<_Connection> open(const std::string& connection_string) {
    Ref<_Connection> c = new_connection();
    c->Open(connection_string, "", "", -1);
    return c;
  }
  static void run(const Ref<_Connection>& c, const std::string& sql) {
    Variant affected;
    c->Execute(sql, affected, -1);
  }
  static std::vector<std::string> column(const Ref<_Connection>& c, const std::string& sql) {
    Variant affected;
    Ref<_Recordset> rs = c->Execute(sql, affected, -1);
    std::vector<std::string> out;
    for (; !rs->get_EOF(); rs->MoveNext()) out.push_back(rs->get_Fields()->get_Item(Variant(0))->get_Value().to_string());
    return out;
  }
  std::string log_file(const std::string& name) const { return read_text(dir_.str() + "/app/bin/log/" + name); }
  static void put(const Ref<clsLog>& log, std::string title, std::string text) { log->PutLog(title, text); }

  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
  FakeClock clock_{2006, 12, 6, 14, 5, 9};
  FakeUser user_{"o'brien"};
  FakeFocus focus_{77};
};

TEST_F(LogDatabaseTest, RowsKeepTheTextAndTheFileStaysEmpty) {
  Ref<_Connection> db = open(sqlite_string());
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql"));
  Ref<clsLog> log = make_object<clsLog>();
  log->put_AppName("Bob's POS");  // apostrophes in every value are doubled, names included
  log->put_ServerConnectionString(sqlite_string());
  ASSERT_TRUE(log->is_connected());
  put(log, "タイトル", "it's\r\nsecond line\tand a tab");
  EXPECT_EQ(column(db, "select Comment from wkLog"), std::vector<std::string>{"it's\r\nsecond line\tand a tab"});
  EXPECT_EQ(column(db, "select LogonUserName || '|' || ApplicationName || '|' || ProcessID || '|' || Title from wkLog"),
            std::vector<std::string>{"o'brien|Bob's POS|77|タイトル"});
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "app/bin/log/Bob's POS061206-o'brien.LOG"));
}

TEST_F(LogDatabaseTest, AMegabyteTextWithEveryAwkwardCharacterArrivesWhole) {
  Ref<_Connection> db = open(sqlite_string());
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql"));
  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString(sqlite_string());
  std::string text;
  while (text.size() < (1u << 20)) text += "発注 it's\ttab\r\nline ";
  put(log, "big", text);
  const std::vector<std::string> stored = column(db, "select Comment from wkLog");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_TRUE(stored[0] == text) << "the row's text differs from the entry's";
  // The same text in file mode is one line: CR, LF and TAB became spaces.
  Ref<clsLog> file_log = make_object<clsLog>();
  put(file_log, "big", text);
  const std::string line = log_file("Ovik2Environment061206-o'brien.LOG");
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  EXPECT_EQ(line.find('\r'), line.size() - 2);
  EXPECT_GT(line.size(), text.size());
}

TEST_F(LogDatabaseTest, AFailingInsertGoesToTheFileAndTheNextEntryTriesTheTableAgain) {
  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString(sqlite_string());  // no wkLog table yet
  put(log, "t", "to the file");
  EXPECT_TRUE(log->is_connected());
  EXPECT_NE(log_file("Ovik2Environment061206-o'brien.LOG").find("\tt\tto the file\r\n"), std::string::npos);
  Ref<_Connection> db = open(sqlite_string());
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql"));
  put(log, "t", "to the table");
  EXPECT_EQ(column(db, "select Comment from wkLog"), std::vector<std::string>{"to the table"});
}

TEST_F(LogDatabaseTest, AnUnreachableDatabaseLeavesTwoLinesInTheFile) {
  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString("Provider=SQLite;Data Source=" + dir_.str() + "/missing/folder/log.db");
  EXPECT_FALSE(log->is_connected());
  put(log, "application log", "after the failure");
  const std::string text = log_file("Ovik2Environment061206-o'brien.LOG");
  EXPECT_NE(text.find("\tServerConnectionString\t"), std::string::npos);
  EXPECT_NE(text.find("\tapplication log\tafter the failure\r\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST_F(LogDatabaseTest, PurgeDeletesTheApplicationsOldRowsOnly) {
  Ref<_Connection> db = open(sqlite_string());
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql"));
  run(db, "insert into wkLog values (1,'u','O''Neil','2006-11-05 23:59:59','t','old')");
  run(db, "insert into wkLog values (1,'u','O''Neil','2006-11-06 00:00:00','t','kept')");
  run(db, "insert into wkLog values (1,'u','Other','2006-01-01 00:00:00','t','other app')");
  Ref<clsLog> log = make_object<clsLog>();
  log->put_AppName("O'Neil");
  log->put_ServerConnectionString(sqlite_string());  // connecting purges with 30 days
  EXPECT_EQ(column(db, "select Comment from wkLog order by Comment"), (std::vector<std::string>{"kept", "other app"}));
  log->DelLog(-32768);  // no cutoff can be computed: no statement at all
  EXPECT_EQ(column(db, "select count(*) from wkLog"), std::vector<std::string>{"2"});
}

TEST_F(LogDatabaseTest, PostgreSqlRunsTheServerTextAndAStoppedServerFallsBackToTheFile) {
  // A private cluster: stopping it must not disturb other tests of the shared test server.
  if (!std::getenv("OVIK_TEST_PG_DSN")) {
    if (testing::PgServer::required()) FAIL() << testing::PgServer::kSkipReason;
    GTEST_SKIP() << testing::PgServer::kSkipReason;
  }
  const std::string script = std::string(OVIK_SOURCE_DIR) + "/scripts/pg-test-server.sh";
  // Beside, not inside, the test's own folder: the server runs as another user, who cannot enter it.
  const std::string cluster =
      (std::filesystem::temp_directory_path() / ("ovik-pglog-" + std::to_string(getpid()))).string();
  ASSERT_EQ(std::system((script + " start " + cluster + " >/dev/null").c_str()), 0);
  struct Stop {
    std::string command;
    ~Stop() { [[maybe_unused]] int rc = std::system(command.c_str()); }
  } stop{script + " stop " + cluster + " >/dev/null 2>&1"};
  std::string port;
  {
    std::istringstream env(read_text(cluster + "/env.sh"));
    for (std::string line; std::getline(env, line);)
      if (line.rfind("export OVIK_TEST_PG_PORT=", 0) == 0) port = line.substr(25);
  }
  const std::string cs = "Provider=MSDASQL;Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port +
                         ";Database=citestdb;User ID=citest;Password=citest";
  Ref<_Connection> db = open(cs);
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.postgresql.sql"));

  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString(cs);
  ASSERT_TRUE(log->is_connected());
  put(log, "application log", "before the stop: it's in the table");
  EXPECT_EQ(column(db, "select Comment from wkLog"), std::vector<std::string>{"before the stop: it's in the table"});
  db->Close();

  ASSERT_EQ(std::system((script + " stop " + cluster + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_NO_THROW(put(log, "application log", "after the stop"));
  EXPECT_NE(log_file("Ovik2Environment061206-o'brien.LOG").find("\tafter the stop\r\n"), std::string::npos);
}

}  // namespace
}  // namespace ovik
