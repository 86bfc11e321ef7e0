// The data-access objects over each driver: one set of bodies for SQLite and for PostgreSQL and
// MariaDB through ODBC (each skipped without the test server of scripts/pg-test-server.sh or
// scripts/mariadb-test-server.sh), plus the
// in-memory recordsets and the failures only a server can give.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "database/access/objects/errors.h"
#include "ovik/data_access.h"
#include "ovik/error.h"
#include "ovik/events.h"
#include "support/mariadb_server.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using namespace ovik::ado;

enum class Backend { kSqlite, kPostgres, kMariaDb };

// Records every event as one line, and how many Errors the connection held at the moment.
class Recorder final : public Listener<Recorder, ConnectionEvents> {
 public:
  static Ref<Recorder> make() { return Ref<Recorder>(new Recorder()); }
  std::vector<std::string> lines;
  Ref<Error> last_error;

  void InfoMessage(const Ref<Error>& e, std::int32_t s, const Ref<_Connection>& c) override {
    add("InfoMessage", e, s, c);
  }
  void BeginTransComplete(std::int32_t level, const Ref<Error>& e, std::int32_t s,
                          const Ref<_Connection>& c) override {
    add("BeginTransComplete " + std::to_string(level), e, s, c);
  }
  void CommitTransComplete(const Ref<Error>& e, std::int32_t s, const Ref<_Connection>& c) override {
    add("CommitTransComplete", e, s, c);
  }
  void RollbackTransComplete(const Ref<Error>& e, std::int32_t s, const Ref<_Connection>& c) override {
    add("RollbackTransComplete", e, s, c);
  }
  void WillExecute(const std::string& source, std::int32_t ct, std::int32_t lt, std::int32_t, std::int32_t s,
                   const Ref<_Recordset>& rs, const Ref<_Connection>& c) override {
    add("WillExecute " + source + " " + std::to_string(ct) + "/" + std::to_string(lt) + (rs ? " rs" : ""), {},
        s, c);
  }
  void ExecuteComplete(std::int32_t affected, const Ref<Error>& e, std::int32_t s, const Ref<_Recordset>& rs,
                       const Ref<_Connection>& c) override {
    add("ExecuteComplete " + std::to_string(affected) + (rs ? " rs" : ""), e, s, c);
  }
  void WillConnect(const std::string& cs, const std::string&, const std::string&, std::int32_t,
                   std::int32_t s, const Ref<_Connection>& c) override {
    add("WillConnect " + cs, {}, s, c);
  }
  void ConnectComplete(const Ref<Error>& e, std::int32_t s, const Ref<_Connection>& c) override {
    add("ConnectComplete", e, s, c);
  }
  void Disconnect(std::int32_t s, const Ref<_Connection>& c) override { add("Disconnect", {}, s, c); }

 private:
  void add(const std::string& what, const Ref<Error>& e, std::int32_t status, const Ref<_Connection>& c) {
    std::string line = what + " status=" + std::to_string(status);
    if (e)
      line += " error=" + std::to_string(e->get_Number()) +
              " errors=" + std::to_string(c->get_Errors()->get_Count());
    last_error = e;
    lines.push_back(line);
  }
};

// Runs body, which must raise, and returns the error.
RaisedError raised(const std::function<void()>& body) {
  try {
    body();
  } catch (const RaisedError& e) {
    return e;
  }
  ADD_FAILURE() << "nothing raised";
  return RaisedError(0, "", "");
}

Variant call(const Ref<IDispatch>& object, std::string_view name, InvokeKind kind,
             std::vector<Variant> args = {}) {
  const std::int32_t id = object->GetIDOfName(name);
  EXPECT_NE(id, kDispidUnknown) << name;
  return object->Invoke(id, kind, args);
}

class ObjectsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kPostgres) {
      server_ = testing::PgServer::from_environment();
      OVIK_REQUIRE_PG_SERVER(server_);
      connection_string_ = server_->connection_string();
    } else if (GetParam() == Backend::kMariaDb) {
      maria_ = testing::MariaDbServer::from_environment();
      OVIK_REQUIRE_MARIADB_SERVER(maria_);
      connection_string_ = maria_->connection_string();
    } else {
      connection_string_ = "Provider=SQLite;Data Source=" + dir_.str() + "/objects.db;Create If Missing=True";
    }
    cn_ = new_connection();
    cn_->Open(connection_string_, "", "", -1);
    for (const char* table : {"obj_items", "obj_types", "obj_nokey", "obj_gone"})
      exec(std::string("DROP TABLE IF EXISTS ") + table);
    exec("CREATE TABLE obj_items (id INTEGER PRIMARY KEY, nm VARCHAR(20) NOT NULL, price NUMERIC(10,2))");
    exec("INSERT INTO obj_items VALUES (1, 'apple', 1.50), (2, 'pear', 2.25), (3, 'plum', NULL)");
  }

  // What differs by database: SQLite's, PostgreSQL's, MariaDB's.
  template <class T>
  T pick(T sqlite, T pg, T maria) const {
    return GetParam() == Backend::kSqlite ? sqlite : GetParam() == Backend::kPostgres ? pg : maria;
  }

  Ref<_Recordset> exec(const std::string& sql) {
    Variant affected;
    return cn_->Execute(sql, affected, -1);
  }

  Ref<_Recordset> open(const std::string& sql, std::int32_t cursor, std::int32_t lock,
                       std::int32_t location = adUseServer) {
    auto rs = new_recordset();
    rs->put_CursorLocation(location);
    rs->put_ActiveConnection(cn_);
    rs->Open(sql, Variant(), cursor, lock, -1);
    return rs;
  }

  static Variant value(const Ref<_Recordset>& rs, const char* name) {
    return rs->get_Fields()->get_Item(name)->get_Value();
  }

  std::int64_t count(const std::string& table) {
    return value(exec("SELECT COUNT(*) AS n FROM " + table), "n").to_i64();
  }

  testing::TempDir dir_;
  std::optional<testing::PgServer> server_;
  std::optional<testing::MariaDbServer> maria_;
  std::string connection_string_;
  Ref<_Connection> cn_;
};

TEST_P(ObjectsTest, ConnectionEventsCarryTheirArgumentsInOrder) {
  auto cn = new_connection();
  auto recorder = Recorder::make();
  auto container = cn.as<IConnectionPointContainer>();
  container->Advise(ConnectionEvents::IID, recorder.get());
  cn->Open(connection_string_, "", "", -1);
  EXPECT_EQ(cn->get_State(), adStateOpen);
  EXPECT_EQ(cn->get_Provider(), pick("SQLite", "MSDASQL", "MSDASQL"));
  EXPECT_FALSE(cn->get_DefaultDatabase().empty());
  Variant affected;
  auto rs = cn->Execute("UPDATE obj_items SET price = 0 WHERE id <= 2", affected, -1);
  EXPECT_EQ(affected.to_i32(), 2);
  EXPECT_EQ(rs->get_State(), adStateClosed);
  cn->BeginTrans();
  cn->RollbackTrans();
  cn->Close();
  EXPECT_EQ(cn->get_State(), adStateClosed);
  const std::vector<std::string> expected = {
      "WillConnect " + connection_string_ + " status=1",
      "ConnectComplete status=1",
      "WillExecute UPDATE obj_items SET price = 0 WHERE id <= 2 0/1 status=1",
      "ExecuteComplete 2 rs status=1",
      "BeginTransComplete 1 status=1",
      "RollbackTransComplete status=1",
      "Disconnect status=1",
  };
  EXPECT_EQ(recorder->lines, expected);
}

TEST_P(ObjectsTest, FailuresFillErrorsBeforeTheCompletionEventAndTheRaise) {
  auto recorder = Recorder::make();
  cn_.as<IConnectionPointContainer>()->Advise(ConnectionEvents::IID, recorder.get());
  struct Case {
    std::string sql;
    std::string sqlstate;
    std::int32_t number;
  };
  const std::vector<Case> cases = {
      {"SELECT * FROM obj_missing", pick("42S02", "42P01", "42S02"), access::kNoSuchTable},
      {"INSERT INTO obj_items VALUES (1, 'again', 0)", pick("23000", "23505", "23000"),
       access::kIntegrityViolation},
      {"SELEC 1", pick("42000", "42601", "42000"), access::kErrorsInCommand},
  };
  for (const auto& c : cases) {
    recorder->lines.clear();
    const RaisedError e = raised([&] { exec(c.sql); });
    EXPECT_EQ(e.number(), c.number) << c.sql;
    ASSERT_GE(cn_->get_Errors()->get_Count(), 1) << c.sql;
    auto first = cn_->get_Errors()->get_Item(0);
    EXPECT_EQ(first->get_SQLState(), c.sqlstate) << c.sql;
    EXPECT_EQ(first->get_Number(), c.number);
    EXPECT_EQ(first->get_Description(), e.description());
    EXPECT_EQ(e.source(), first->get_Source());
    ASSERT_EQ(recorder->lines.size(), 2u);
    EXPECT_EQ(recorder->lines[1], "ExecuteComplete -1 status=2 error=" + std::to_string(c.number) +
                                      " errors=" + std::to_string(cn_->get_Errors()->get_Count()));
  }
  exec("SELECT 1");
  EXPECT_EQ(cn_->get_Errors()->get_Count(), 0) << "a successful call starts from no errors";
  EXPECT_EQ(raised([&] { cn_->get_Errors()->get_Item(0); }).number(), err::kInvalidArgument);

  // A closed connection refuses with its own error, which is no provider diagnostic: Errors stays
  // empty, as for every refusal of the objects themselves. Its streaming rows are gone.
  auto stream = exec("SELECT id FROM obj_items");
  cn_->Close();
  EXPECT_EQ(raised([&] { value(stream, "id"); }).number(), access::kConnectionUnusable);
  EXPECT_EQ(raised([&] { exec("SELECT 1"); }).number(), access::kObjectClosed);
  EXPECT_EQ(cn_->get_Errors()->get_Count(), 0);
  EXPECT_EQ(raised([&] { cn_->Close(); }).number(), access::kObjectClosed);
  EXPECT_EQ(raised([&] { cn_->CommitTrans(); }).number(), access::kObjectClosed);
  EXPECT_EQ(raised([&] { cn_->put_ConnectionTimeout(-1); }).number(), access::kBadArguments);
  EXPECT_EQ(raised([&] { open("SELECT id FROM obj_items", adOpenStatic, adLockReadOnly); }).number(),
            access::kConnectionUnusable);
  EXPECT_EQ(cn_->get_Errors()->get_Count(), 0);
}

