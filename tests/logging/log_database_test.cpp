// The application log with a database: rows of wkLog on SQLite (the embedded default) and on
// PostgreSQL reached through ODBC, each in its own dialect, the purge of rows, the fall back to
// the file when the server goes away, and the one budget an entry has for waiting on locks.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "logging/log.h"
#include "logging/log_statements.h"
#include "ovik/data_access.h"
#include "support/fake_platform.h"
#include "support/mariadb_cluster.h"
#include "support/mariadb_server.h"
#include "support/pg_cluster.h"
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
  // A NUL would end the statement where the driver reads it: it stands as a space in the row, and
  // the caller's texts stay as they were.
  std::string title("nul\0title", 9), text("it's\0after", 10);
  log->PutLog(title, text);
  EXPECT_EQ(title, std::string("nul\0title", 9));
  EXPECT_EQ(text, std::string("it's\0after", 10));
  EXPECT_EQ(column(db, "select Title || '|' || Comment from wkLog where Title <> 'タイトル'"),
            std::vector<std::string>{"nul title|it's after"});
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
  // The line before the entry says why it is not in the table.
  EXPECT_NE(log_file("Ovik2Environment061206-o'brien.LOG")
                .find("\tPutLog\tno such table: wkLog\r\n"
                      "2006/12/06 14:05:09\t77\to'brien\tOvik2Environment\tt\tto the file\r\n"),
            std::string::npos);
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

// The entry of a failed log connect repeats the connection's target, which the password filled:
// the password is hidden there. The caller's own entries are written and stored as given, also
// where they hold the password's text.
TEST_F(LogDatabaseTest, OnlyTheEntryOfAFailedConnectHidesThePassword) {
  const std::string secret = "S3cr3t";
  Ref<clsLog> failed = make_object<clsLog>();
  failed->put_ServerConnectionString("Provider=SQLite;Password=" + secret + ";Data Source=" + dir_.str() + "/missing-" +
                                     secret + "/" + secret + ".db");
  EXPECT_FALSE(failed->is_connected());
  put(failed, "title " + secret, "the password " + secret + " was refused");
  const std::string text = log_file("Ovik2Environment061206-o'brien.LOG");
  const std::size_t failure = text.find("\tServerConnectionString\t");
  ASSERT_NE(failure, std::string::npos) << text;
  const std::string failure_line = text.substr(failure, text.find("\r\n", failure) - failure);
  EXPECT_NE(failure_line.find("/missing-********/********.db"), std::string::npos) << failure_line;
  EXPECT_EQ(failure_line.find(secret), std::string::npos) << failure_line;
  EXPECT_NE(text.find("\ttitle S3cr3t\tthe password S3cr3t was refused\r\n"), std::string::npos) << text;

  struct Entry {
    const char* password;  // of the log connection
    const char* title;
    const char* comment;
  };
  const Entry entries[] = {
      {"S3cr3t", "t", "it's S3cr3t"},
      {"1234", "application log", "order 1234 total 12345 pin=1234"},
  };
  Ref<_Connection> db = open(sqlite_string());
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql"));
  std::vector<std::string> stored;
  for (const Entry& e : entries) {
    Ref<clsLog> log = make_object<clsLog>();
    log->put_ServerConnectionString(sqlite_string() + ";Password=" + e.password);
    ASSERT_TRUE(log->is_connected());
    std::string title = e.title, comment = e.comment;
    log->PutLog(title, comment);
    EXPECT_EQ(comment, e.comment);
    stored.push_back(std::string(e.title) + "|" + e.comment);
  }
  EXPECT_EQ(column(db, "select Title || '|' || Comment from wkLog order by rowid"), stored);
}

// The log speaks the dialect of the server it reached, whatever the provider says: the same
// purge and insert run on SQLite, on SQLite behind an ODBC data source, on PostgreSQL and on MariaDB.
enum class LogServer { kSqlite, kSqliteThroughOdbc, kPostgres, kMariaDb };

