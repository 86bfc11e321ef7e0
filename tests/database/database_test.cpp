// clsDatabase: connecting and its failure report, the kind of database, the connection's events,
// recordsets and record insertion. First against a scripted connection (every rule of the failure
// report can be staged there), then against real SQLite files and a PostgreSQL server.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/fake_connection.h"
#include "ovik/events.h"
#include "platform/locale_rules.h"
#include "support/error_of.h"
#include "support/mariadb_server.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace ovik::testing {
namespace {

// Records RaiseDatabaseError events, and optionally what else happened around them.
class EventLog final : public Listener<EventLog, __clsDatabase> {
 public:
  explicit EventLog(std::vector<std::string>* journal = nullptr) : journal_(journal) {}
  ~EventLog() override = default;
  void RaiseDatabaseError(const std::string& strDbName, const std::string& strErrorString) override {
    names.push_back(strDbName);
    texts.push_back(strErrorString);
    if (journal_) journal_->push_back("event");
  }
  std::vector<std::string> names, texts;

 private:
  std::vector<std::string>* journal_;
};

Ref<EventLog> listen(clsDatabase& db, std::vector<std::string>* journal = nullptr) {
  Ref<EventLog> log(new EventLog(journal));
  db.Advise(__clsDatabase::IID, log.get());
  return log;
}

class ScriptedConnectionTest : public ::testing::Test {
 protected:
  bool connect(clsDatabase& db, const std::string& cs = "Provider=SQLite;Data Source=x.db") {
    return db.Connect(cs, HowToConnectEnum::ConnectByConnectionString);
  }
  FakeConnectionSource source_;
  platform::ScopedFake<ConnectionSource> fake_{source_};
  platform::ScopedLocale locale_{platform::LocaleSettings{}};
};

TEST_F(ScriptedConnectionTest, NewObjectAndSuccessfulConnectAndDisconnect) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  EXPECT_EQ(db->get_CommandTimeout(), 300);
  EXPECT_EQ(db->get_ConnectionTimeout(), 0);
  EXPECT_FALSE(db->get_Usable());
  EXPECT_FALSE(db->get_TraceTransaction());
  EXPECT_EQ(db->get_ErrorCD(), 0);
  EXPECT_EQ(db->get_ErrorMsg(), "");
  EXPECT_FALSE(db->get_Connection());
  EXPECT_EQ(error_of([&] { db->get_Provider(); }).number(), 91);
  EXPECT_TRUE(db->Disconnect());  // never connected

  db->put_CommandTimeout(17);
  db->put_TransFlg(true);
  ASSERT_TRUE(connect(*db, "Provider=SQLite;Data Source=a.db"));
  FakeConnection& c = source_.last();
  EXPECT_EQ(c.opened_with, "Provider=SQLite;Data Source=a.db");
  EXPECT_EQ(c.command_timeout, 17);
  EXPECT_EQ(c.connection_timeout, 0);  // passed on as 0, not replaced by a default
  EXPECT_TRUE(db->get_Usable());
  EXPECT_FALSE(db->get_TransFlg());
  EXPECT_EQ(db->get_Connection().get(), static_cast<_Connection*>(&c));  // the same object

  db->put_CommandTimeout(99);  // stored only
  EXPECT_EQ(c.command_timeout, 17);
  EXPECT_TRUE(connect(*db, "Provider=SQLOLEDB;Data Source=other"));  // already connected: nothing happens
  EXPECT_EQ(source_.created.size(), 1u);

  EXPECT_TRUE(db->Disconnect());
  EXPECT_FALSE(c.open);
  EXPECT_FALSE(db->get_Usable());
  EXPECT_FALSE(db->get_Connection());
}

TEST_F(ScriptedConnectionTest, UdlFileIsOpenedAsFileName) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  ASSERT_TRUE(db->Connect("/opt/app/ini/store.udl", HowToConnectEnum::ConnectByUdlFile));
  EXPECT_EQ(source_.last().opened_with, "File Name=/opt/app/ini/store.udl");
}

TEST_F(ScriptedConnectionTest, ProviderDetectionBySubstring) {
  const std::pair<const char*, ConnectedDatabaseTypeEnum> cases[] = {
      {"Microsoft.Jet.OLEDB.4.0", ConnectedDatabaseTypeEnum::IsAccess},
      {"OraOLEDB.Oracle.1", ConnectedDatabaseTypeEnum::IsOracle},
      {"MSDAORA.1", ConnectedDatabaseTypeEnum::IsOracle},
      {"SQLOLEDB.1", ConnectedDatabaseTypeEnum::IsSqlServer},
      {"MSDASQL.1", ConnectedDatabaseTypeEnum::IsUnknown},
      {"sqloledb", ConnectedDatabaseTypeEnum::IsSqlServer},
      {"x-MICROSOFT.JET.OLEDB-sqloledb", ConnectedDatabaseTypeEnum::IsAccess},  // first match wins
      {"SQLite", ConnectedDatabaseTypeEnum::IsUnknown},
      {"", ConnectedDatabaseTypeEnum::IsUnknown},
  };
  Ref<clsDatabase> db = make_object<clsDatabase>();
  ASSERT_TRUE(connect(*db));
  for (const auto& [name, type] : cases) {
    SCOPED_TRACE(name);
    source_.last().provider = name;  // read afresh at every read
    EXPECT_EQ(db->get_Provider(), type);
    EXPECT_EQ(database_type_of_provider(name), type);
  }
}