TEST_P(ObjectsTest, TransactionsCommitAndRollBack) {
  EXPECT_EQ(cn_->BeginTrans(), 1);
  exec("INSERT INTO obj_items (id, nm) VALUES (10, 'kept')");
  cn_->CommitTrans();
  cn_->BeginTrans();
  exec("INSERT INTO obj_items (id, nm) VALUES (11, 'dropped')");
  cn_->RollbackTrans();
  EXPECT_EQ(count("obj_items WHERE id = 10"), 1);
  EXPECT_EQ(count("obj_items WHERE id = 11"), 0);

  auto recorder = Recorder::make();
  cn_.as<IConnectionPointContainer>()->Advise(ConnectionEvents::IID, recorder.get());
  const RaisedError e = raised([&] { cn_->CommitTrans(); });
  EXPECT_EQ(cn_->get_Errors()->get_Count(), 1);
  ASSERT_EQ(recorder->lines.size(), 1u);
  EXPECT_EQ(recorder->lines[0].rfind("CommitTransComplete status=2 error=", 0), 0u) << recorder->lines[0];
  EXPECT_EQ(recorder->last_error->get_Description(), e.description());
}

TEST_P(ObjectsTest, NavigationAndRecordCountFollowTheCursorType) {
  struct Case {
    std::int32_t cursor, location, count;
    bool scrolls;
  };
  for (const Case c :
       {Case{adOpenForwardOnly, adUseServer, -1, false}, Case{adOpenKeyset, adUseServer, 3, true},
        Case{adOpenDynamic, adUseServer, 3, true}, Case{adOpenStatic, adUseServer, 3, true},
        Case{adOpenForwardOnly, adUseClient, 3, true}}) {
    SCOPED_TRACE("cursor " + std::to_string(c.cursor) + " location " + std::to_string(c.location));
    auto rs = open("SELECT id, nm FROM obj_items ORDER BY id", c.cursor, adLockReadOnly, c.location);
    EXPECT_EQ(rs->get_RecordCount(), c.count);
    EXPECT_FALSE(rs->get_BOF());
    rs->MoveFirst();  // still at the start: allowed on every cursor
    std::vector<std::int32_t> ids;
    for (; !rs->get_EOF(); rs->MoveNext()) ids.push_back(value(rs, "id").to_i32());
    EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(raised([&] { rs->MoveNext(); }).number(), access::kNoCurrentRecord);
    EXPECT_EQ(raised([&] { value(rs, "id"); }).number(), access::kNoCurrentRecord);
    if (!c.scrolls) {
      EXPECT_EQ(raised([&] { rs->MovePrevious(); }).number(), access::kCannotFetchBackward);
      EXPECT_EQ(raised([&] { rs->MoveLast(); }).number(), access::kCannotFetchBackward);
      rs->MoveFirst();  // runs the query again
      EXPECT_EQ(value(rs, "nm").to_string(), "apple");
      continue;
    }
    rs->MoveLast();
    EXPECT_EQ(value(rs, "nm").to_string(), "plum");
    rs->MovePrevious();
    rs->MovePrevious();
    rs->MovePrevious();
    EXPECT_TRUE(rs->get_BOF());
    rs->MoveFirst();
    EXPECT_EQ(value(rs, "nm").to_string(), "apple");
    rs->Close();
    EXPECT_EQ(raised([&] { rs->get_EOF(); }).number(), access::kObjectClosed);
  }
  auto empty = open("SELECT id FROM obj_items WHERE id < 0", adOpenForwardOnly, adLockReadOnly);
  EXPECT_TRUE(empty->get_BOF());
  EXPECT_TRUE(empty->get_EOF());
}

