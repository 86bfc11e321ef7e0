// `ovik doctor` on a folder of its own: every check on its line with what belongs to it indented
// under it, the line to add for a missing key, values that fit the provider, the provider's own
// error for a database that cannot be reached and where the library leaves it at run time, the
// log table and its purge on the log database, the JSON document, and the exit status.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "commands.h"
#include "database/access/odbc/odbc_driver.h"
#include "doctor_report.h"
#include "json_value.h"
#include "ovik/data_access.h"
#include "support/fake_platform.h"
#include "support/mariadb_server.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace ovik::host {
namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void run_sql(const std::string& connection_string, const std::string& sql) {
  Ref<_Connection> c = new_connection();
  c->Open(connection_string, "", "", -1);
  Variant affected;
  c->Execute(sql, affected, -1);
}

std::vector<std::string> column(const std::string& connection_string, const std::string& sql) {
  Ref<_Connection> c = new_connection();
  c->Open(connection_string, "", "", -1);
  Variant affected;
  Ref<_Recordset> rs = c->Execute(sql, affected, -1);
  std::vector<std::string> out;
  for (; !rs->get_EOF(); rs->MoveNext())
    out.push_back(rs->get_Fields()->get_Item(Variant(0))->get_Value().to_string());
  return out;
}

const std::string kWkLogSqlite = std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql";

std::string section(
    const std::string& name, const std::string& provider, const std::string& server,
    const std::string& rest = "database_user=\npassword=\ndatabase_name=main\ntransaction_log=false\n") {
  return "[" + name + "]\nprovider=" + provider + "\n" + (server.empty() ? "" : "server=" + server + "\n") +
         rest;
}

const std::string kOtherKeys =
    "[accountitem]\naccitem_store=1\naccitem_petty=2\n[Financial]\nserver=f\ndatabase=d\n"
    "[journalpattern]\njouptn_tenant=3\n[getposinfoimport]\npos_file=p\nemployee_file=e\nbat_file_path=b\n";

// An application folder whose three databases are SQLite files that exist, the log database with
// wkLog; `database` replaces the log database's section when given.
class DoctorTest : public ::testing::Test {
 protected:
  DoctorTest() {
    dir_.write("app/ini/menu.ini", "[menu]\n");
    std::filesystem::create_directories(dir_.path() / "app/bin");
    for (const char* db : {"app.db", "master.db", "store.db"}) dir_.write(std::string("app/data/") + db, "");
  }
  std::string log_db() const { return "Provider=SQLite;Data Source=" + dir_.str() + "/app/data/app.db"; }
  void settings(const std::string& database = section("database", "SQLite", "data/app.db"),
                const std::string& master = section("master_database", "SQLite", "data/master.db")) {
    dir_.write("app/ini/Brindlemark.ini",
               database + master + section("store_database", "SQLite", "") + kOtherKeys);
  }
  // The report and the exit status.
  std::pair<std::string, int> doctor(std::vector<std::string> options = {}) {
    std::ostringstream out, err;
    options.push_back(dir_.str() + "/app");
    const int status = run_doctor(options, out, err);
    return {out.str() + err.str(), status};
  }
  static bool has(const std::string& report, const std::string& text) {
    return report.find(text) != std::string::npos;
  }

  testing::TempDir dir_;
  // The doctor names files after the module that holds the library's code: for the ovik program
  // the shared library, for this program the program itself.
  testing::FakeModule module_{std::string(OVIK_BINARY_DIR) + "/app/bin"};
};

TEST_F(DoctorTest, NamesWhatIsMissingAndFailsWhenAnythingDoes) {
  run_sql(log_db(), read_text(kWkLogSqlite));
  settings();
  auto [report, status] = doctor();
  EXPECT_EQ(status, 0) << report;
  EXPECT_TRUE(has(report, "\nall checks passed\n")) << report;

  // A missing key, a word where a number belongs, an unreachable database.
  std::string broken = read_text(dir_.str() + "/app/ini/Brindlemark.ini");
  broken.replace(broken.find("accitem_petty=2"), 15, "accitem_petty=two");
  broken.replace(broken.find("jouptn_tenant=3\n"), 16, "");
  broken.replace(broken.find("data/master.db"), 14, "no/such/folder.db");
  dir_.write("app/ini/Brindlemark.ini", broken);
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nFAIL  [accountitem] accitem_petty: \"two\" is not a whole number\n")) << report;
  EXPECT_TRUE(has(report,
                  "\nFAIL  [journalpattern] jouptn_tenant: missing\n      Add under [journalpattern]: "
                  "jouptn_tenant=0\n"));
  EXPECT_TRUE(has(report, "\nFAIL  connection of [master_database]: 【ConnectDataBase】 "));
  EXPECT_TRUE(has(report, "\nok    connection of [database]: reached data/app.db\n"));
  EXPECT_TRUE(has(report, "\n3 check(s) failed\n"));
}