class LogServerTest : public LogDatabaseTest, public ::testing::WithParamInterface<LogServer> {
 protected:
  void SetUp() override {
    std::string ddl = "/sql/wkLog.sqlite.sql";
    switch (GetParam()) {
      case LogServer::kSqlite:
        log_string_ = sqlite_string();
        break;
      case LogServer::kSqliteThroughOdbc:
        log_string_ = "Provider=MSDASQL;Driver=SQLite3;Database=" + dir_.str() + "/log.db";
        break;
      case LogServer::kPostgres: {
        const auto server = testing::PgServer::from_environment();
        OVIK_REQUIRE_PG_SERVER(server);
        // wkLog is a fixed name: the test's own role keeps it in the role's own schema.
        admin_ = open(server->connection_string());
        log_string_ = server->connection_string();
        ddl = "/sql/wkLog.postgresql.sql";
        break;
      }
      case LogServer::kMariaDb: {
        const auto server = testing::MariaDbServer::from_environment();
        OVIK_REQUIRE_MARIADB_SERVER(server);
        admin_ = open(server->connection_string());
        log_string_ = server->connection_string();
        ddl = "/sql/wkLog.mariadb.sql";
        break;
      }
    }
    db_ = open(GetParam() == LogServer::kSqliteThroughOdbc ? sqlite_string() : log_string_);
    run(db_, read_text(std::string(OVIK_SOURCE_DIR) + ddl));
  }
  void slow_deletes(int seconds);
  std::string log_string_;
  Ref<_Connection> admin_;
  Ref<_Connection> db_;
};

TEST_P(LogServerTest, PurgeDeletesTheApplicationsOldRowsAndTheInsertStampsTheServersTime) {
  run(db_, "insert into wkLog values (1,'u','O''Neil','2006-11-05 23:59:59','t','old')");
  run(db_, "insert into wkLog values (1,'u','O''Neil','2006-11-06 00:00:00','t','kept')");
  run(db_, "insert into wkLog values (1,'u','Other','2006-01-01 00:00:00','t','other app')");
  Ref<clsLog> log = make_object<clsLog>();
  log->put_AppName("O'Neil");
  log->put_ServerConnectionString(log_string_);  // connecting purges with 30 days: cutoff 2006-11-06
  ASSERT_TRUE(log->is_connected());
  EXPECT_EQ(column(db_, "select Comment from wkLog order by Comment"),
            (std::vector<std::string>{"kept", "other app"}));

  // A text that would close the literal where a backslash escapes the apostrophe after it, and add
  // a row of its own carrying what a subquery reads.
  const std::string forged = "x\\'),(666,'u','O''Neil',now(),'t',(select 'secret')) -- ";
  put(log, "application log", forged);
  EXPECT_EQ(column(db_, "select Comment from wkLog where AmendDate > '2020-01-01' order by Comment"),
            std::vector<std::string>{forged});
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "app/bin/log"));

  log->DelLog(-32768);  // no cutoff can be computed: no statement at all
  EXPECT_EQ(column(db_, "select count(*) from wkLog"), std::vector<std::string>{"3"});
  clock_.set(2100, 1, 1);
  log->DelLog(0);  // the row just stamped with the server's time is dated before this cutoff too
  EXPECT_EQ(column(db_, "select Comment from wkLog"), std::vector<std::string>{"other app"});
}