// A forward-only recordset that has moved on gets back to its first row by running its query
// again: the rows are those of the database now, and the run has its events as any other.
TEST_P(ObjectsTest, MoveFirstRunsAForwardOnlyQueryAgain) {
  auto recorder = Recorder::make();
  cn_.as<IConnectionPointContainer>()->Advise(ConnectionEvents::IID, recorder.get());
  auto ids = [&](const Ref<_Recordset>& rs) {
    std::vector<std::int32_t> out;
    for (; !rs->get_EOF(); rs->MoveNext()) out.push_back(value(rs, "id").to_i32());
    return out;
  };
  for (const bool from_execute : {false, true}) {
    SCOPED_TRACE(from_execute ? "Connection.Execute" : "Recordset.Open");
    const std::string sql = "SELECT id, nm FROM obj_items WHERE id < 10 ORDER BY id";
    auto rs = from_execute ? exec(sql) : open(sql, adOpenForwardOnly, adLockReadOnly);
    Ref<Field> kept = rs->get_Fields()->get_Item("id");
    rs->MoveNext();
    exec("INSERT INTO obj_items VALUES (" + std::string(from_execute ? "5" : "4") + ", 'fig', NULL)");
    recorder->lines.clear();
    rs->MoveFirst();
    ASSERT_EQ(recorder->lines.size(), 2u);
    EXPECT_EQ(recorder->lines[0].rfind("WillExecute", 0), 0u) << recorder->lines[0];
    EXPECT_EQ(recorder->lines[1].rfind("ExecuteComplete", 0), 0u) << recorder->lines[1];
    EXPECT_FALSE(rs->get_BOF());
    EXPECT_EQ(kept->get_Value().to_i32(), 1);  // fields taken before stay usable
    EXPECT_EQ(ids(rs).size(), from_execute ? 5u : 4u);
    rs->MoveFirst();
    rs->MoveFirst();  // at the first row already: nothing runs
    EXPECT_EQ(ids(rs).size(), from_execute ? 5u : 4u);
  }

  auto limited = new_recordset();
  limited->put_MaxRecords(2);
  limited->put_ActiveConnection(cn_);
  limited->Open("SELECT id FROM obj_items ORDER BY id", Variant(), adOpenForwardOnly, adLockReadOnly, -1);
  EXPECT_EQ(ids(limited).size(), 2u);
  limited->MoveFirst();
  EXPECT_EQ(ids(limited).size(), 2u);

  // Running it again can fail as the first run could: Errors, the event, the raise.
  exec("CREATE TABLE obj_gone (a INTEGER)");
  exec("INSERT INTO obj_gone VALUES (1), (2)");
  auto gone = open("SELECT a FROM obj_gone", adOpenForwardOnly, adLockReadOnly);
  gone->MoveNext();
  gone->MoveNext();
  ASSERT_TRUE(gone->get_EOF());
  exec("DROP TABLE obj_gone");
  recorder->lines.clear();
  EXPECT_EQ(raised([&] { gone->MoveFirst(); }).number(), access::kNoSuchTable);
  EXPECT_GE(cn_->get_Errors()->get_Count(), 1);
  ASSERT_EQ(recorder->lines.size(), 2u);
  EXPECT_EQ(recorder->lines[1].rfind("ExecuteComplete -1 rs status=2", 0), 0u) << recorder->lines[1];
  EXPECT_TRUE(gone->get_EOF());

  cn_->Close();
  EXPECT_EQ(raised([&] { limited->MoveFirst(); }).number(), access::kConnectionUnusable);
}

TEST_P(ObjectsTest, MaxRecordsLimitsEveryCursor) {
  for (std::int32_t cursor : {adOpenForwardOnly, adOpenStatic}) {
    auto rs = new_recordset();
    rs->put_MaxRecords(2);
    rs->put_ActiveConnection(cn_);
    rs->Open("SELECT id FROM obj_items", Variant(), cursor, adLockReadOnly, -1);
    int rows = 0;
    for (; !rs->get_EOF(); rs->MoveNext()) ++rows;
    EXPECT_EQ(rows, 2) << cursor;
  }
}