// A settings file that is there but cannot be read is reported as such, not as a file without a
// single key. Root reads a mode-000 file, so the case that holds for every user is a folder in the
// file's place; the mode-000 file is tried as well when the tests run as another user.
TEST(Doctor, SaysWhenTheSettingsFileCannotBeRead) {
  testing::TempDir dir;
  dir.write("app/ini/menu.ini", "[menu]\n");
  std::filesystem::create_directories(dir.path() / "app/ini/Brindlemark.ini");
  std::filesystem::create_directories(dir.path() / "app/bin");
  std::ostringstream out, err;
  EXPECT_EQ(run_doctor({dir.str() + "/app"}, out, err), 1);
  std::string report = out.str();
  EXPECT_NE(report.find("FAIL  settings file Brindlemark.ini: cannot be read: it is a folder"), std::string::npos)
      << report;
  EXPECT_EQ(report.find("missing; add under"), std::string::npos) << report;
  EXPECT_EQ(report.find("connection of"), std::string::npos) << report;
  EXPECT_NE(report.find("ok    log folder"), std::string::npos) << report;
  EXPECT_NE(report.find("\n1 check(s) failed"), std::string::npos) << report;

  if (geteuid() != 0) {
    std::filesystem::remove(dir.path() / "app/ini/Brindlemark.ini");
    const std::string path =
        dir.write("app/ini/Brindlemark.ini", section("database", "SQLite", "data/app.db"));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    std::ostringstream denied;
    EXPECT_EQ(run_doctor({dir.str() + "/app"}, denied, err), 1);
    report = denied.str();
    EXPECT_NE(report.find("FAIL  settings file Brindlemark.ini: cannot be read: Permission denied"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("Add under"), std::string::npos) << report;
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

// Today's log and trace files, where they are already there, must take this user's lines: a file
// another user made without group write, or something other than a file in its place, fails.
TEST_F(DoctorTest, FailsWhenTodaysLogOrTraceFileTakesNoLineOfThisUser) {
  run_sql(log_db(), read_text(kWkLogSqlite));
  settings();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char yymmdd[16], trace_day[16];
  std::strftime(yymmdd, sizeof yymmdd, "%y%m%d", &local);
  std::strftime(trace_day, sizeof trace_day, "%Y_%m_%d", &local);
  const std::string trace = dir_.str() + "/app/bin/transaction_log/" + trace_day + "(Ovik2Environment).log";
  // The name of this user's log file of today under the application name POS, as `uid` sees it.
  auto log_file = [&](uid_t uid) {
    const passwd* user = getpwuid(uid);
    return dir_.str() + "/app/bin/log/POS" + yymmdd + "-" + (user ? user->pw_name : "") + ".LOG";
  };

  std::filesystem::create_directories(dir_.path() / "app/bin/log");
  dir_.write("app/bin/log/" + std::filesystem::path(log_file(geteuid())).filename().string(), "x\r\n");
  auto [report, status] = doctor();
  EXPECT_EQ(status, 0) << report;
  EXPECT_TRUE(has(report, "\nok    today's log file: " + log_file(geteuid()) + " is writable\n")) << report;

  std::filesystem::create_directories(trace);
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nFAIL  today's trace file: " + trace + " is not a regular file")) << report;
  std::filesystem::remove(trace);

  // Made by another user with a umask of 022: root may write anything, so the check runs as a
  // user of its own then, owning everything but that file.
  const uid_t other = geteuid() == 0 ? 54321 : geteuid();
  const std::string theirs = log_file(other);
  dir_.write("app/bin/log/" + std::filesystem::path(theirs).filename().string(), "x\r\n");
  std::filesystem::permissions(theirs, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read |
                                           (geteuid() == 0 ? std::filesystem::perms::owner_write
                                                           : std::filesystem::perms::none));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path()))
        if (entry.path() != theirs && lchown(entry.path().c_str(), other, other) != 0) _exit(2);
      if (chown(dir_.str().c_str(), other, other) != 0 || setgid(other) != 0 || setuid(other) != 0) _exit(2);
    }
    std::tie(report, status) = doctor();
    const bool failed = status == 1 && has(report, "\nFAIL  today's log file: " + theirs +
                                                       " is not writable for this user: its lines are lost\n");
    if (!failed) std::fprintf(stderr, "%s", report.c_str());
    _exit(failed ? 0 : 1);
  }
  int child_status = 0;
  ASSERT_EQ(waitpid(child, &child_status, 0), child);
  EXPECT_TRUE(WIFEXITED(child_status) && WEXITSTATUS(child_status) == 0) << child_status;
}