TEST_F(ScriptedConnectionTest, FailedConnectWithProviderErrors) {
  struct Case {
    const char* last_state;
    std::int32_t error_cd;
  };
  const Case cases[] = {{"42000", 42000}, {"08S01", -1}, {"01000", 1000}, {"", -1}, {"HYT00", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.last_state);
    Ref<clsDatabase> db = make_object<clsDatabase>();
    std::vector<std::string> journal;
    Ref<EventLog> log = listen(*db, &journal);
    FakeConnectionSource& source = source_;
    source.created.clear();
    // Each connection is scripted to fail once it exists: the factory cannot know it in advance.
    struct Failing final : ConnectionSource {
      FakeConnectionSource* inner;
      const char* state;
      Ref<_Connection> create() override {
        Ref<_Connection> made = inner->create();
        inner->last().default_database = "storedb";
        inner->last().open_failure =
            Failure{{fake_error("first problem", "08001"), fake_error("second problem", state)}};
        return made;
      }
    } failing;
    failing.inner = &source;
    failing.state = c.last_state;
    platform::ScopedFake<ConnectionSource> fake(failing);

    const RaisedError e = error_of([&] {
      connect(*db);
      journal.push_back("returned");
    });
    journal.push_back("raised");
    EXPECT_EQ(e.number(), 60000);
    EXPECT_EQ(e.source(), "clsAdoLib.ErrProc");
    const std::string text = "【ConnectDataBase】 first problem\r\nsecond problem";
    EXPECT_EQ(e.description(), text);
    EXPECT_EQ(db->get_ErrorMsg(), text);
    EXPECT_EQ(db->get_ErrorCD(), c.error_cd);
    EXPECT_FALSE(db->get_Usable());
    EXPECT_TRUE(db->get_Connection());  // the unopened connection stays
    // The connection's completion event reached the listeners before the failure reached us.
    EXPECT_EQ(journal, (std::vector<std::string>{"event", "raised"}));
    ASSERT_EQ(log->texts.size(), 1u);
    EXPECT_EQ(log->names[0], "storedb");
    EXPECT_EQ(log->texts[0], "(event)ADODB.ConnectComplete\r\nfirst problem\r\n");
  }
}

TEST_F(ScriptedConnectionTest, FailureWithoutProviderErrorsReturnsFalse) {
  struct Failing final : ConnectionSource {
    FakeConnectionSource* inner;
    Ref<_Connection> create() override {
      Ref<_Connection> made = inner->create();
      inner->last().open_failure = Failure{{}, 3706, "Provider cannot be found."};
      return made;
    }
  } failing;
  failing.inner = &source_;
  platform::ScopedFake<ConnectionSource> fake(failing);
  Ref<clsDatabase> db = make_object<clsDatabase>();
  Ref<EventLog> log = listen(*db);
  EXPECT_FALSE(connect(*db));
  EXPECT_EQ(db->get_ErrorCD(), 3706);
  EXPECT_EQ(db->get_ErrorMsg(), "Provider cannot be found.");  // no label
  EXPECT_FALSE(db->get_Usable());
  EXPECT_TRUE(log->texts.empty());  // the completion event carried no error object

  // The next Connect clears the report; a new connection replaces the failed one.
  source_.created.clear();
  platform::ScopedFake<ConnectionSource> working(source_);
  EXPECT_TRUE(connect(*db));
  EXPECT_EQ(db->get_ErrorCD(), 0);
  EXPECT_EQ(db->get_ErrorMsg(), "");
}

TEST_F(ScriptedConnectionTest, FailedDisconnectKeepsTheConnection) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  ASSERT_TRUE(connect(*db));
  FakeConnection& c = source_.last();
  c.close_failure = Failure{{}, 3219, "Operation is not allowed in this context."};
  EXPECT_FALSE(db->Disconnect());
  EXPECT_EQ(db->get_ErrorCD(), 3219);
  EXPECT_TRUE(db->get_Usable());
  EXPECT_TRUE(db->get_Connection());

  // Connect while connected returns True at once and clears the report.
  EXPECT_TRUE(connect(*db));
  EXPECT_EQ(db->get_ErrorCD(), 0);
  EXPECT_EQ(db->get_ErrorMsg(), "");

  c.close_failure = Failure{{fake_error("link lost", "08S01")}};
  const RaisedError e = error_of([&] { db->Disconnect(); });
  EXPECT_EQ(e.number(), 60000);
  EXPECT_EQ(e.description(), "【Disconnect】 link lost");
  EXPECT_EQ(db->get_ErrorCD(), -1);
  EXPECT_TRUE(db->get_Usable());

  c.close_failure.reset();
  EXPECT_TRUE(db->Disconnect());
  EXPECT_FALSE(db->get_Usable());
}

// Which connection events raise RaiseDatabaseError, with which label, and that the error-free
// ones raise nothing.
TEST_F(ScriptedConnectionTest, ConnectionEventsWithAnErrorRaiseDatabaseError) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  ASSERT_TRUE(connect(*db));
  FakeConnection& c = source_.last();
  c.default_database = "";
  Ref<EventLog> log = listen(*db);
  Ref<_Connection> self = c.self();
  Ref<Error> none;
  Ref<Error> problem = fake_error("deadlock victim", "40001");

  auto& ev = c.events;
  using E = ConnectionEvents;
  // Error-free events first: none of them raises anything.
  ev.fire(&E::InfoMessage, 0, none, 1, self);
  ev.fire(&E::BeginTransComplete, 1, 1, none, 1, self);
  ev.fire(&E::CommitTransComplete, 3, none, 1, self);
  ev.fire(&E::RollbackTransComplete, 2, none, 1, self);
  ev.fire(&E::ExecuteComplete, 5, 0, none, 1, Ref<_Recordset>(), self);
  ev.fire(&E::ConnectComplete, 7, none, 1, self);
  ev.fire(&E::WillExecute, 4, std::string("select 1"), -1, -1, -1, 1, Ref<_Recordset>(), self);
  ev.fire(&E::WillConnect, 6, std::string("cs"), std::string(), std::string(), -1, 1, self);
  ev.fire(&E::Disconnect, 8, 1, self);
  EXPECT_TRUE(log->texts.empty());

  ev.fire(&E::BeginTransComplete, 1, 1, problem, 2, self);
  ev.fire(&E::CommitTransComplete, 3, problem, 2, self);
  ev.fire(&E::RollbackTransComplete, 2, problem, 2, self);
  ev.fire(&E::ConnectComplete, 7, problem, 2, self);
  ev.fire(&E::ExecuteComplete, 5, 0, problem, 2, Ref<_Recordset>(), self);
  ev.fire(&E::InfoMessage, 0, problem, 2, self);
  const char* labels[] = {"BeginTransComplete", "CommitTransComplete", "RollbackTransComplete",
                          "ConnectComplete",    "ExecuteComplete",     "InfoMessage"};
  ASSERT_EQ(log->texts.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(log->texts[i], std::string("(event)ADODB.") + labels[i] + "\r\ndeadlock victim\r\n");
    EXPECT_EQ(log->names[i], "");
  }
  EXPECT_EQ(db->get_ErrorCD(), 0);  // the event and the error properties are independent channels
  EXPECT_EQ(db->get_ErrorMsg(), "");
}