TEST_P(ObjectsTest, FieldsDescribeTheirColumnsAndConvertValues) {
  exec(
      "CREATE TABLE obj_types (id INTEGER PRIMARY KEY, big BIGINT, d DOUBLE PRECISION, n NUMERIC(12,4), "
      "vc VARCHAR(10), t TEXT, dt DATE, ts TIMESTAMP, f BOOLEAN)");
  exec(
      "INSERT INTO obj_types VALUES (7, 5, 0.5, 1234.5678, 'abc', 'long', '2024-01-05', '2024-01-05 "
      "09:03:07', "
      "TRUE)");
  // Updatable, so that ODBC drivers are asked for the key too.
  auto rs = open("SELECT * FROM obj_types", adOpenKeyset, adLockOptimistic);
  auto fields = rs->get_Fields();
  struct Expected {
    const char* name;
    std::int32_t type;
    VarType value_type;
  };
  const std::vector<Expected> expected = {
      {"ID", adInteger, VarType::Long},
      {"big", adBigInt, VarType::LongLong},
      {"d", adDouble, VarType::Double},
      {"n", adNumeric, VarType::Currency},
      {"vc", pick(adVarChar, adVarWChar, adVarWChar), VarType::String},
      {"t", pick(adLongVarChar, adLongVarWChar, adLongVarWChar), VarType::String},
      {"dt", adDBDate, VarType::Date},
      {"ts", adDBTimeStamp, VarType::Date},
      {"f", pick(adBoolean, adBoolean, adTinyInt), pick(VarType::Boolean, VarType::Boolean, VarType::Long)},
  };
  ASSERT_EQ(fields->get_Count(), static_cast<std::int32_t>(expected.size()));
  for (const auto& e : expected) {
    auto field = fields->get_Item(e.name);  // names match without regard to case
    EXPECT_EQ(field->get_Type(), e.type) << e.name;
    EXPECT_EQ(field->get_Value().type(), e.value_type) << e.name;
  }
  EXPECT_EQ(fields->get_Item("n")->get_Value(), Variant(Currency{12345678}));
  EXPECT_EQ(fields->get_Item("dt")->get_Value().to_date().days, 45296.0);  // 2024-01-05
  EXPECT_EQ(fields->get_Item("vc")->get_DefinedSize(), 10);
  const std::int32_t id_attributes = fields->get_Item(0)->get_Attributes();
  EXPECT_NE(id_attributes & adFldKeyColumn, 0);
  EXPECT_NE(id_attributes & adFldFixed, 0);
  EXPECT_NE(fields->get_Item("t")->get_Attributes() & adFldLong, 0);
  EXPECT_NE(fields->get_Item("big")->get_Attributes() & adFldIsNullable, 0);
  EXPECT_EQ(raised([&] { fields->get_Item("nope"); }).number(), access::kItemNotFound);
  EXPECT_EQ(raised([&] { fields->get_Item(99); }).number(), access::kItemNotFound);
}

TEST_P(ObjectsTest, TableRecordsetsInsertAndUpdateByKey) {
  auto rs = open("SELECT id, nm, price FROM obj_items ORDER BY id", adOpenKeyset, adLockOptimistic);
  EXPECT_NE(rs->get_Fields()->get_Item("nm")->get_Attributes() & adFldUpdatable, 0);
  rs->AddNew();
  rs->get_Fields()->get_Item("id")->put_Value(4);
  rs->get_Fields()->get_Item("nm")->put_Value("fig's");
  rs->get_Fields()->get_Item("price")->put_Value("3.75");
  rs->Update();
  EXPECT_EQ(rs->get_RecordCount(), 4);
  EXPECT_EQ(value(rs, "nm").to_string(), "fig's");

  rs->MoveFirst();
  rs->get_Fields()->get_Item("nm")->put_Value("apricot");
  rs->MoveNext();  // moving off a changed row saves it
  rs->get_Fields()->get_Item("price")->put_Value(Null{});
  rs->Update();
  auto check = open("SELECT id, nm, price FROM obj_items ORDER BY id", adOpenStatic, adLockReadOnly);
  std::vector<std::string> rows;
  for (; !check->get_EOF(); check->MoveNext()) {
    const Variant price = value(check, "price");
    rows.push_back(value(check, "nm").to_string() + "=" + (price.is_null() ? "null" : price.to_string()));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"apricot=1.5", "pear=null", "plum=null", "fig's=3.75"}));
  // A row written back with the values it holds is still found (MariaDB counts it unchanged).
  rs->MoveFirst();
  rs->get_Fields()->get_Item("nm")->put_Value("apricot");
  rs->Update();

  // A failed write leaves the change pending, with the driver's error in Errors.
  rs->MoveFirst();
  rs->get_Fields()->get_Item("id")->put_Value(2);
  EXPECT_EQ(raised([&] { rs->Update(); }).number(), access::kIntegrityViolation);
  EXPECT_EQ(cn_->get_Errors()->get_Count() >= 1, true);
  rs->CancelUpdate();
  EXPECT_EQ(value(rs, "id").to_i32(), 1);

  // The row went away under the recordset.
  exec("DELETE FROM obj_items WHERE id = 1");
  rs->get_Fields()->get_Item("nm")->put_Value("ghost");
  EXPECT_EQ(raised([&] { rs->Update(); }).number(), access::kRowNotFound);
  EXPECT_EQ(cn_->get_Errors()->get_Count(), 1);  // reported as the provider would
  rs->CancelUpdate();
}