// Relative SQLite files are those of the folder checked, not of the folder this program lies in;
// a missing one is reported, never created, with what server means for SQLite and where a program
// finds the reason when OpenDatabase shows its notice and raises 91.
TEST_F(DoctorTest, RelativeDatabasesAreThoseOfTheCheckedFolder) {
  std::filesystem::remove(dir_.path() / "app/data/master.db");
  settings();
  auto [report, status] = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "ok    connection of [database]: reached data/app.db")) << report;
  EXPECT_TRUE(
      has(report, "FAIL  connection of [master_database]: 【ConnectDataBase】 The SQLite database file \"" +
                      dir_.str() + "/app/bin/../data/master.db\" does not exist"))
      << report;
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "app/data/master.db"));
  EXPECT_TRUE(has(
      report, "      SQLite: server is the database file, absolute or relative to the application folder " +
                  dir_.str() + "/app ("));
  // Not the log database, and not traced: the doctor is the only one to say why.
  EXPECT_TRUE(has(report, "with transaction_log=true it goes to the trace file " + dir_.str() +
                              "/app/bin/transaction_log/yyyy_mm_dd(Ovik2Environment).log"))
      << report;

  // The folder given relative to the working folder is the same folder.
  std::ostringstream out, err;
  EXPECT_EQ(run_doctor({std::filesystem::relative(dir_.path() / "app").string() + "/"}, out, err), 1);
  EXPECT_TRUE(has(out.str(), "ok    connection of [database]: reached data/app.db")) << out.str();
  EXPECT_TRUE(has(out.str(), "\"" + dir_.str() + "/app/bin/../data/master.db\" does not exist")) << out.str();
}