// Deletes from wkLog that take this long, without waiting for any lock, as a large backlog does.
void LogServerTest::slow_deletes(int seconds) {
  const std::string n = std::to_string(seconds);
  switch (GetParam()) {
    case LogServer::kPostgres:
      run(db_, "create function slow_purge() returns trigger language plpgsql as $$ begin perform pg_sleep(" +
                   n + "); return null; end $$");
      run(db_,
          "create trigger slow_purge before delete on wkLog for each statement execute function "
          "slow_purge()");
      return;
    case LogServer::kMariaDb:
      run(db_, "create trigger slow_purge before delete on wkLog for each row set @slept = sleep(" + n + ")");
      return;
    case LogServer::kSqlite:
    case LogServer::kSqliteThroughOdbc:
      break;
  }
  // SQLite cannot sleep: each deleted row joins a padding table with itself, sized by how fast this
  // machine joins. A faster run than planned only weakens the test, never fails it.
  run(db_, "create table pad (x integer)");
  run(db_,
      "insert into pad with recursive c(x) as (select 1 union all select x + 1 from c where x < 2000) "
      "select x from c");
  const auto start = std::chrono::steady_clock::now();
  column(db_, "select count(*) from pad a, pad b where a.x + b.x < 0");
  const double per_pair =
      std::max(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1e-3) / 4e6;
  const auto rows = static_cast<long long>(std::sqrt(seconds / per_pair));
  run(db_, "insert into pad with recursive c(x) as (select 2001 union all select x + 1 from c where x < " +
               std::to_string(rows) + ") select x from c");
  run(db_,
      "create trigger slow_purge before delete on wkLog begin "
      "select count(*) from pad a, pad b where a.x + b.x < 0; end");
}

// A purge that runs past the entry's budget without waiting for a lock runs to its end: cut at the
// budget, it would be cut again at every entry and the backlog would never go.
TEST_P(LogServerTest, APurgeRunningPastTheBudgetRunsToItsEnd) {
  run(db_, "insert into wkLog values (1,'u','O''Neil','2006-11-05 23:59:59','t','old')");
  slow_deletes(6);
  Ref<clsLog> log = make_object<clsLog>();
  log->put_AppName("O'Neil");
  log->put_ServerConnectionString(log_string_);
  ASSERT_TRUE(log->is_connected());
  EXPECT_EQ(column(db_, "select count(*) from wkLog"), std::vector<std::string>{"0"});
}

INSTANTIATE_TEST_SUITE_P(Servers, LogServerTest,
                         ::testing::Values(LogServer::kSqlite, LogServer::kSqliteThroughOdbc,
                                           LogServer::kPostgres, LogServer::kMariaDb),
                         [](const ::testing::TestParamInfo<LogServer>& info) {
                           switch (info.param) {
                             case LogServer::kSqlite:
                               return std::string("Sqlite");
                             case LogServer::kSqliteThroughOdbc:
                               return std::string("SqliteThroughOdbc");
                             case LogServer::kPostgres:
                               return std::string("Postgres");
                             case LogServer::kMariaDb:
                               return std::string("MariaDb");
                           }
                           return std::string("Unknown");
                         });

// SQL Server cannot run here: its text is checked as the log's own design writes it.
TEST(LogStatementsTest, SqlServerGetsItsOwnText) {
  EXPECT_EQ(log_purge_statement(LogDialect::kSqlServer, "O'Neil", "20061106"),
            "delete wkLog \r\n"
            "where \r\n"
            "ApplicationName ='O''Neil'\r\n"
            "and convert(varchar,AmendDate,112)<20061106\r\n");
  EXPECT_EQ(log_insert_statement(LogDialect::kSqlServer, 77, "o'brien", "POS", "it's", "a\r\nb\t'c'"),
            "Insert into wkLog(\r\n"
            " ProcessID,\r\n"
            " LogonUserName,\r\n"
            " ApplicationName,\r\n"
            " AmendDate,\r\n"
            " Title,\r\n"
            " Comment\r\n"
            ")values(\r\n"
            " 77,\r\n"
            " 'o''brien',\r\n"
            " 'POS',\r\n"
            " getdate(),\r\n"
            " 'it''s',\r\n"
            " 'a\r\nb\t''c'''\r\n"
            ")\r\n");
}