TEST_P(ObjectsTest, RecordsetsThatCannotWriteRefuseClearly) {
  auto ro = open("SELECT id, nm FROM obj_items", adOpenStatic, adLockReadOnly);
  EXPECT_EQ(raised([&] { ro->AddNew(); }).number(), access::kReadOnlyRecordset);
  EXPECT_EQ(raised([&] { ro->get_Fields()->get_Item("nm")->put_Value("x"); }).number(),
            access::kReadOnlyRecordset);
  auto stream = exec("SELECT id FROM obj_items");
  EXPECT_EQ(raised([&] { stream->AddNew(); }).number(), access::kReadOnlyRecordset);

  exec("CREATE TABLE obj_nokey (a INTEGER, b VARCHAR(5))");
  exec("INSERT INTO obj_nokey VALUES (1, 'x')");
  auto nokey = open("SELECT a, b FROM obj_nokey", adOpenKeyset, adLockOptimistic);
  nokey->get_Fields()->get_Item("b")->put_Value("y");
  EXPECT_EQ(raised([&] { nokey->Update(); }).number(), access::kReadOnlyRecordset);
  nokey->CancelUpdate();
  EXPECT_EQ(raised([&] { nokey->get_Fields()->get_Item("b")->put_Value("toolong"); }).number(),
            access::kMultipleStepError);

  auto expression = open("SELECT id, id + 1 AS nxt FROM obj_items", adOpenKeyset, adLockOptimistic);
  EXPECT_EQ(raised([&] { expression->get_Fields()->get_Item("nxt")->put_Value(5); }).number(),
            access::kMultipleStepError);
  EXPECT_EQ(raised([&] { expression->get_Fields()->get_Item("id")->put_Value("abc"); }).number(),
            err::kTypeMismatch);
}

// cn.Execute(sql).Fields(0).Value: nothing holds the recordset but its Fields and Field objects.
TEST_P(ObjectsTest, FieldsKeepTheirRecordsetAlive) {
  const std::string sql = "SELECT nm, id FROM obj_items ORDER BY id";
  Ref<Field> first = exec(sql)->get_Fields()->get_Item(0);
  EXPECT_EQ(first->get_Value().to_string(), "apple");
  Ref<Fields> fields = exec(sql)->get_Fields();
  EXPECT_EQ(fields->get_Item("id")->get_Value().to_i32(), 1);

  Ref<IDispatch> cn(cn_);
  Ref<IDispatch> by_name =
      call(call(call(cn, "Execute", InvokeKind::Method, {Variant(sql)}).to_object(), "Fields", InvokeKind::PropertyGet)
               .to_object(),
           "Item", InvokeKind::PropertyGet, {Variant(std::int32_t{0})})
          .to_object();
  EXPECT_EQ(call(by_name, "Value", InvokeKind::PropertyGet).to_string(), "apple");

  // Closing the recordset still ends its fields.
  auto rs = exec(sql);
  Ref<Field> closed = rs->get_Fields()->get_Item(0);
  rs->Close();
  EXPECT_EQ(raised([&] { closed->get_Value(); }).number(), access::kObjectClosed);
}

TEST_P(ObjectsTest, ScriptsReachEverythingByName) {
  Ref<IDispatch> cn(cn_);
  EXPECT_EQ(call(cn, "state", InvokeKind::PropertyGet).to_i32(), adStateOpen);
  Ref<IDispatch> rs =
      call(cn, "Execute", InvokeKind::Method, {Variant("SELECT id, nm FROM obj_items ORDER BY id")})
          .to_object();
  // rs.Fields("NM").Value, and the same through the default members: rs("NM")
  Ref<IDispatch> fields = call(rs, "Fields", InvokeKind::PropertyGet).to_object();
  Ref<IDispatch> field = call(fields, "Item", InvokeKind::PropertyGet, {Variant("NM")}).to_object();
  EXPECT_EQ(call(field, "Value", InvokeKind::PropertyGet).to_string(), "apple");
  std::vector<Variant> none, nm{Variant("nm")};
  Ref<IDispatch> by_default = fields->Invoke(kDispidValue, InvokeKind::PropertyGet, nm).to_object();
  EXPECT_EQ(by_default->Invoke(kDispidValue, InvokeKind::PropertyGet, none).to_string(), "apple");
  call(rs, "MoveNext", InvokeKind::Method);
  EXPECT_EQ(call(field, "Value", InvokeKind::PropertyGet).to_string(), "pear");  // a field follows its row

  // Late-bound listeners receive the event dispatch ids with their arguments.
  std::vector<std::int32_t> ids;
  auto listener = CallbackListener::make([&](std::int32_t id, std::span<Variant> args) {
    ids.push_back(id);
    if (id == kDispExecuteComplete) {
      EXPECT_TRUE(args[1].is_object());
    }
  });
  cn_.as<IConnectionPointContainer>()->Advise(ConnectionEvents::IID, listener.get());
  exec("SELECT 1");
  EXPECT_EQ(ids, (std::vector<std::int32_t>{kDispWillExecute, kDispExecuteComplete}));
  const auto& events = cn->GetTypeInfo().events;
  ASSERT_TRUE(events.has_value());
  EXPECT_EQ(events->events.size(), 9u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ObjectsTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres, Backend::kMariaDb),
                         [](const auto& info) {
                           return info.param == Backend::kSqlite     ? "Sqlite"
                                  : info.param == Backend::kPostgres ? "Postgres"
                                                                     : "MariaDb";
                         });

