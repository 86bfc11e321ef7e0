// The application log with a database: rows of wkLog on SQLite (the embedded default) and on
// PostgreSQL reached through ODBC, each in its own dialect, the purge of rows, the fall back to
// the file when the server goes away, and the one budget an entry has for waiting on locks.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "logging/log.h"
#include "logging/log_statements.h"
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

// The log connection's password stays out of the file and the table: in the failure entry of a
// connection whose data source the password filled, and in the entries' own texts.
TEST_F(LogDatabaseTest, TheLogConnectionsPasswordReachesNoLineAndNoRow) {
  const std::string secret = "S3cr3t";
  Ref<clsLog> failed = make_object<clsLog>();
  failed->put_ServerConnectionString("Provider=SQLite;Password=" + secret + ";Data Source=" + dir_.str() + "/missing-" +
                                     secret + "/" + secret + ".db");
  EXPECT_FALSE(failed->is_connected());
  put(failed, "title " + secret, "the password " + secret + " was refused");
  const std::string text = log_file("Ovik2Environment061206-o'brien.LOG");
  EXPECT_NE(text.find("\tServerConnectionString\t"), std::string::npos) << text;
  EXPECT_NE(text.find("\ttitle ********\tthe password ******** was refused\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find(secret), std::string::npos) << text;

  Ref<_Connection> db = open(sqlite_string());
  run(db, read_text(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql"));
  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString(sqlite_string() + ";Password=" + secret);
  ASSERT_TRUE(log->is_connected());
  std::string title = "t", comment = "it's " + secret;
  log->PutLog(title, comment);
  EXPECT_EQ(comment, "it's " + secret);  // the caller's own text is left as it was
  EXPECT_EQ(column(db, "select Title || '|' || Comment from wkLog"), std::vector<std::string>{"t|it's ********"});
}

// The log speaks the dialect of the server it reached, whatever the provider says: the same
// purge and insert run on SQLite, on SQLite behind an ODBC data source, and on PostgreSQL.
enum class LogServer { kSqlite, kSqliteThroughOdbc, kPostgres };

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
    }
    db_ = open(GetParam() == LogServer::kSqliteThroughOdbc ? sqlite_string() : log_string_);
    run(db_, read_text(std::string(OVIK_SOURCE_DIR) + ddl));
  }
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

  put(log, "application log", "stored");
  EXPECT_EQ(column(db_, "select Comment from wkLog where AmendDate > '2020-01-01' order by Comment"),
            std::vector<std::string>{"stored"});
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "app/bin/log"));

  log->DelLog(-32768);  // no cutoff can be computed: no statement at all
  EXPECT_EQ(column(db_, "select count(*) from wkLog"), std::vector<std::string>{"3"});
  clock_.set(2100, 1, 1);
  log->DelLog(0);  // the row just stamped with the server's time is dated before this cutoff too
  EXPECT_EQ(column(db_, "select Comment from wkLog"), std::vector<std::string>{"other app"});
}

INSTANTIATE_TEST_SUITE_P(Servers, LogServerTest,
                         ::testing::Values(LogServer::kSqlite, LogServer::kSqliteThroughOdbc,
                                           LogServer::kPostgres),
                         [](const ::testing::TestParamInfo<LogServer>& info) {
                           switch (info.param) {
                             case LogServer::kSqlite:
                               return std::string("Sqlite");
                             case LogServer::kSqliteThroughOdbc:
                               return std::string("SqliteThroughOdbc");
                             case LogServer::kPostgres:
                               return std::string("Postgres");
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

// On the server a lock held by another session is bounded the same way, through the statements'
// time-outs. The holder's session is ended by the server after a while: a guard that only an entry
// waiting far too long would reach.
class PgLockTest : public LogServerTest {};

TEST_P(PgLockTest, AnEntryBlockedByATableLockFallsBackToTheFileWithinOneBudget) {
  run(db_, "set idle_in_transaction_session_timeout = 45000");
  db_->BeginTrans();
  run(db_, "lock table wkLog in exclusive mode");
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
    db_->RollbackTrans();
  } catch (...) {
  }
  EXPECT_EQ(column(admin_, "select count(*) from wkLog"), std::vector<std::string>{"0"});
}

INSTANTIATE_TEST_SUITE_P(Server, PgLockTest, ::testing::Values(LogServer::kPostgres),
                         [](const ::testing::TestParamInfo<LogServer>&) { return std::string("Postgres"); });

TEST_F(LogDatabaseTest, PostgreSqlStoresRowsAndAStoppedServerFallsBackToTheFile) {
  // A private cluster: stopping it must not disturb other tests of the shared test server.
  if (!std::getenv("OVIK_TEST_PG_DSN")) {
    if (testing::PgServer::required()) FAIL() << testing::PgServer::kSkipReason;
    GTEST_SKIP() << testing::PgServer::kSkipReason;
  }
  const std::string script = std::string(OVIK_SOURCE_DIR) + "/scripts/pg-test-server.sh";
  // Beside, not inside, the test's own folder: the server runs as another user, who cannot enter it.
  const std::string cluster =
      (std::filesystem::temp_directory_path() / ("ovik-pglog-" + std::to_string(getpid()))).string();
  // Armed before the start: a start that fails half-way (another cluster took the port meanwhile)
  // leaves a folder to remove as well.
  struct Stop {
    std::string command;
    ~Stop() { [[maybe_unused]] int rc = std::system(command.c_str()); }
  } stop{script + " stop " + cluster + " >/dev/null 2>&1"};
  ASSERT_EQ(std::system((script + " start " + cluster + " >/dev/null").c_str()), 0);
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