TEST(LogStatementsTest, TheServerNamedByTheDriverDecidesAndTheProviderOnlyWhenItNamesNone) {
  const struct {
    const char* dbms;
    const char* provider;
    LogDialect dialect;
  } cases[] = {
      {"Microsoft SQL Server", "SQLOLEDB.1", LogDialect::kSqlServer},
      {"PostgreSQL", "MSDASQL", LogDialect::kPostgres},
      {"SQLite", "MSDASQL", LogDialect::kSqlite},
      {"MariaDB", "MSDASQL", LogDialect::kMariaDb},
      {"MySQL", "MSDASQL", LogDialect::kMariaDb},
      {"", "sqlite.3", LogDialect::kSqlite},
      {"", "MSDASQL", LogDialect::kSqlServer},
      {"Oracle", "OraOLEDB.Oracle", LogDialect::kSqlServer},  // unknown to the log: the design's own text
  };
  for (const auto& c : cases)
    EXPECT_EQ(log_dialect(c.dbms, c.provider), c.dialect) << c.dbms << " / " << c.provider;
}

// Another process that holds the log database's write lock until it is told to let go, or until a
// guard that only a log entry waiting far too long would reach. Its exit status tells which.
class LockHolder {
 public:
  static constexpr int kGuardMilliseconds = 45'000;

  LockHolder(const std::string& connection_string, const std::string& journal_mode,
             const std::string& begin) {
    if (pipe(ready_) != 0 || pipe(release_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready_[0]);
      close(release_[1]);
      int status = 2;
      try {
        Ref<_Connection> c = new_connection();
        c->Open(connection_string, "", "", -1);
        Variant affected;
        c->Execute("PRAGMA journal_mode=" + journal_mode, affected, -1);
        c->Execute(begin, affected, -1);
        c->Execute("insert into wkLog values (1,'holder','holder','2006-12-06 00:00:00','t','uncommitted')",
                   affected, -1);
        const char byte = 'r';
        if (write(ready_[1], &byte, 1) == 1) {
          pollfd wait_for_release{release_[0], POLLIN, 0};
          status = poll(&wait_for_release, 1, kGuardMilliseconds) == 1 ? 0 : 3;
        }
      } catch (...) {
      }
      _exit(status);  // the process ends holding the lock: nothing is committed
    }
    close(ready_[1]);
    close(release_[0]);
    ready_[1] = release_[0] = -1;
    char byte = 0;
    holding_ = pid_ > 0 && read(ready_[0], &byte, 1) == 1;
  }
  ~LockHolder() { release(); }