// ---- in-memory recordsets ----

TEST(InMemoryRecordsetTest, AppendedFieldsTakeRowsAndConvertValues) {
  auto rs = new_recordset();
  auto fields = rs->get_Fields();
  fields->Append("CD", adInteger, 4, adFldIsNullable);
  fields->Append("NM", adVarWChar, 5, adFldIsNullable);
  fields->Append("AMT", adCurrency, 8, adFldIsNullable);
  fields->Append("DT", adDate, 8, adFldIsNullable);
  EXPECT_EQ(raised([&] { fields->Append("cd", adInteger, 4, 0); }).number(), 3367);
  EXPECT_EQ(raised([&] { rs->Open(Variant("SELECT 1"), Variant(), -1, -1, -1); }).number(),
            access::kConnectionUnusable);
  rs->put_CursorLocation(adUseClient);
  rs->Open(Variant(), Variant(), adOpenDynamic, adLockPessimistic, -1);
  EXPECT_TRUE(rs->get_BOF() && rs->get_EOF());
  EXPECT_EQ(raised([&] { fields->Append("X", adInteger, 4, 0); }).number(), access::kObjectOpen);

  for (int i = 1; i <= 3; ++i) {
    rs->AddNew();
    fields->get_Item("cd")->put_Value(i);
    fields->get_Item("nm")->put_Value("n" + std::to_string(i));
    fields->get_Item("amt")->put_Value("12.5");
    rs->Update();
  }
  EXPECT_EQ(rs->get_RecordCount(), 3);
  EXPECT_EQ(fields->get_Item("CD")->get_Value(), Variant(std::int32_t{3}));
  EXPECT_EQ(fields->get_Item("AMT")->get_Value(), Variant(Currency{125000}));
  EXPECT_TRUE(fields->get_Item("DT")->get_Value().is_null());

  // Conversion failures are the runtime's, and leave the row as it was.
  EXPECT_EQ(raised([&] { fields->get_Item("CD")->put_Value("abc"); }).number(), err::kTypeMismatch);
  EXPECT_EQ(raised([&] { fields->get_Item("CD")->put_Value(5e10); }).number(), err::kOverflow);
  EXPECT_EQ(raised([&] { fields->get_Item("NM")->put_Value("123456"); }).number(),
            access::kMultipleStepError);
  // A column that meets a second kind of value keeps both.
  fields->get_Item("DT")->put_Value(DateTime{45296.5});
  rs->Update();
  rs->MoveFirst();
  EXPECT_EQ(fields->get_Item("CD")->get_Value().to_i32(), 1);
  rs->AddNew();
  rs->CancelUpdate();
  EXPECT_EQ(rs->get_RecordCount(), 3);
  EXPECT_EQ(fields->get_Item("CD")->get_Value().to_i32(), 1);
  rs->MoveLast();
  EXPECT_EQ(fields->get_Item("DT")->get_Value(), Variant(DateTime{45296.5}));

  // A field keeps its recordset: the client's last reference to the recordset is not its end.
  Ref<Field> kept = fields->get_Item("CD");
  rs.reset();
  fields.reset();
  EXPECT_EQ(kept->get_Value().to_i32(), 3);
}

TEST(InMemoryRecordsetTest, ReadOnlyInMemoryRecordsetsRefuseRows) {
  auto rs = new_recordset();
  rs->get_Fields()->Append("A", adInteger, 4, 0);
  EXPECT_EQ(raised([&] {
              rs->Open(Variant(), Variant(), -1, -1, -1);
              rs->AddNew();
            }).number(),
            access::kReadOnlyRecordset);
  EXPECT_EQ(raised([&] { new_recordset()->Open(Variant(), Variant(), -1, -1, -1); }).number(),
            access::kBadArguments);
}

// ---- failures only servers give ----