// A folder that is no application folder is said to be so in one line, not checked key by key.
TEST(Doctor, RefusesWhatIsNoApplicationFolder) {
  testing::TempDir dir;
  const std::string file = dir.write("a-file", "");
  for (const auto& [folder, why] :
       {std::pair<std::string, std::string>{dir.str() + "/missing", "no such folder"},
        {file, "not a folder"},
        {dir.str(), "it holds neither ini/ nor bin/"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(run_doctor({"--json", folder}, out, err), 2) << folder;
    EXPECT_EQ(out.str(), "") << folder;
    EXPECT_EQ(err.str(), "ovik doctor: " + folder + " is not an application folder (" + why + ")\n");
  }
}

// A password in a settings file every user may read is a warning naming the file and the fix; a
// file without one, or one only its owner and group read, says nothing of it.
TEST_F(DoctorTest, WarnsOfAPasswordEveryUserMayRead) {
  namespace fs = std::filesystem;
  const auto password = [](const std::string& value) {
    return section("database", "SQLite", "data/app.db",
                   "database_user=\npassword=" + value + "\ndatabase_name=main\ntransaction_log=false\n");
  };
  const fs::perms world =
      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
  const fs::perms group = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  struct Row {
    std::string database, menu;
    fs::perms mode;
    std::string warned;  // "" when no warning is due
  } rows[] = {
      {password("s3cret"), "[menu]\n", world, "Brindlemark.ini holds a password ([database] password)"},
      {password("s3cret"), "[menu]\n", group, ""},
      {password(""), "[menu]\n", world, ""},
      {password(""), "[menu]\n; Password=old\nlink=Driver=x;PWD=abc\n", world,
       "menu.ini holds a password ([menu] link)"},
      {password(""), "[menu]\nlink=Driver=x;PWD=;OldPwd=y\n", world, ""},
  };
  for (const Row& row : rows) {
    settings(row.database);
    dir_.write("app/ini/menu.ini", row.menu);
    for (const char* file : {"Brindlemark.ini", "menu.ini"})
      fs::permissions(dir_.path() / "app/ini" / file, row.mode);
    auto [report, status] = doctor();
    EXPECT_EQ(has(report, "warn  password in"), !row.warned.empty()) << report;
    if (row.warned.empty()) continue;
    const std::string name = row.warned.substr(0, row.warned.find(' '));
    const std::string file = dir_.str() + "/app/ini/" + name;
    EXPECT_TRUE(has(report, "\nwarn  password in " + name + ": " + dir_.str() + "/app/ini/" + row.warned +
                                " and every user may read it (mode 0644)\n"))
        << report;
    EXPECT_TRUE(has(report, "chmod 640 " + file + "\n      Its group is ")) << report;
  }
}

// The log database's failure reaches the day's log file, the only place a program has it.
TEST_F(DoctorTest, SaysWhereTheLogDatabasesFailureIsAtRunTime) {
  std::filesystem::remove(dir_.path() / "app/data/app.db");
  settings();
  auto [report, status] = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "The reason goes to the day's log file " + dir_.str() +
                              "/app/bin/log/<application><yymmdd>-<user>.LOG"))
      << report;
  EXPECT_TRUE(has(report, "titled ServerConnectionString"));
  EXPECT_TRUE(has(report, "\nskip  log table wkLog: the log database cannot be reached\n"));
  EXPECT_TRUE(has(report, "\nskip  log purge: the log database cannot be reached\n"));
}

// wkLog is looked for on the log database; its purge runs in the log's own SQLite form and deletes
// nothing, however old the rows; a table that takes no delete fails the purge check.
TEST_F(DoctorTest, LogTableAndItsPurgeOnSqlite) {
  settings();
  auto [report, status] = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nFAIL  log table wkLog: no such table: wkLog\n")) << report;
  EXPECT_TRUE(has(report, "sqlite3 " + dir_.str() + "/app/data/app.db < ")) << report;  // the log's own file
  EXPECT_TRUE(has(report, "wkLog.sqlite.sql"));
  EXPECT_TRUE(has(report, "\nskip  log purge: wkLog is missing or incomplete\n"));

  run_sql(log_db(), read_text(kWkLogSqlite));
  run_sql(log_db(), "insert into wkLog values (1,'u','Ovik2Environment','2000-01-01 00:00:00','t','old')");
  run_sql(log_db(),
          "insert into wkLog values (1,'u','Ovik2Environment',datetime('now','localtime'),'t','new')");
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 0) << report;
  EXPECT_TRUE(has(report, "\nok    log table wkLog: present on SQLite")) << report;
  EXPECT_TRUE(has(report, "\nok    log purge: accepted by SQLite in the log's SQLite form")) << report;
  EXPECT_EQ(column(log_db(), "select Comment from wkLog order by Comment"),
            (std::vector<std::string>{"new", "old"}));

  // A view has the columns but takes no delete.
  run_sql(log_db(), "alter table wkLog rename to wkLogRows");
  run_sql(log_db(), "create view wkLog as select * from wkLogRows");
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nok    log table wkLog")) << report;
  EXPECT_TRUE(has(report, "\nFAIL  log purge: cannot modify wkLog because it is a view\n")) << report;
  EXPECT_TRUE(has(report, "\n      and cast(strftime('%Y%m%d',AmendDate) as integer)<00010101\n")) << report;
}