  bool holding() const { return holding_; }
  // Lets go; true when the holder still held the lock when told to (its guard had not run out).
  bool release() {
    for (int* fd : {&release_[1], &ready_[0]}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    if (pid_ <= 0) return false;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  int ready_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool holding_ = false;
};

struct LockCase {
  const char* name;
  const char* journal_mode;
  const char* begin;
};

class LogLockTest : public LogDatabaseTest, public ::testing::WithParamInterface<LockCase> {};

// The steps of PrintApplog while another process holds the write lock: the connect, its purge,
// one more purge and the insert wait for the lock within one budget together, so the entry falls
// back to the file long before the holder's guard runs out.
TEST_P(LogLockTest, AnEntryBlockedByAWriteLockFallsBackToTheFileWithinOneBudget) {
  {
    Ref<_Connection> db = open(sqlite_string());
    run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql"));
  }
  LockHolder holder(sqlite_string(), GetParam().journal_mode, GetParam().begin);
  ASSERT_TRUE(holder.holding());
  {
    Ref<clsLog> log = make_object<clsLog>();
    log->put_ServerConnectionString(sqlite_string());
    log->DelLog(30);
    put(log, "application log", "written while the database was locked");
  }
  EXPECT_TRUE(holder.release()) << "the entry waited until the holder's guard let go of the lock";
  const std::string file = log_file("Ovik2Environment061206-o'brien.LOG");
  EXPECT_NE(file.find("\twritten while the database was locked\r\n"), std::string::npos);
  // Once, and only in the file: nothing reached the table behind the lock.
  Ref<_Connection> db = open(sqlite_string());
  EXPECT_EQ(column(db, "select count(*) from wkLog"), std::vector<std::string>{"0"});
}

INSTANTIATE_TEST_SUITE_P(Holders, LogLockTest,
                         ::testing::Values(LockCase{"ImmediateInWal", "WAL", "BEGIN IMMEDIATE"},
                                           LockCase{"ExclusiveInRollbackJournal", "DELETE",
                                                    "BEGIN EXCLUSIVE"}),
                         [](const ::testing::TestParamInfo<LockCase>& info) {
                           return std::string(info.param.name);
                         });

// On a server a lock held by another session is bounded the same way, through the statements'
// lock time-outs. The holder's session is ended by the server after a while: a guard that only an
// entry waiting far too long would reach.
class ServerLockTest : public LogServerTest {};

TEST_P(ServerLockTest, AnEntryBlockedByATableLockFallsBackToTheFileWithinOneBudget) {
  const bool postgres = GetParam() == LogServer::kPostgres;
  if (postgres) {
    run(db_, "set idle_in_transaction_session_timeout = 45000");
    db_->BeginTrans();
    run(db_, "lock table wkLog in exclusive mode");
  } else {
    run(db_, "set session wait_timeout = 45");
    run(db_, "lock tables wkLog write");
  }
  {
    Ref<clsLog> log = make_object<clsLog>();
    log->put_ServerConnectionString(log_string_);
    log->DelLog(30);
    put(log, "application log", "written while the table was locked");
  }
  EXPECT_NO_THROW(column(db_, "select 1")) << "the entry waited until the server ended the holder's session";
  EXPECT_NE(log_file("Ovik2Environment061206-o'brien.LOG").find("\twritten while the table was locked\r\n"),
            std::string::npos);
  try {
    if (postgres) {
      db_->RollbackTrans();
    } else {
      run(db_, "unlock tables");
    }
  } catch (...) {
  }
  EXPECT_EQ(column(admin_, "select count(*) from wkLog"), std::vector<std::string>{"0"});
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerLockTest,
                         ::testing::Values(LogServer::kPostgres, LogServer::kMariaDb),
                         [](const ::testing::TestParamInfo<LogServer>& info) {
                           return std::string(info.param == LogServer::kPostgres ? "Postgres" : "MariaDb");
                         });

// The server stops after the log connected: the next entry goes to the file. The server is one of
// the test's own: stopping it must not disturb other tests of the shared test server.
class LogClusterTest : public LogDatabaseTest, public ::testing::WithParamInterface<LogServer> {};

TEST_P(LogClusterTest, StoresRowsAndAStoppedServerFallsBackToTheFile) {
  std::unique_ptr<testing::OwnCluster> cluster;
  std::string ddl;
  if (GetParam() == LogServer::kPostgres) {
    auto own = std::make_unique<testing::PgCluster>();
    OVIK_REQUIRE_PG_CLUSTER(*own);
    cluster = std::move(own);
    ddl = "/sql/wkLog.postgresql.sql";
  } else {
    auto own = std::make_unique<testing::MariaDbCluster>();
    OVIK_REQUIRE_MARIADB_CLUSTER(*own);
    cluster = std::move(own);
    ddl = "/sql/wkLog.mariadb.sql";
  }
  const std::string cs = cluster->connection_string();
  Ref<_Connection> db = open(cs);
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + ddl));

  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString(cs);
  ASSERT_TRUE(log->is_connected());
  put(log, "application log", "before the stop: it's in the table");
  EXPECT_EQ(column(db, "select Comment from wkLog"), std::vector<std::string>{"before the stop: it's in the table"});
  db->Close();

  ASSERT_TRUE(cluster->halt());
  EXPECT_NO_THROW(put(log, "application log", "after the stop"));
  const std::string file = log_file("Ovik2Environment061206-o'brien.LOG");
  EXPECT_NE(file.find("\tPutLog\t"), std::string::npos) << file;
  EXPECT_NE(file.find("\tafter the stop\r\n"), std::string::npos) << file;
}

INSTANTIATE_TEST_SUITE_P(Servers, LogClusterTest,
                         ::testing::Values(LogServer::kPostgres, LogServer::kMariaDb),
                         [](const ::testing::TestParamInfo<LogServer>& info) {
                           return std::string(info.param == LogServer::kPostgres ? "Postgres" : "MariaDb");
                         });

}  // namespace
}  // namespace ovik