TEST_F(ScriptedConnectionTest, EndOfLifeDisconnectsAndStopsListening) {
  Ref<FakeConnection> kept;
  Ref<EventLog> log;
  {
    Ref<clsDatabase> db = make_object<clsDatabase>();
    ASSERT_TRUE(connect(*db));
    kept = source_.created.back();
    log = listen(*db);
  }
  EXPECT_FALSE(kept->open);
  EXPECT_EQ(kept->events.size(), 0u);  // no listener left behind on a connection that lives on
  kept->events.fire(&ConnectionEvents::ExecuteComplete, 5, 0, fake_error("late", "HY000"), 2,
                    Ref<_Recordset>(), Ref<_Connection>(kept));
  EXPECT_TRUE(log->texts.empty());
}

TEST_F(ScriptedConnectionTest, EndOfLifeSwallowsAFailingDisconnect) {
  Ref<FakeConnection> kept;
  {
    Ref<clsDatabase> db = make_object<clsDatabase>();
    ASSERT_TRUE(connect(*db));
    kept = source_.created.back();
    kept->close_failure = Failure{{fake_error("cannot close", "HY000")}};
  }
  EXPECT_TRUE(kept->open);
  EXPECT_EQ(kept->events.size(), 0u);
}

TEST_F(ScriptedConnectionTest, ErrProcWithoutAConnectionRaisesObjectNotSet) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  Ref<_Recordset> nothing;
  EXPECT_EQ(error_of([&] { db->ChangeRecordset(nothing); }).number(), 91);
}

// A CreateFields failure reported with provider errors is reported again by ChangeRecordset, its
// text stacked on the first one.
TEST_F(ScriptedConnectionTest, ChangeRecordsetStacksTheCreateFieldsReport) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  ASSERT_TRUE(connect(*db));
  source_.last().errors->items = {fake_error("d1", "42S02"), fake_error("d2", "23000")};
  Ref<_Recordset> nothing;
  const RaisedError e = error_of([&] { db->ChangeRecordset(nothing); });
  const std::string first = "【CreateFields(clsDatabase)】 d1\r\nd2";
  EXPECT_EQ(e.number(), 60000);
  EXPECT_EQ(e.description(), "【ChangeRecordset】 " + first + "d1\r\nd2");
  EXPECT_EQ(db->get_ErrorMsg(), e.description());
  EXPECT_EQ(db->get_ErrorCD(), 23000);

  // With an empty list each report replaces the last: nothing comes back, 91 is left behind.
  source_.last().errors->items.clear();
  EXPECT_FALSE(db->ChangeRecordset(nothing));
  EXPECT_EQ(db->get_ErrorCD(), 91);
  EXPECT_EQ(db->get_ErrorMsg(), err::runtime_description(91));
}

// In-memory recordset with the fields of the example statement.
Ref<_Recordset> example_recordset(const std::vector<std::tuple<Variant, Variant, Variant>>& rows,
                                  const char* third = "DT") {
  Ref<_Recordset> rs = new_recordset();
  Ref<Fields> fields = rs->get_Fields();
  fields->Append("CD", ado::adInteger, 4, ado::adFldIsNullable);
  fields->Append("NM", ado::adVarWChar, 8000, ado::adFldIsNullable);
  fields->Append(third, ado::adDate, 8, ado::adFldIsNullable);
  rs->put_CursorLocation(ado::adUseClient);
  rs->Open(Variant(), Variant(), ado::adOpenStatic, ado::adLockOptimistic, -1);
  for (const auto& [cd, nm, dt] : rows) {
    rs->AddNew();
    fields->get_Item(Variant(std::int32_t{0}))->put_Value(cd);
    fields->get_Item(Variant(std::int32_t{1}))->put_Value(nm);
    fields->get_Item(Variant(std::int32_t{2}))->put_Value(dt);
    rs->Update();
  }
  return rs;
}

