// A database server that goes away and comes back, and statements that run past their time:
// the failure reaches the caller and the listeners of RaiseDatabaseError, what was done before it
// stays done, and a new Connect (or the same connection, after a time-out) works again.
//
// The server is stopped only in a server of the test's own (support/own_cluster.h), PostgreSQL's
// and MariaDB's through the same bodies.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <functional>
#include <memory>

#include "database/database.h"
#include "ovik/events.h"
#include "support/error_of.h"
#include "support/mariadb_cluster.h"
#include "support/mariadb_server.h"
#include "support/pg_cluster.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace ovik::testing {
namespace {

class DatabaseErrors final : public Listener<DatabaseErrors, __clsDatabase> {
 public:
  void RaiseDatabaseError(const std::string&, const std::string& strErrorString) override {
    texts.push_back(strErrorString);
  }
  std::vector<std::string> texts;
};

Ref<DatabaseErrors> listen(clsDatabase& db) {
  Ref<DatabaseErrors> errors(new DatabaseErrors);
  db.Advise(__clsDatabase::IID, errors.get());
  return errors;
}

void execute(clsDatabase& db, const std::string& sql) {
  Variant affected;
  db.get_Connection()->Execute(sql, affected, -1);
}

std::string first_value(clsDatabase& db, const std::string& sql) {
  Ref<_Recordset> rs = db.OpenForwardOnlyRecordset(sql);
  return rs->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_string();
}

// The first column of every row, joined by commas.
std::string column_values(clsDatabase& db, const std::string& sql) {
  Ref<_Recordset> rs = db.OpenForwardOnlyRecordset(sql);
  std::string out;
  for (; !rs->get_EOF(); rs->MoveNext())
    out += (out.empty() ? "" : ",") +
           rs->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_string();
  return out;
}

Ref<clsDatabase> connected(const std::string& connection_string, std::int32_t command_timeout = 300) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  db->put_ConnectionTimeout(10);
  db->put_CommandTimeout(command_timeout);
  EXPECT_TRUE(db->Connect(connection_string, HowToConnectEnum::ConnectByConnectionString));
  return db;
}

// Rows CD = 1..n, NM = "row <CD>", in memory, as a client hands them to RecordToDatabase.
Ref<_Recordset> rows(int n) {
  Ref<_Recordset> rs = new_recordset();
  Ref<Fields> fields = rs->get_Fields();
  fields->Append("CD", ado::adInteger, 4, 0);
  fields->Append("NM", ado::adVarWChar, 40, ado::adFldIsNullable);
  rs->put_CursorLocation(ado::adUseClient);
  rs->Open(Variant(), Variant(), ado::adOpenStatic, ado::adLockOptimistic, -1);
  for (std::int32_t cd = 1; cd <= n; ++cd) {
    rs->AddNew();
    fields->get_Item(Variant("CD"))->put_Value(Variant(cd));
    fields->get_Item(Variant("NM"))->put_Value(Variant("row " + std::to_string(cd)));
    rs->Update();
  }
  return rs;
}

bool is_execute_failure(const std::vector<std::string>& texts) {
  return texts.size() == 1 && texts[0].starts_with("(event)ADODB.ExecuteComplete\r\n") &&
         texts[0].size() > std::string("(event)ADODB.ExecuteComplete\r\n").size();
}

enum class Server { PostgreSQL, MariaDB };

class ServerFaultTest : public ::testing::TestWithParam<Server> {
 protected:
  void SetUp() override {
    if (GetParam() == Server::PostgreSQL) {
      auto own = std::make_unique<PgCluster>();
      OVIK_REQUIRE_PG_CLUSTER(*own);
      cluster_ = std::move(own);
    } else {
      auto own = std::make_unique<MariaDbCluster>();
      OVIK_REQUIRE_MARIADB_CLUSTER(*own);
      cluster_ = std::move(own);
    }
  }

  std::unique_ptr<OwnCluster> cluster_;
};