// On PostgreSQL the log database is the one the login's settings reach, and wkLog lies in that
// login's schema; the purge there is the PostgreSQL form, and a login without the right to delete
// fails it.
TEST_F(DoctorTest, LogTableAndItsPurgeOnPostgreSql) {
  const auto server = testing::PgServer::from_environment();
  OVIK_REQUIRE_PG_SERVER(server);
  settings(section("database", "MSDASQL", server->dsn,
                   "database_user=" + server->user + "\npassword=" + server->password +
                       "\ndatabase_name=citestdb\ntransaction_log=false\n"));
  auto [report, status] = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nok    connection of [database]: reached " + server->dsn + "\n")) << report;
  EXPECT_TRUE(has(report, "\nFAIL  log table wkLog: ")) << report;
  EXPECT_TRUE(has(report, "wkLog.postgresql.sql")) << report;
  EXPECT_TRUE(has(report,
                  "logged in as database_user so that it lies in that login's schema: psql -h <host> -p "
                  "<port> -d citestdb -U " +
                      server->user + " -f "))
      << report;
  EXPECT_FALSE(has(report, server->password + "\n")) << report;

  run_sql(server->connection_string(), read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.postgresql.sql"));
  run_sql(server->connection_string(),
          "insert into wkLog values (1,'u','Ovik2Environment','2000-01-01 00:00:00','t','old')");
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 0) << report;
  EXPECT_TRUE(has(report, "\nok    log table wkLog: present on PostgreSQL")) << report;
  EXPECT_TRUE(has(report, "in the log's PostgreSQL form")) << report;
  EXPECT_EQ(column(server->connection_string(), "select Comment from wkLog"),
            std::vector<std::string>{"old"});

  run_sql(server->connection_string(), "revoke delete on wkLog from current_user");
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nFAIL  log purge: ")) << report;
  EXPECT_TRUE(has(report, "permission denied")) << report;
  EXPECT_TRUE(has(report, "and AmendDate<to_date('00010101','YYYYMMDD')")) << report;
}

// On MariaDB the table and the purge are checked in the log's MariaDB/MySQL form.
TEST_F(DoctorTest, LogTableAndItsPurgeOnMariaDb) {
  const auto server = testing::MariaDbServer::from_environment();
  OVIK_REQUIRE_MARIADB_SERVER(server);
  settings(section("database", "MSDASQL", server->dsn,
                   "database_user=" + server->user + "\npassword=" + server->password +
                       "\ndatabase_name=" + server->database + "\ntransaction_log=false\n"));
  auto [report, status] = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nFAIL  log table wkLog: ")) << report;
  EXPECT_TRUE(has(report, "wkLog.mariadb.sql")) << report;

  run_sql(server->connection_string(), read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.mariadb.sql"));
  run_sql(server->connection_string(),
          "insert into wkLog values (1,'u','Ovik2Environment','2000-01-01 00:00:00','t','old')");
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 0) << report;
  EXPECT_TRUE(has(report, "\nok    log table wkLog: present on MariaDB")) << report;
  EXPECT_TRUE(has(report, "in the log's MariaDB/MySQL form")) << report;
  EXPECT_EQ(column(server->connection_string(), "select Comment from wkLog"),
            std::vector<std::string>{"old"});
}

// The library traces only on "true" in any case and quietly reads every other word as false.
TEST_F(DoctorTest, FlagsATransactionLogThatIsNeitherTrueNorFalse) {
  run_sql(log_db(), read_text(kWkLogSqlite));
  settings(section("database", "SQLite", "data/app.db",
                   "database_user=\npassword=\ndatabase_name=main\n"
                   "transaction_log=TRUE\n"),
           section("master_database", "SQLite", "data/master.db",
                   "database_user=\npassword=\ndatabase_name=main\ntransaction_log= yes \n"));
  std::string ini = read_text(dir_.str() + "/app/ini/Brindlemark.ini");
  ini.replace(ini.find("[store_database]"), 16, "[store_database]\ntransaction_log=\n");
  ini.replace(ini.rfind("transaction_log=false\n"), 22, "");
  dir_.write("app/ini/Brindlemark.ini", ini);
  auto [report, status] = doctor();
  EXPECT_EQ(status, 0) << report;  // a warning is no failure
  EXPECT_FALSE(has(report, "warn  [database]")) << report;
  EXPECT_FALSE(has(report, "ok    [master_database] transaction_log")) << report;  // one verdict per key
  EXPECT_TRUE(has(report,
                  "\nwarn  [master_database] transaction_log: \"yes\" is neither true nor false: the library "
                  "reads it as false"))
      << report;
  EXPECT_TRUE(has(report, "\nwarn  [store_database] transaction_log: \"\" is neither true nor false"))
      << report;
  EXPECT_TRUE(has(report, "\n      Write transaction_log=true to trace")) << report;
  EXPECT_TRUE(has(report, "\nall checks passed, 2 warning(s)\n")) << report;
}