TEST_F(ScriptedConnectionTest, RecordToDatabaseStatementTexts) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  ASSERT_TRUE(connect(*db));
  FakeConnection& c = source_.last();
  Ref<_Recordset> rs = example_recordset({{Variant(std::int32_t{5}), Variant("O'Neil"), Variant(Null{})}});
  rs->MoveLast();  // it starts from the first row whatever the position
  std::string prefix = " ";
  EXPECT_TRUE(db->RecordToDatabase("T", rs, prefix));
  ASSERT_EQ(c.executed.size(), 1u);
  EXPECT_EQ(c.executed[0], "insert into T ( CD, NM, DT)values( 5, 'O''Neil', NULL)");
  EXPECT_TRUE(rs->get_EOF());

  // The prefix is compared exactly: wk is left out, WK is written.
  c.executed.clear();
  Ref<_Recordset> wk = example_recordset({{Variant(std::int32_t{1}), Variant("a"), Variant(Null{})}}, "wkDT");
  prefix = "wk";
  EXPECT_TRUE(db->RecordToDatabase("T", wk, prefix));
  Ref<_Recordset> upper =
      example_recordset({{Variant(std::int32_t{1}), Variant("a"), Variant(Null{})}}, "WKDT");
  EXPECT_TRUE(db->RecordToDatabase("T", upper, prefix));
  ASSERT_EQ(c.executed.size(), 2u);
  EXPECT_EQ(c.executed[0], "insert into T ( CD, NM)values( 1, 'a')");
  EXPECT_EQ(c.executed[1], "insert into T ( CD, NM, WKDT)values( 1, 'a', NULL)");

  // An empty prefix skips every field: the statement has no lists and the database refuses it.
  c.executed.clear();
  prefix = "";
  wk->MoveFirst();
  c.execute_failure = Failure{{fake_error("syntax error", "42000")}};
  EXPECT_NE(error_of([&] { db->RecordToDatabase("T", wk, prefix); }).number(), 0);
  ASSERT_EQ(c.executed.size(), 1u);
  EXPECT_EQ(c.executed[0], "insert into T )values)");
  c.execute_failure.reset();
  c.executed.clear();

  // No rows: nothing is executed.
  Ref<_Recordset> empty = example_recordset({});
  prefix = " ";
  EXPECT_TRUE(db->RecordToDatabase("T", empty, prefix));
  EXPECT_TRUE(c.executed.empty());
}

// ---- Real databases: the same bodies on an SQLite file and on PostgreSQL and MariaDB through ODBC ----

enum class Backend { SQLite, PostgreSQL, MariaDB };

class RealDatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::PostgreSQL) {
      pg_ = PgServer::from_environment();
      OVIK_REQUIRE_PG_SERVER(pg_);
      connection_string_ = pg_->connection_string();
    } else if (GetParam() == Backend::MariaDB) {
      maria_ = MariaDbServer::from_environment();
      OVIK_REQUIRE_MARIADB_SERVER(maria_);
      connection_string_ = maria_->connection_string();
    } else {
      connection_string_ =
          "Provider=SQLite;Data Source=" + (dir_.path() / "test.db").string() + ";Create If Missing=True";
    }
    static int serial = 0;
    table_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
    db_ = make_object<clsDatabase>();
    ASSERT_TRUE(db_->Connect(connection_string_, HowToConnectEnum::ConnectByConnectionString));
  }
  void TearDown() override {
    if (db_ && db_->get_Usable()) {
      try {
        execute("drop table " + table_);
      } catch (const RaisedError&) {
      }
    }
  }

  void execute(const std::string& sql) {
    Variant affected;
    db_->get_Connection()->Execute(sql, affected, -1);
  }
  void create_table(const std::string& columns) { execute("create table " + table_ + " (" + columns + ")"); }
  // MariaDB's timestamp holds 1970 to 2038 only; its datetime is the others' timestamp.
  std::string date_time_type() const { return GetParam() == Backend::MariaDB ? "datetime" : "timestamp"; }
  std::int32_t count_rows() {
    Ref<_Recordset> rs = db_->OpenForwardOnlyRecordset("select count(*) from " + table_);
    return rs->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_i32();
  }
  static Variant value(const Ref<_Recordset>& rs, const char* name) {
    return rs->get_Fields()->get_Item(Variant(name))->get_Value();
  }

  TempDir dir_;
  std::optional<PgServer> pg_;
  std::optional<MariaDbServer> maria_;
  std::string connection_string_;
  std::string table_;
  Ref<clsDatabase> db_;
  platform::ScopedLocale locale_{platform::LocaleSettings{}};
};

TEST_P(RealDatabaseTest, ConnectDisconnectAndKindOfDatabase) {
  EXPECT_TRUE(db_->get_Usable());
  EXPECT_EQ(db_->get_Provider(), ConnectedDatabaseTypeEnum::IsUnknown);
  EXPECT_EQ(db_->get_Connection()->get_State(), ado::adStateOpen);
  Ref<_Connection> kept = db_->get_Connection();
  EXPECT_TRUE(db_->Disconnect());
  EXPECT_FALSE(db_->get_Usable());
  EXPECT_EQ(kept->get_State(), ado::adStateClosed);
  EXPECT_TRUE(db_->Connect(connection_string_, HowToConnectEnum::ConnectByConnectionString));
  EXPECT_NE(db_->get_Connection(), kept);  // every Connect that runs makes a new connection
}

// The data-access layer's own errors are no provider errors: Connect and Disconnect return False
// with the error's own number, as for any failure without provider errors, and raise nothing.
TEST_P(RealDatabaseTest, OwnErrorsOfTheDataAccessLayerAreReturnedNotRaised) {
  db_->get_Connection()->Close();  // a client closed the shared connection
  EXPECT_FALSE(db_->Disconnect());
  EXPECT_EQ(db_->get_ErrorCD(), 3704);
  EXPECT_EQ(db_->get_ErrorMsg(), "Operation is not allowed when the object is closed.");
  EXPECT_TRUE(db_->get_Usable());  // a failed Disconnect keeps the object as it was

  Ref<clsDatabase> other = make_object<clsDatabase>();
  other->put_ConnectionTimeout(-1);
  EXPECT_FALSE(other->Connect(connection_string_, HowToConnectEnum::ConnectByConnectionString));
  EXPECT_EQ(other->get_ErrorCD(), 3001);
  EXPECT_FALSE(other->get_ErrorMsg().empty());
  EXPECT_FALSE(other->get_Usable());
}