TEST(ServerFailureTest, SqlServerOnAClosedPortGivesTheDriversDiagnostics) {
  auto cn = new_connection();
  cn->put_ConnectionTimeout(3);
  auto recorder = Recorder::make();
  cn.as<IConnectionPointContainer>()->Advise(ConnectionEvents::IID, recorder.get());
  const RaisedError e = raised(
      [&] { cn->Open("Provider=SQLOLEDB.1;Data Source=127.0.0.1,1;User ID=sa;Password=x", "", "", -1); });
  auto errors = cn->get_Errors();
  ASSERT_GE(errors->get_Count(), 1);
  if (errors->get_Item(0)->get_SQLState() == "IM002") {
    GTEST_SKIP() << "the FreeTDS ODBC driver is not installed";
  }
  EXPECT_EQ(errors->get_Item(0)->get_SQLState(), "08S01");
  EXPECT_EQ(errors->get_Item(0)->get_NativeError(), 20009);
  EXPECT_EQ(errors->get_Item(errors->get_Count() - 1)->get_SQLState(), "08001");
  EXPECT_EQ(e.number(), access::kProviderError);
  EXPECT_EQ(e.source(), "ovik.access.SQLOLEDB.1");
  EXPECT_EQ(cn->get_Provider(), "SQLOLEDB.1");
  EXPECT_EQ(cn->get_State(), adStateClosed);
  ASSERT_EQ(recorder->lines.size(), 2u);
  EXPECT_EQ(recorder->lines[1].rfind("ConnectComplete status=2 error=-2147467259", 0), 0u)
      << recorder->lines[1];
}

TEST(ServerFailureTest, UnknownProvidersAndMissingFilesFailAsProviderErrors) {
  auto cn = new_connection();
  EXPECT_EQ(raised([&] { cn->Open("Provider=NoSuch;Data Source=x", "", "", -1); }).number(),
            access::kProviderNotFound);
  EXPECT_EQ(cn->get_Errors()->get_Item(0)->get_SQLState(), "IM002");
  EXPECT_EQ(
      raised([&] { cn->Open("Provider=SQLite;Data Source=/nonexistent/dir/x.db", "", "", -1); }).number(),
      access::kProviderError);
  EXPECT_EQ(cn->get_State(), adStateClosed);
  EXPECT_EQ(new_connection()->get_Provider(), "MSDASQL");
}

TEST(ServerFailureTest, PostgresRefusalsAndALostServer) {
  const auto server = testing::PgServer::from_environment();
  OVIK_REQUIRE_PG_SERVER(server);
  auto cn = new_connection();
  // Wrong password: the server's refusal in Errors.
  EXPECT_EQ(raised([&] { cn->Open(server->connection_string(), "", "wrong", -1); }).number(),
            access::kProviderError);
  EXPECT_EQ(cn->get_Errors()->get_Item(0)->get_SQLState(), "08001");
  EXPECT_NE(cn->get_Errors()->get_Item(0)->get_Description().find("password"), std::string::npos);
  // Nobody listening.
  cn->put_ConnectionTimeout(5);
  raised([&] {
    cn->Open(
        "Provider=MSDASQL;Extended Properties=\"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;"
        "Database=x;UID=u;PWD=p\"",
        "", "", -1);
  });
  EXPECT_NE(cn->get_Errors()->get_Item(0)->get_Description().find("Connection refused"), std::string::npos);

  // Server notices of a successful statement arrive as InfoMessage.
  cn->Open(server->connection_string(), "", "", -1);
  auto recorder = Recorder::make();
  cn.as<IConnectionPointContainer>()->Advise(ConnectionEvents::IID, recorder.get());
  Variant affected;
  cn->Execute("DO $$ BEGIN RAISE NOTICE 'hello'; END $$", affected, -1);
  ASSERT_EQ(recorder->lines.size(), 3u);
  EXPECT_EQ(recorder->lines[1].rfind("InfoMessage status=1", 0), 0u);
  EXPECT_EQ(recorder->lines[2].rfind("ExecuteComplete", 0), 0u);
  EXPECT_NE(recorder->lines[2].find("rs status=1"), std::string::npos) << recorder->lines[2];

  // The server ends the session while connected: the next statement fails with a link error. The
  // server itself is shared with the tests running beside this one, so it stays up.
  Ref<_Recordset> pid = cn->Execute("SELECT pg_backend_pid() AS pid", affected, -1);
  const std::int32_t backend = pid->get_Fields()->get_Item("pid")->get_Value().to_i32();
  pid.reset();
  auto killer = new_connection();
  killer->Open(server->connection_string(), "", "", -1);
  killer->Execute("SELECT pg_terminate_backend(" + std::to_string(backend) + ")", affected, -1);
  const RaisedError lost = raised([&] { cn->Execute("SELECT 1", affected, -1); });
  ASSERT_GE(cn->get_Errors()->get_Count(), 1);
  const std::string state = cn->get_Errors()->get_Item(0)->get_SQLState();
  EXPECT_TRUE(state.starts_with("08") || state == "57P01") << state << " " << lost.description();
}

}  // namespace
}  // namespace ovik