TEST_P(ServerFaultTest, AServerStoppedDuringRecordToDatabaseKeepsTheRowsBeforeAndTellsTheCaller) {
  OwnCluster& cluster = *cluster_;
  Ref<clsDatabase> db = connected(cluster.connection_string());
  ASSERT_TRUE(db->get_Usable());
  execute(*db, "create table t (CD integer primary key, NM varchar(40))");
  Ref<DatabaseErrors> errors = listen(*db);

  // The server stops right after the fourth row's insert completed.
  int inserted = 0;
  bool halted = false;
  Ref<IDispatch> stopper = CallbackListener::make([&](std::int32_t dispid, std::span<Variant>) {
    if (dispid == ado::kDispExecuteComplete && ++inserted == 4) halted = cluster.halt();
  });
  db->get_Connection().as<IConnectionPointContainer>()->Advise(ConnectionEvents::IID, stopper.get());

  Ref<_Recordset> source = rows(10);
  std::string prefix = " ";
  const RaisedError e = error_of([&] { db->RecordToDatabase("t", source, prefix); });
  ASSERT_TRUE(halted);
  EXPECT_NE(e.number(), 0);
  EXPECT_FALSE(e.description().empty());
  EXPECT_TRUE(is_execute_failure(errors->texts)) << ::testing::PrintToString(errors->texts);
  EXPECT_EQ(source->get_Fields()->get_Item(Variant("CD"))->get_Value().to_i32(), 5)
      << "stopped at the fifth row";

  ASSERT_TRUE(cluster.resume());
  Ref<clsDatabase> fresh = connected(cluster.connection_string());
  ASSERT_TRUE(fresh->get_Usable());
  EXPECT_EQ(column_values(*fresh, "select NM from t order by CD"), "row 1,row 2,row 3,row 4");
}

// The server goes away between two statements and comes back: the failing statement and a
// Connect while it is down are reported; once it is back, Disconnect and Connect on the same
// object give a working connection, and what was committed before is there.
TEST_P(ServerFaultTest, AServerStoppedAndStartedAgainTakesANewConnect) {
  OwnCluster& cluster = *cluster_;
  Ref<clsDatabase> db = connected(cluster.connection_string());
  execute(*db, "create table t (CD integer)");
  execute(*db, "insert into t values (1)");
  Ref<DatabaseErrors> errors = listen(*db);

  ASSERT_TRUE(cluster.halt());
  const RaisedError gone = error_of([&] { execute(*db, "insert into t values (2)"); });
  EXPECT_NE(gone.number(), 0);
  EXPECT_TRUE(is_execute_failure(errors->texts)) << ::testing::PrintToString(errors->texts);
  EXPECT_TRUE(db->get_Usable()) << "the object still holds its connection until it disconnects";

  // While the server is down, connecting again fails as any failed connect does.
  db->Disconnect();
  ASSERT_FALSE(db->get_Usable());
  const RaisedError refused = error_of(
      [&] { db->Connect(cluster.connection_string(), HowToConnectEnum::ConnectByConnectionString); });
  EXPECT_EQ(refused.number(), 60000);
  EXPECT_TRUE(refused.description().starts_with("【ConnectDataBase】 ")) << refused.description();
  EXPECT_FALSE(db->get_Usable());

  ASSERT_TRUE(cluster.resume());
  EXPECT_TRUE(db->Connect(cluster.connection_string(), HowToConnectEnum::ConnectByConnectionString));
  execute(*db, "insert into t values (3)");
  EXPECT_EQ(column_values(*db, "select CD from t order by CD"), "1,3");
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerFaultTest, ::testing::Values(Server::PostgreSQL, Server::MariaDB),
                         [](const auto& info) {
                           return std::string(info.param == Server::PostgreSQL ? "PostgreSQL" : "MariaDB");
                         });

// A statement that runs past CommandTimeout is cancelled: the failure reaches the caller and
// the listeners, and the same connection goes on working. The same body on each database.
enum class Backend { SQLite, PostgreSQL, MariaDB };

class StatementTimeoutTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::PostgreSQL) {
      pg_ = PgServer::from_environment();
      OVIK_REQUIRE_PG_SERVER(pg_);
      connection_string_ = pg_->connection_string();
      endless_ = "select pg_sleep(600)";
    } else if (GetParam() == Backend::MariaDB) {
      maria_ = MariaDbServer::from_environment();
      OVIK_REQUIRE_MARIADB_SERVER(maria_);
      connection_string_ = maria_->connection_string();
      endless_ = "select sleep(600)";
    } else {
      connection_string_ =
          "Provider=SQLite;Data Source=" + (dir_.path() / "t.db").string() + ";Create If Missing=True";
      endless_ = "with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c";
    }
    db_ = connected(connection_string_, 1);
    ASSERT_TRUE(db_->get_Usable());
  }

  TempDir dir_;
  std::optional<PgServer> pg_;
  std::optional<MariaDbServer> maria_;
  std::string connection_string_;
  std::string endless_;
  Ref<clsDatabase> db_;
};

TEST_P(StatementTimeoutTest, AStatementPastCommandTimeoutIsCancelledAndTheConnectionGoesOn) {
  EXPECT_EQ(db_->get_Connection()->get_CommandTimeout(), 1);
  Ref<DatabaseErrors> errors = listen(*db_);
  const RaisedError e = error_of([&] { execute(*db_, endless_); });
  EXPECT_NE(e.number(), 0);
  Ref<Errors> provider = db_->get_Connection()->get_Errors();
  ASSERT_GE(provider->get_Count(), 1);
  const std::string state = provider->get_Item(Variant(std::int32_t{0}))->get_SQLState();
  // MariaDB's driver reports the server's max_statement_time (1969) as HY018.
  EXPECT_TRUE(state == "HY008" || state == "57014" || state == "HY018") << state << ": " << e.description();
  EXPECT_TRUE(is_execute_failure(errors->texts)) << ::testing::PrintToString(errors->texts);

  EXPECT_EQ(first_value(*db_, "select 1 + 1"), "2");
  execute(*db_, "create table t (CD integer primary key, NM varchar(40))");
  Ref<_Recordset> source = rows(3);
  std::string prefix = " ";
  EXPECT_TRUE(db_->RecordToDatabase("t", source, prefix));
  EXPECT_EQ(first_value(*db_, "select count(*) from t"), "3");
}

INSTANTIATE_TEST_SUITE_P(Backends, StatementTimeoutTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL, Backend::MariaDB),
                         [](const auto& info) {
                           return std::string(info.param == Backend::SQLite       ? "SQLite"
                                              : info.param == Backend::PostgreSQL ? "PostgreSQL"
                                                                                  : "MariaDB");
                         });

// On the server, an insert of RecordToDatabase held up past the time-out (here by a trigger that
// sleeps on one row) is cancelled like any statement: the rows before it stay, the error reaches
// the caller, and the connection takes the rest.
TEST(StatementTimeoutOnServerTest, ARowHeldUpPastCommandTimeoutStopsRecordToDatabaseThere) {
  const auto server = PgServer::from_environment();
  OVIK_REQUIRE_PG_SERVER(server);
  Ref<clsDatabase> db = connected(server->connection_string(), 1);
  execute(*db, "create table t (CD integer primary key, NM varchar(40))");
  execute(*db,
          "create function slow_row() returns trigger language plpgsql as $$ begin "
          "if new.CD = 3 then perform pg_sleep(600); end if; return new; end $$");
  execute(*db, "create trigger slow before insert on t for each row execute function slow_row()");
  Ref<DatabaseErrors> errors = listen(*db);

  Ref<_Recordset> source = rows(5);
  std::string prefix = " ";
  const RaisedError e = error_of([&] { db->RecordToDatabase("t", source, prefix); });
  EXPECT_NE(e.number(), 0);
  EXPECT_TRUE(is_execute_failure(errors->texts)) << ::testing::PrintToString(errors->texts);
  EXPECT_EQ(source->get_Fields()->get_Item(Variant("CD"))->get_Value().to_i32(), 3);
  EXPECT_EQ(first_value(*db, "select string_agg(CD::text, ',' order by CD) from t"), "1,2");

  execute(*db, "drop trigger slow on t");
  source->MoveNext();
  Ref<_Recordset> rest = db->ChangeRecordset(source);  // rows 4 and 5
  EXPECT_TRUE(db->RecordToDatabase("t", rest, prefix));
  EXPECT_EQ(first_value(*db, "select string_agg(CD::text, ',' order by CD) from t"), "1,2,4,5");
}