// Values that must come back exactly as written, through the literals and one statement per row.
TEST_P(RealDatabaseTest, RecordToDatabaseRoundTripAndStopAtTheFailingRow) {
  create_table("CD integer primary key, NM varchar(4000), DT " + date_time_type());
  Ref<EventLog> log = listen(*db_);
  platform::CivilDateTime old_day{1850, 2, 3, 4, 5, 6};
  double ole = 0;
  ASSERT_TRUE(platform::ole_from_civil(old_day, ole));
  // A backslash before an apostrophe would end the literal early where it is an escape (MariaDB).
  const std::string tricky = "O'Neil\\'); --\r\n店舗コード 'x' \\ --";
  Ref<_Recordset> rs = example_recordset({
      {Variant(std::int32_t{1}), Variant(tricky), Variant(DateTime{ole})},
      {Variant(std::int32_t{2}), Variant(std::string(4000, 'z')), Variant(Null{})},
      {Variant(std::int32_t{1}), Variant("duplicate key"), Variant(Null{})},
      {Variant(std::int32_t{3}), Variant("never written"), Variant(Null{})},
  });
  std::string prefix = " ";
  const RaisedError e = error_of([&] { db_->RecordToDatabase(table_, rs, prefix); });
  EXPECT_NE(e.number(), 0);
  Ref<Errors> errors = db_->get_Connection()->get_Errors();
  ASSERT_GE(errors->get_Count(), 1);
  EXPECT_EQ(errors->get_Item(Variant(std::int32_t{0}))->get_SQLState().substr(0, 2), "23");
  ASSERT_EQ(log->texts.size(), 1u);  // the failing statement's completion event
  EXPECT_TRUE(log->texts[0].starts_with("(event)ADODB.ExecuteComplete\r\n"));
  EXPECT_EQ(value(rs, "CD").to_i32(), 1);  // stopped on the failing row

  EXPECT_EQ(count_rows(), 2);  // the rows before it stay
  Ref<_Recordset> back =
      db_->OpenReadOnlyRecordset("select CD, NM, DT from " + table_ + " order by CD", ado::adUseClient, 0);
  EXPECT_EQ(value(back, "NM").to_string(), tricky);
  EXPECT_EQ(platform::format_date_fixed(value(back, "DT").to_date().days), "1850/02/03 04:05:06");
  back->MoveNext();
  EXPECT_EQ(value(back, "NM").to_string().size(), 4000u);
  EXPECT_TRUE(value(back, "DT").is_null());
}

// Binary values travel as the database's own hex literal, every byte value included.
TEST_P(RealDatabaseTest, RecordToDatabaseWritesBinaryValuesWhole) {
  create_table(GetParam() == Backend::PostgreSQL ? "CD integer, BIN bytea" : "CD integer, BIN blob");
  std::string bytes = "'); drop table " + table_ + "; --";
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  Ref<_Recordset> rs = new_recordset();
  rs->get_Fields()->Append("CD", ado::adInteger, 4, 0);
  rs->get_Fields()->Append("BIN", ado::adLongVarBinary, 0, ado::adFldIsNullable);
  rs->put_CursorLocation(ado::adUseClient);
  rs->Open(Variant(), Variant(), ado::adOpenStatic, ado::adLockOptimistic, -1);
  for (const Variant& value : {Variant(bytes), Variant(Null{})}) {
    rs->AddNew();
    rs->get_Fields()->get_Item(Variant("CD"))->put_Value(Variant(std::int32_t{rs->get_RecordCount() + 1}));
    rs->get_Fields()->get_Item(Variant("BIN"))->put_Value(value);
    rs->Update();
  }
  std::string prefix = " ";
  EXPECT_TRUE(db_->RecordToDatabase(table_, rs, prefix));
  Ref<_Recordset> back =
      db_->OpenReadOnlyRecordset("select CD, BIN from " + table_ + " order by CD", ado::adUseClient, 0);
  ASSERT_EQ(back->get_RecordCount(), 2);
  EXPECT_EQ(value(back, "BIN").to_string(), bytes);
  back->MoveNext();
  EXPECT_TRUE(value(back, "BIN").is_null());
}

// A NUL character cannot travel inside SQL text: the row is refused or written whole, never cut.
TEST_P(RealDatabaseTest, NulCharacterIsWrittenWholeOrRefused) {
  create_table("CD integer, NM varchar(20), DT " + date_time_type());
  const std::string with_nul("ab\0cd", 5);
  Ref<_Recordset> rs = example_recordset({{Variant(std::int32_t{1}), Variant(with_nul), Variant(Null{})}});
  std::string prefix = " ";
  bool written = false;
  try {
    written = db_->RecordToDatabase(table_, rs, prefix);
  } catch (const RaisedError&) {
  }
  Ref<_Recordset> back = db_->OpenReadOnlyRecordset("select NM from " + table_, ado::adUseClient, 0);
  if (written) {
    ASSERT_FALSE(back->get_EOF());
    EXPECT_EQ(value(back, "NM").to_string(), with_nul);
  } else {
    EXPECT_TRUE(back->get_EOF());
  }
}

TEST_P(RealDatabaseTest, ChangeRecordsetCopiesFromTheCurrentRowOn) {
  create_table("CD integer primary key, NM varchar(20), AMT numeric(10,2)");
  for (int i = 1; i <= 5; ++i)
    execute("insert into " + table_ + " values(" + std::to_string(i) + ", 'n" + std::to_string(i) + "', " +
            std::to_string(i) + ".25)");
  Ref<_Recordset> rs =
      db_->OpenReadOnlyRecordset("select CD, NM, AMT from " + table_ + " order by CD", ado::adUseClient, 0);
  EXPECT_EQ(rs->get_Fields()->get_Item(Variant("AMT"))->get_Type(), ado::adNumeric);
  rs->MoveNext();
  rs->MoveNext();  // on the third row
  Ref<_Recordset> copy = db_->ChangeRecordset(rs);
  ASSERT_TRUE(copy);
  EXPECT_TRUE(rs->get_EOF());
  EXPECT_EQ(copy->get_RecordCount(), 3);
  EXPECT_EQ(value(copy, "CD").to_i32(), 3);  // positioned on its first row
  Ref<Field> amount = copy->get_Fields()->get_Item(Variant("AMT"));
  EXPECT_EQ(amount->get_Type(), ado::adCurrency);
  EXPECT_EQ(amount->get_Value().to_currency(), Currency{32500});
  EXPECT_EQ(db_->get_ErrorCD(), 0);

  // The copy is an in-memory recordset: it takes new rows and can be written to another table.
  std::string prefix = " ";
  const std::string source_table = table_;
  table_ += "c";
  create_table("CD integer, NM varchar(20), AMT numeric(10,2)");
  EXPECT_TRUE(db_->RecordToDatabase(table_, copy, prefix));
  EXPECT_EQ(count_rows(), 3);
  execute("drop table " + source_table);
}