// What server means, and the line to add, follow the section's provider; an unknown provider is
// named with the ones the library knows.
TEST_F(DoctorTest, SuggestsValuesThatFitTheProvider) {
  settings(section("database", "Oracle9", "x"), section("master_database", "SQLOLEDB", ""));
  auto [report, status] = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report,
                  "\nFAIL  [database] provider: \"Oracle9\" is unknown\n      \"Oracle9\" is no provider the "
                  "library knows: SQLite, SQLOLEDB, MSDASQL"))
      << report;
  EXPECT_TRUE(has(report,
                  "\nFAIL  [master_database] server: missing\n      Add under [master_database]: "
                  "server=dbhost,1433\n      SQLOLEDB (SQL Server, through the ODBC driver FreeTDS): server "
                  "is host, host\\instance or host,port"))
      << report;
  settings(section("database", "SQLite", "data/app.db"), section("master_database", "SQLite", ""));
  std::tie(report, status) = doctor();
  EXPECT_TRUE(has(report, "\n      Add under [master_database]: server=data/master.db\n")) << report;

  // Through ODBC the server is a DSN: the ones this user can see are listed.
  settings(section("database", "MSDASQL", "no_such_dsn"));
  std::tie(report, status) = doctor();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(has(report, "\nFAIL  connection of [database]: ")) << report;
  EXPECT_TRUE(has(report, "\n      MSDASQL (ODBC): server is the name of a DSN of odbc.ini")) << report;
  const auto sources = access::odbc_data_sources();
  if (sources.empty()) {
    EXPECT_TRUE(has(report, "\n      This user sees no DSN")) << report;
  } else {
    for (const auto& source : sources)
      EXPECT_TRUE(has(report, source.name + " (" + source.driver + ")")) << report;
    EXPECT_TRUE(has(report, "\n      \"no_such_dsn\" is none of them.\n")) << report;
  }
  if (const auto server = testing::PgServer::from_environment()) {
    EXPECT_TRUE(has(report, server->dsn + " (")) << report;
  }
}

// A provider's message of several lines (here FreeTDS's two diagnostics, refused on a closed port)
// stays under its check: only check lines begin at the left margin.
TEST_F(DoctorTest, AProvidersMultiLineMessageStaysUnderItsCheck) {
  run_sql(log_db(), read_text(kWkLogSqlite));
  settings(section("database", "SQLite", "data/app.db"),
           section("master_database", "SQLOLEDB", "127.0.0.1,1"));
  auto [report, status] = doctor();
  EXPECT_EQ(status, 1);
  if (has(report, "which is not installed")) GTEST_SKIP() << "the ODBC driver FreeTDS is not installed";
  const std::size_t at =
      report.find("\nFAIL  connection of [master_database]: 【ConnectDataBase】 [FreeTDS]");
  ASSERT_NE(at, std::string::npos) << report;
  EXPECT_NE(report.find("\n        [FreeTDS]", at + 1), std::string::npos) << report;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    const bool check = line.starts_with("ok    ") || line.starts_with("FAIL  ") ||
                       line.starts_with("warn  ") || line.starts_with("skip  ");
    const bool frame =
        line.starts_with("checking the application folder ") || line.ends_with("check(s) failed");
    EXPECT_TRUE(check || frame || line.starts_with("      ")) << "flush-left line: " << line;
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
  }
}