// A server that accepts the connection and never answers: the connect gives up at the
// connection's time-out. MariaDB's driver leaves the ODBC login time-out unused; a site's DSN
// names the driver, so the row goes through a DSN as a site's settings do. (The driver manager
// reads a DSN file once per process: CTest runs each row in a process of its own.)
class SilentServer {
 public:
  SilentServer() {
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(socket_, 16) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no loopback listener");
    port_ = ntohs(address.sin_port);
    // Holds what it accepts for 40 s at most, so a connect that waits for an answer ends at last.
    thread_ = std::thread([this] {
      std::vector<int> held;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
      while (!stop_ && std::chrono::steady_clock::now() < until) {
        pollfd ready{socket_, POLLIN, 0};
        if (::poll(&ready, 1, 100) == 1) held.push_back(::accept(socket_, nullptr, nullptr));
      }
      for (int fd : held) ::close(fd);
    });
  }
  ~SilentServer() {
    stop_ = true;
    thread_.join();
    ::close(socket_);
  }
  int port() const { return port_; }

 private:
  int socket_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class SilentServerTest : public ::testing::TestWithParam<Server> {};

TEST_P(SilentServerTest, TheConnectGivesUpAtItsTimeOut) {
  const bool maria = GetParam() == Server::MariaDB;
  const char* sysini = std::getenv("ODBCSYSINI");
  std::ifstream drivers(std::string(sysini != nullptr ? sysini : "/etc") + "/odbcinst.ini");
  const std::string driver = maria ? "MariaDB Unicode" : "PostgreSQL Unicode";
  const std::string registered(std::istreambuf_iterator<char>(drivers), {});
  if (registered.find("[" + driver + "]") == std::string::npos) {
    if (maria ? MariaDbServer::required() : PgServer::required()) FAIL() << driver << " is not registered";
    GTEST_SKIP() << driver << " is not registered";
  }
  SilentServer server;
  TempDir dir;
  const std::string port = std::to_string(server.port());
  const std::string ini = dir.write("odbc.ini", "[silent]\nDriver=" + driver + "\nServer=127.0.0.1\nServername=127.0.0.1\nPort=" +
                                                    port + "\nDatabase=x\n");
  const char* before = std::getenv("ODBCINI");
  const std::string kept = before != nullptr ? before : "";
  ::setenv("ODBCINI", ini.c_str(), 1);

  Ref<clsDatabase> db = make_object<clsDatabase>();
  db->put_ConnectionTimeout(2);
  const auto start = std::chrono::steady_clock::now();
  const RaisedError e = error_of([&] {
    db->Connect("Provider=MSDASQL;Data Source=silent;User ID=u;Password=p", HowToConnectEnum::ConnectByConnectionString);
  });
  EXPECT_EQ(e.number(), 60000) << e.what();
  // Far above the 2 s asked for, far below the 40 s the server holds the connection.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(25)) << e.what();
  if (before != nullptr) ::setenv("ODBCINI", kept.c_str(), 1);
  else ::unsetenv("ODBCINI");
}

INSTANTIATE_TEST_SUITE_P(Servers, SilentServerTest, ::testing::Values(Server::PostgreSQL, Server::MariaDB),
                         [](const auto& info) {
                           return std::string(info.param == Server::PostgreSQL ? "PostgreSQL" : "MariaDB");
                         });

}  // namespace
}  // namespace ovik::testing