// A forward-only recordset that was read on is written whole: it starts over by running its query again.
TEST_P(RealDatabaseTest, RecordToDatabaseWritesAnAdvancedForwardOnlyRecordsetWhole) {
  create_table("CD integer primary key, NM varchar(20)");
  for (int i = 1; i <= 3; ++i) execute("insert into " + table_ + " values(" + std::to_string(i) + ", 'n')");
  Ref<_Recordset> rs = db_->OpenForwardOnlyRecordset("select CD, NM from " + table_ + " order by CD");
  rs->MoveNext();
  rs->MoveNext();
  const std::string source_table = table_;
  table_ += "c";
  create_table("CD integer, NM varchar(20)");
  std::string prefix = " ";
  EXPECT_TRUE(db_->RecordToDatabase(table_, rs, prefix));
  EXPECT_TRUE(rs->get_EOF());
  EXPECT_EQ(count_rows(), 3);
  rs.reset();
  execute("drop table " + source_table);
}

TEST_P(RealDatabaseTest, TheFourOpenings) {
  create_table("CD integer primary key, NM varchar(20)");
  for (int i = 1; i <= 3; ++i)
    execute("insert into " + table_ + " values(" + std::to_string(i) + ", 'n" + std::to_string(i) + "')");
  const std::string select = "select CD, NM from " + table_ + " order by CD";

  Ref<_Recordset> limited = db_->OpenReadOnlyRecordset(select, ado::adUseServer, 2);
  EXPECT_EQ(limited->get_LockType(), ado::adLockReadOnly);
  EXPECT_EQ(limited->get_CursorType(), ado::adOpenStatic);
  EXPECT_EQ(limited->get_RecordCount(), 2);

  Ref<_Recordset> forward = db_->OpenForwardOnlyRecordset(select);
  EXPECT_EQ(forward->get_CursorType(), ado::adOpenForwardOnly);
  int seen = 0;
  for (; !forward->get_EOF(); forward->MoveNext()) ++seen;
  EXPECT_EQ(seen, 3);

  Ref<_Recordset> add_only = db_->OpenAddOnlyRecordset(select);
  EXPECT_EQ(add_only->get_MaxRecords(), 1);
  EXPECT_LE(add_only->get_RecordCount(), 1);  // never more than one row
  add_only->AddNew();
  add_only->get_Fields()->get_Item(Variant("CD"))->put_Value(Variant(std::int32_t{10}));
  add_only->get_Fields()->get_Item(Variant("NM"))->put_Value(Variant("added"));
  add_only->Update();

  Ref<_Recordset> read_write = db_->OpenReadWriteRecordset(select, ado::adUseClient);
  EXPECT_EQ(read_write->get_LockType(), ado::adLockOptimistic);
  read_write->get_Fields()->get_Item(Variant("NM"))->put_Value(Variant("changed"));
  read_write->Update();

  Ref<_Recordset> check = db_->OpenReadOnlyRecordset(select, ado::adUseClient, 0);
  EXPECT_EQ(check->get_RecordCount(), 4);
  EXPECT_EQ(value(check, "NM").to_string(), "changed");
  check->MoveLast();
  EXPECT_EQ(value(check, "NM").to_string(), "added");

  // A failing opening reaches the caller with the connection's Errors filled.
  const RaisedError e = error_of([&] { db_->OpenForwardOnlyRecordset("select * from no_such_table_here"); });
  EXPECT_NE(e.number(), 0);
  EXPECT_GE(db_->get_Connection()->get_Errors()->get_Count(), 1);
}

TEST_P(RealDatabaseTest, RecordToDatabaseInsideTransactionsOfTheConnection) {
  create_table("CD integer, NM varchar(20)");
  Ref<_Connection> c = db_->get_Connection();
  Ref<_Recordset> rows = example_recordset({{Variant(std::int32_t{1}), Variant("a"), Variant(Null{})},
                                            {Variant(std::int32_t{2}), Variant("b"), Variant(Null{})}},
                                           "wkDT");
  std::string prefix = "wk";
  c->BeginTrans();
  EXPECT_TRUE(db_->RecordToDatabase(table_, rows, prefix));
  c->RollbackTrans();
  EXPECT_EQ(count_rows(), 0);
  c->BeginTrans();
  EXPECT_TRUE(db_->RecordToDatabase(table_, rows, prefix));
  c->CommitTrans();
  EXPECT_EQ(count_rows(), 2);
}