// For monitoring: one JSON document with every check, and the same exit status as the text.
TEST_F(DoctorTest, JsonIsOneDocumentWithTheSameExitStatus) {
  run_sql(log_db(), read_text(kWkLogSqlite));
  settings(section("database", "SQLite", "data/app.db"),
           section("master_database", "SQLOLEDB", "127.0.0.1,1",
                   "database_user=\npassword=\ndatabase_name=main\ntransaction_log=on\n"));
  auto [text, text_status] = doctor();
  auto [report, status] = doctor({"--json"});
  EXPECT_EQ(status, text_status);
  EXPECT_EQ(status, 1);
  const Json document = Json::parse(report);  // one document, nothing around it
  EXPECT_EQ(document["folder"], dir_.str() + "/app");
  EXPECT_EQ(document["failed"], 1);
  EXPECT_EQ(document["warnings"], 1);
  const Json* connection = nullptr;
  const Json* provider = nullptr;
  std::set<std::string> names;
  for (const Json& check : document["checks"]) {
    EXPECT_EQ(check.size(), 4u) << check.dump();
    EXPECT_TRUE(names.insert(check["name"].get<std::string>()).second)
        << "two checks named " << check["name"];
    EXPECT_TRUE(check["status"] == "ok" || check["status"] == "fail" || check["status"] == "warn" ||
                check["status"] == "skip")
        << check.dump();
    if (check["name"] == "connection of [master_database]") connection = &check;
    if (check["name"] == "[master_database] provider") provider = &check;
  }
  ASSERT_NE(connection, nullptr);
  ASSERT_NE(provider, nullptr);
  EXPECT_EQ(connection->at("status"), "fail");
  EXPECT_NE(connection->at("hint").get<std::string>().find(
                "\nAt run time OpenDatabase shows the start-up notice, then raises error 91"),
            std::string::npos);
  EXPECT_EQ(provider->at("status"), "ok");
  EXPECT_EQ(provider->at("detail"), "SQLOLEDB");
  EXPECT_EQ(provider->at("hint"), nullptr);

  std::ostringstream out, err;
  EXPECT_EQ(run_doctor({"--jsn", dir_.str() + "/app"}, out, err), 2);
  EXPECT_EQ(run_doctor({"a", "b"}, out, err), 2);
}

// The report's own shape: a detail's further lines and the hint under the check, CR LF or LF, tabs
// and blank lines of a provider's message tidied; in JSON the same lines joined by "\n".
TEST(DoctorReport, EverythingOfACheckStaysUnderIt) {
  DoctorReport report;
  report.add(CheckStatus::kOk, "settings folder", "/opt/x/ini");
  report.add(
      CheckStatus::kFail, "connection of [database]",
      "【ConnectDataBase】 failed: Connection refused\n\tIs the server running?\r\n\r\nsecond record\r\n",
      "first hint\nsecond hint");
  report.add(CheckStatus::kWarn, "[database] transaction_log", "\"on\"");
  report.add(CheckStatus::kSkip, "log purge");
  std::ostringstream text;
  report.write_text(text, "/opt/x");
  EXPECT_EQ(text.str(),
            "checking the application folder /opt/x\n"
            "ok    settings folder: /opt/x/ini\n"
            "FAIL  connection of [database]: 【ConnectDataBase】 failed: Connection refused\n"
            "        Is the server running?\n"
            "        second record\n"
            "      first hint\n"
            "      second hint\n"
            "warn  [database] transaction_log: \"on\"\n"
            "skip  log purge\n"
            "1 check(s) failed, 1 warning(s)\n");
  EXPECT_EQ(report.exit_status(), 1);

  std::ostringstream json;
  report.write_json(json, "/opt/x");
  const Json document = Json::parse(json.str());
  EXPECT_EQ(document["checks"][1],
            Json({{"name", "connection of [database]"},
                  {"status", "fail"},
                  {"detail",
                   "【ConnectDataBase】 failed: Connection refused\nIs the server running?\nsecond record"},
                  {"hint", "first hint\nsecond hint"}}));
  EXPECT_EQ(document["checks"][0]["hint"], nullptr);
  EXPECT_EQ(document["checks"][2]["status"], "warn");
  EXPECT_EQ(document["failed"], 1);
  EXPECT_EQ(document["warnings"], 1);

  // Bytes that are not UTF-8 (a message in another code page) leave the document readable.
  DoctorReport odd;
  odd.add(CheckStatus::kFail, "connection of [database]", "\x82\xa0\xff");
  std::ostringstream odd_json;
  odd.write_json(odd_json, "/opt/x");
  EXPECT_NO_THROW(Json::parse(odd_json.str())) << odd_json.str();
}

}  // namespace
}  // namespace ovik::host