// A client or script that binds by name walks the same members.
TEST_P(RealDatabaseTest, LateBoundCalls) {
  create_table("CD integer, NM varchar(20), DT " + date_time_type());
  IDispatch& db = *db_;
  auto call = [](IDispatch& object, const char* name, std::vector<Variant> args,
                 InvokeKind kind = InvokeKind::Method) {
    const std::int32_t id = object.GetIDOfName(name);
    EXPECT_NE(id, kDispidUnknown) << name;
    return object.Invoke(id, kind, args);
  };
  std::vector<std::string> events;
  Ref<IDispatch> listener = CallbackListener::make([&](std::int32_t dispid, std::span<Variant> args) {
    events.push_back(std::to_string(dispid) + ":" + args[1].to_string());
  });
  db_->Advise(__clsDatabase::IID, listener.get());

  Ref<IDispatch> connection = call(db, "Connection", {}, InvokeKind::PropertyGet).to_object();
  call(*connection, "Execute",
       {Variant("insert into " + table_ + " values(7, 'seven', null)"), Variant(), Variant(-1)});
  Ref<IDispatch> rs = call(db, "OpenReadOnlyRecordset",
                           {Variant("select CD, NM, DT from " + table_), Variant(ado::adUseClient)})
                          .to_object();
  // rs.Fields("NM").Value by name
  Ref<IDispatch> fields = call(*rs, "Fields", {}, InvokeKind::PropertyGet).to_object();
  Ref<IDispatch> nm = call(*fields, "Item", {Variant("NM")}, InvokeKind::PropertyGet).to_object();
  EXPECT_EQ(call(*nm, "Value", {}, InvokeKind::PropertyGet).to_string(), "seven");

  Ref<IDispatch> copy = call(db, "ChangeRecordset", {Variant(rs)}).to_object();
  ASSERT_TRUE(copy);
  EXPECT_TRUE(call(db, "RecordToDatabase", {Variant(table_), Variant(copy)}).to_bool());  // default prefix
  EXPECT_EQ(count_rows(), 2);
  EXPECT_EQ(call(db, "GetValueString", {Variant(Null{}), Variant(ado::adInteger)}).to_string(), "Null");

  // A failing statement: the event reaches the late-bound listener, the error the caller.
  const RaisedError e = error_of([&] {
    call(*connection, "Execute", {Variant("selec 1"), Variant(), Variant(-1)});
  });
  EXPECT_NE(e.number(), 0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].starts_with("1:(event)ADODB.ExecuteComplete\r\n")) << events[0];
}

INSTANTIATE_TEST_SUITE_P(Backends, RealDatabaseTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL, Backend::MariaDB),
                         [](const auto& info) {
                           return info.param == Backend::SQLite       ? "SQLite"
                                  : info.param == Backend::PostgreSQL ? "PostgreSQL"
                                                                      : "MariaDB";
                         });

// SQLite lets a numeric column hold text; read back, such a value is text in an integer field, and
// it goes into the statement as a string literal, never as SQL.
TEST(RecordToDatabaseInjectionTest, TextInANumericColumnIsAStringLiteral) {
  TempDir dir;
  Ref<clsDatabase> db = make_object<clsDatabase>();
  ASSERT_TRUE(db->Connect("Provider=SQLite;Data Source=" + dir.str() + "/inj.db;Create If Missing=True",
                          HowToConnectEnum::ConnectByConnectionString));
  Variant affected;
  Ref<_Connection> cn = db->get_Connection();
  cn->Execute("create table victim (v integer)", affected, -1);
  cn->Execute("insert into victim values (1)", affected, -1);
  cn->Execute("create table source (a integer, b integer, c integer)", affected, -1);
  cn->Execute("create table target (a integer, b integer, c integer)", affected, -1);
  cn->Execute("insert into source values ('1,NULL,NULL); delete from victim; --', 2, 3)", affected, -1);
  Ref<_Recordset> rs = db->OpenReadOnlyRecordset("select a, b, c from source", ado::adUseClient, 0);
  ASSERT_EQ(rs->get_Fields()->get_Item(Variant("a"))->get_Type(), ado::adInteger);
  std::string prefix = " ";
  EXPECT_TRUE(db->RecordToDatabase("target", rs, prefix));
  Ref<_Recordset> victim = db->OpenForwardOnlyRecordset("select count(*) from victim");
  EXPECT_EQ(victim->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_i32(), 1);
  Ref<_Recordset> target = db->OpenForwardOnlyRecordset("select a from target");
  EXPECT_EQ(target->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_string(),
            "1,NULL,NULL); delete from victim; --");
}

// ConnectionTimeout reaches an ODBC driver as its login time-out, 0 (no limit) included: left
// unset, the driver's own default could end a login that the caller allowed all the time it needs.
TEST(ConnectionTimeoutTest, ReachesTheOdbcDriverAsItsLoginTimeoutZeroIncluded) {
  for (const std::int32_t seconds : {0, 7}) {
    Ref<clsDatabase> db = make_object<clsDatabase>();
    if (seconds != 0) db->put_ConnectionTimeout(seconds);  // 0 is the default
    const RaisedError e = error_of([&] {
      db->Connect("Provider=MSDASQL;Driver=" OVIK_FAKE_ODBC_DRIVER,
                  HowToConnectEnum::ConnectByConnectionString);
    });
    EXPECT_EQ(e.number(), 60000);
    EXPECT_EQ(db->get_ErrorMsg(), "【ConnectDataBase】 login timeout " + std::to_string(seconds));
  }
}

// Behind an ODBC source, literals follow the product the driver names: MySQL and MariaDB read a
// backslash as an escape, so there it is doubled (else "\'" would end the literal and run the rest
// of the value), and binary values take that product's own hex form.
TEST(LiteralsByProductTest, StringAndBinaryLiteralsFollowTheProductBehindAnOdbcSource) {
  const std::string injected = "x\\'; drop table t; --";
  const Variant bytes(std::string("\x00\xff", 2));
  struct Case {
    const char* product;
    bool doubles_backslashes;
    const char* binary;
  };
  for (const Case& c : {Case{"MariaDB", true, "X'00FF'"}, Case{"MySQL", true, "X'00FF'"},
                        Case{"PostgreSQL", false, "E'\\\\x00FF'::bytea"},
                        Case{"Microsoft SQL Server", false, "0x00FF"}, Case{"SQLite", false, "X'00FF'"}}) {
    Ref<clsDatabase> db = make_object<clsDatabase>();
    ASSERT_TRUE(db->Connect(std::string("Provider=MSDASQL;Driver=" OVIK_FAKE_ODBC_DRIVER ";DBMS=") + c.product,
                            HowToConnectEnum::ConnectByConnectionString))
        << c.product << ": " << db->get_ErrorMsg();
    const std::string slash = c.doubles_backslashes ? "\\\\" : "\\";
    EXPECT_EQ(db->VarConv(injected), "'x" + slash + "''; drop table t; --'") << c.product;
    EXPECT_EQ(db->GetValueString(Variant(std::string("a\\b")), ado::adVarChar), "'a" + slash + "b'") << c.product;
    EXPECT_EQ(db->GetValueString(bytes, ado::adLongVarBinary), c.binary) << c.product;
  }
}

// Connecting fails: the completion event first, then 60000 with the labelled provider text.
struct FailedConnect {
  const char* name;
  std::function<std::optional<std::string>(const TempDir&)> connection_string;  // nullopt: skip
  const char* error_cd_state;  // expected SQL state of the last error, "" = not checked
  bool on_mariadb = false;     // which test server a nullopt connection string is missing
};

class FailedConnectTest : public ::testing::TestWithParam<int> {};

std::vector<FailedConnect> failed_connects() {
  auto pg = [](const std::string& tail) {
    return [tail](const TempDir&) -> std::optional<std::string> {
      auto server = PgServer::from_environment();
      if (!server) return std::nullopt;
      return tail == "refused" ? "Provider=MSDASQL;Driver={PostgreSQL "
                                 "Unicode};Server=127.0.0.1;Port=1;Database=x;Uid=u;Pwd=p"
                               : "Provider=MSDASQL;Data Source=" + server->dsn + ";User ID=" + server->user +
                                     ";Password=wrong-password";
    };
  };
  auto maria = [](const std::string& tail) {
    return [tail](const TempDir&) -> std::optional<std::string> {
      auto server = MariaDbServer::from_environment();
      if (!server) return std::nullopt;
      return tail == "refused"
                 ? "Provider=MSDASQL;Driver={MariaDB Unicode};Server=127.0.0.1;Port=1;Database=x;Uid=u;Pwd=p"
                 : "Provider=MSDASQL;Data Source=" + server->dsn + ";User ID=" + server->user +
                       ";Password=wrong-password;Initial Catalog=" + server->database;
    };
  };
  return {
      {"UnknownProvider",
       [](const TempDir&) { return std::optional<std::string>("Provider=NoSuch.Provider.1"); }, ""},
      {"MissingSqliteFolder",
       [](const TempDir& d) {
         return std::optional<std::string>("Provider=SQLite;Data Source=" +
                                           (d.path() / "no/such/x.db").string());
       },
       ""},
      // A missing file is an unknown database (8001 as ErrorCD), never a new, empty one.
      {"MissingSqliteFile",
       [](const TempDir& d) {
         return std::optional<std::string>("Provider=SQLite;Data Source=" + (d.path() / "store.db").string());
       },
       "08001"},
      {"NotADatabase",
       [](const TempDir& d) {
         return std::optional<std::string>("Provider=SQLite;Data Source=" +
                                           d.write("junk.db", std::string(4096, 'j')));
       },
       ""},
      // SQL Server through the FreeTDS driver: no server here, but the driver's own diagnostics.
      {"SqlServerClosedPort",
       [](const TempDir&) {
         return std::optional<std::string>(
             "Provider=SQLOLEDB.1;Data Source=127.0.0.1,1;Initial Catalog=x;User ID=u;Password=p");
       },
       ""},
      {"PostgreSQLRefused", pg("refused"), "08001"},
      {"PostgreSQLWrongPassword", pg("password"), "08001"},
      {"MariaDBRefused", maria("refused"), "", true},
      {"MariaDBWrongPassword", maria("password"), "", true},
  };
}

TEST_P(FailedConnectTest, EventFirstThen60000) {
  const FailedConnect c = failed_connects()[static_cast<std::size_t>(GetParam())];
  SCOPED_TRACE(c.name);
  TempDir dir;
  const std::optional<std::string> cs = c.connection_string(dir);
  if (!cs && c.on_mariadb) {
    OVIK_REQUIRE_MARIADB_SERVER(cs);
  } else if (!cs) {
    OVIK_REQUIRE_PG_SERVER(cs);
  }
  Ref<clsDatabase> db = make_object<clsDatabase>();
  db->put_ConnectionTimeout(5);
  std::vector<std::string> journal;
  Ref<EventLog> log = listen(*db, &journal);
  const RaisedError e = error_of([&] {
    db->Connect(*cs, HowToConnectEnum::ConnectByConnectionString);
    journal.push_back("returned");
  });
  journal.push_back("raised");
  EXPECT_EQ(journal, (std::vector<std::string>{"event", "raised"}));
  EXPECT_EQ(e.number(), 60000);
  EXPECT_EQ(e.source(), "clsAdoLib.ErrProc");
  EXPECT_TRUE(e.description().starts_with("【ConnectDataBase】 ")) << e.description();
  EXPECT_GT(e.description().size(), std::string("【ConnectDataBase】 ").size());
  EXPECT_EQ(db->get_ErrorMsg(), e.description());
  EXPECT_FALSE(db->get_Usable());
  ASSERT_EQ(log->texts.size(), 1u);
  EXPECT_TRUE(log->texts[0].starts_with("(event)ADODB.ConnectComplete\r\n"));

  Ref<Errors> errors = db->get_Connection()->get_Errors();
  ASSERT_GE(errors->get_Count(), 1);
  const std::string last_state = errors->get_Item(Variant(errors->get_Count() - 1))->get_SQLState();
  std::int32_t numeric = 0;
  const bool is_number =
      !last_state.empty() && last_state.find_first_not_of("0123456789") == std::string::npos;
  if (is_number) numeric = std::stoi(last_state);
  EXPECT_EQ(db->get_ErrorCD(), is_number ? numeric : -1) << last_state;
  if (*c.error_cd_state) {
    EXPECT_EQ(last_state, c.error_cd_state);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FailedConnectTest, ::testing::Range(0, 9), [](const auto& info) {
  return std::string(failed_connects()[static_cast<std::size_t>(info.param)].name);
});

}  // namespace
}  // namespace ovik::testing
