// Workloads 2 and 3: one SQLite file of 1,000,000 rows (integer key, varchar(40) text, real,
// datetime text), every column of every row read.
//  - Forward_*: a streaming, forward-only walk: the library's forward-only read-only recordset
//    (Connection.Execute, as its own recordset benchmark opens it), QSqlQuery with
//    setForwardOnly(true), POCO Statement row by row (range(0,1)) and in chunks of 1,000 rows
//    (limit(1000) into vectors), and raw sqlite3_step copying each row into one struct.
//  - Static_*: every row held in memory, then walked: the library's static read-only recordset,
//    QSqlQuery without forward-only (last() fetches all into its cache, then first()..next()),
//    POCO RecordSet (loads all), and raw sqlite3_step copying all rows into a vector of structs.
// The data file is made once by `rows_peers --make-data FILE` (a separate process, so that making
// it never counts in a case's memory); the cases read it from $PEERS_ROWS_DB.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "peers_common.h"
#if OVIK_PEER_QT
#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#endif
#if OVIK_PEER_POCO
#include <Poco/Data/RecordSet.h>
#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/Session.h>
#include <Poco/Data/Statement.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ovik/data_access.h"

namespace {

// 1,000,000; PEERS_ROWS sets another count (a profile under callgrind wants fewer).
const int kRows = [] {
  const char* rows = std::getenv("PEERS_ROWS");
  return rows != nullptr && std::atoi(rows) > 0 ? std::atoi(rows) : 1000000;
}();
constexpr const char* kSelect = "select id, nm, amount, dt from rows";
std::string g_db;

int make_data(const char* path) {
  std::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path, &db) != SQLITE_OK) return 1;
  char* error = nullptr;
  const std::string make =
      "PRAGMA journal_mode=WAL;"
      "create table rows (id INTEGER PRIMARY KEY, nm VARCHAR(40), amount REAL, dt DATETIME);"
      "begin;"
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < " + std::to_string(kRows) + ") "
      "insert into rows select x, printf('customer %08d of branch %04d, east', x, x % 997), x * 0.25, "
      "datetime(1700000000 + x * 61, 'unixepoch') from c;"
      "commit;";
  const int rc = sqlite3_exec(db, make.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) std::fprintf(stderr, "make-data: %s\n", error);
  sqlite3_close(db);
  return rc == SQLITE_OK ? 0 : 1;
}

void check_rows(benchmark::State& state, std::int64_t rows) {
  if (rows != kRows) state.SkipWithError(("wrong row count " + std::to_string(rows)).c_str());
}

// ---- the library -------------------------------------------------------------------------------

ovik::Ref<ovik::_Connection> ovik_connect() {
  auto cn = ovik::new_connection();
  cn->Open("Provider=SQLite;Data Source=" + g_db, "", "", -1);
  return cn;
}

// Every field of every row through the Field objects, as a client walks a recordset.
std::int64_t ovik_walk(const ovik::Ref<ovik::_Recordset>& rs) {
  auto fields = rs->get_Fields();
  std::vector<ovik::Ref<ovik::Field>> columns;
  for (std::int32_t i = 0; i < fields->get_Count(); ++i) columns.push_back(fields->get_Item(i));
  std::int64_t rows = 0;
  for (; !rs->get_EOF(); rs->MoveNext()) {
    for (const auto& column : columns) {
      ovik::Variant v = column->get_Value();
      benchmark::DoNotOptimize(v);
    }
    ++rows;
  }
  return rows;
}

void BM_Forward_Ovik_ExecuteRecordset(benchmark::State& state) {
  auto cn = ovik_connect();
  std::int64_t rows = 0;
  for (auto _ : state) {
    ovik::Variant affected;
    auto rs = cn->Execute(kSelect, affected, -1);
    rows = ovik_walk(rs);
  }
  check_rows(state, rows);
}

void BM_Static_Ovik_StaticReadOnly(benchmark::State& state) {
  auto cn = ovik_connect();
  std::int64_t rows = 0;
  for (auto _ : state) {
    auto rs = ovik::new_recordset();
    rs->put_ActiveConnection(cn);
    rs->Open(ovik::Variant(kSelect), ovik::Variant(), ovik::ado::adOpenStatic, ovik::ado::adLockReadOnly, -1);
    rows = ovik_walk(rs);
  }
  check_rows(state, rows);
}

#if OVIK_PEER_QT
// ---- Qt 6 --------------------------------------------------------------------------------------

class QtConnection {
 public:
  QtConnection() {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "rows");
    db.setDatabaseName(QString::fromStdString(g_db));
    if (!db.open()) throw std::runtime_error(db.lastError().text().toStdString());
  }
  ~QtConnection() { QSqlDatabase::removeDatabase("rows"); }
  QSqlDatabase db() const { return QSqlDatabase::database("rows", false); }
};

std::int64_t qt_walk_from_current(QSqlQuery& query) {
  std::int64_t rows = 0;
  do {
    for (int i = 0; i < 4; ++i) {
      QVariant v = query.value(i);
      benchmark::DoNotOptimize(v);
    }
    ++rows;
  } while (query.next());
  return rows;
}

void BM_Forward_Qt_QSqlQueryForwardOnly(benchmark::State& state) {
  std::int64_t rows = 0;
  {
    QtConnection connection;
    for (auto _ : state) {
      QSqlQuery query(connection.db());
      query.setForwardOnly(true);
      if (!query.exec(kSelect)) state.SkipWithError("exec failed");
      rows = query.next() ? qt_walk_from_current(query) : 0;
    }
  }
  check_rows(state, rows);
}

void BM_Static_Qt_QSqlQueryFetchAll(benchmark::State& state) {
  std::int64_t rows = 0;
  {
    QtConnection connection;
    for (auto _ : state) {
      QSqlQuery query(connection.db());
      if (!query.exec(kSelect)) state.SkipWithError("exec failed");
      query.last();  // fetches every row into the query's cache
      rows = query.first() ? qt_walk_from_current(query) : 0;
    }
  }
  check_rows(state, rows);
}

#endif  // OVIK_PEER_QT

#if OVIK_PEER_POCO
// ---- POCO --------------------------------------------------------------------------------------

using Poco::Data::Keywords::into;
using Poco::Data::Keywords::limit;
using Poco::Data::Keywords::now;
using Poco::Data::Keywords::range;

void BM_Forward_Poco_StatementRowByRow(benchmark::State& state) {
  Poco::Data::Session session("SQLite", g_db);
  std::int64_t rows = 0;
  for (auto _ : state) {
    Poco::Int64 id = 0;
    std::string nm, dt;
    double amount = 0;
    Poco::Data::Statement select(session);
    select << kSelect, into(id), into(nm), into(amount), into(dt), range(0, 1);
    rows = 0;
    while (!select.done()) {
      rows += static_cast<std::int64_t>(select.execute());
      benchmark::DoNotOptimize(id);
      benchmark::DoNotOptimize(nm);
      benchmark::DoNotOptimize(amount);
      benchmark::DoNotOptimize(dt);
    }
  }
  check_rows(state, rows);
}

void BM_Forward_Poco_StatementChunk1000(benchmark::State& state) {
  Poco::Data::Session session("SQLite", g_db);
  std::int64_t rows = 0;
  for (auto _ : state) {
    std::vector<Poco::Int64> id;
    std::vector<std::string> nm, dt;
    std::vector<double> amount;
    Poco::Data::Statement select(session);
    select << kSelect, into(id), into(nm), into(amount), into(dt), limit(1000);
    rows = 0;
    while (!select.done()) {
      const std::size_t got = select.execute();  // appends up to 1,000 rows to the vectors
      if (id.size() != got) state.SkipWithError("chunk size mismatch");
      for (std::size_t i = 0; i < got; ++i) {
        benchmark::DoNotOptimize(id[i]);
        std::string name = nm[i];
        benchmark::DoNotOptimize(name);
        benchmark::DoNotOptimize(amount[i]);
        std::string when = dt[i];
        benchmark::DoNotOptimize(when);
      }
      rows += static_cast<std::int64_t>(got);
      id.clear();  // POCO appends: empty the vectors so that only one chunk is ever held
      nm.clear();
      amount.clear();
      dt.clear();
    }
  }
  check_rows(state, rows);
}

void BM_Static_Poco_RecordSet(benchmark::State& state) {
  Poco::Data::Session session("SQLite", g_db);
  std::int64_t rows = 0;
  for (auto _ : state) {
    Poco::Data::RecordSet rs(session, kSelect);  // executes and loads every row
    const std::size_t columns = rs.columnCount();
    rows = 0;
    for (bool more = rs.moveFirst(); more; more = rs.moveNext()) {
      for (std::size_t i = 0; i < columns; ++i) {
        Poco::Dynamic::Var v = rs[i];
        benchmark::DoNotOptimize(v);
      }
      ++rows;
    }
  }
  check_rows(state, rows);
}

#endif  // OVIK_PEER_POCO

// ---- the floor: raw sqlite3_step -------------------------------------------------------------

struct CopiedRow {
  std::int64_t id = 0;
  std::string nm;
  double amount = 0;
  std::string dt;
};

void copy_row(sqlite3_stmt* statement, CopiedRow& row) {
  row.id = sqlite3_column_int64(statement, 0);
  row.nm.assign(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
                static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)));
  row.amount = sqlite3_column_double(statement, 2);
  row.dt.assign(reinterpret_cast<const char*>(sqlite3_column_text(statement, 3)),
                static_cast<std::size_t>(sqlite3_column_bytes(statement, 3)));
}

void BM_Forward_Raw_Sqlite3Step(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(g_db.c_str(), &db);
  std::int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, kSelect, -1, &statement, nullptr);
    CopiedRow row;
    rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      copy_row(statement, row);
      benchmark::DoNotOptimize(&row);
      ++rows;
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  check_rows(state, rows);
}

void BM_Static_Raw_CopyAllThenWalk(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(g_db.c_str(), &db);
  std::int64_t rows = 0;
  for (auto _ : state) {
    std::vector<CopiedRow> all;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, kSelect, -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) copy_row(statement, all.emplace_back());
    sqlite3_finalize(statement);
    for (const auto& row : all) {  // a client reading a text gets its own copy, as a Value gives
      benchmark::DoNotOptimize(row.id);
      std::string name = row.nm;
      benchmark::DoNotOptimize(name);
      benchmark::DoNotOptimize(row.amount);
      std::string when = row.dt;
      benchmark::DoNotOptimize(when);
    }
    rows = static_cast<std::int64_t>(all.size());
  }
  sqlite3_close(db);
  check_rows(state, rows);
}

// What each system hands the client for the first row (for the fairness notes).
void describe() {
  {
    auto cn = ovik_connect();
    ovik::Variant affected;
    auto rs = cn->Execute(kSelect, affected, -1);
    auto fields = rs->get_Fields();
    std::printf("library:");
    for (std::int32_t i = 0; i < fields->get_Count(); ++i) {
      ovik::Variant v = fields->get_Item(i)->get_Value();
      std::printf(" %s(%s)", v.to_string().c_str(), ovik::var_type_name(v.type()));
    }
    std::printf("\n");
  }
#if OVIK_PEER_QT
  {
    QtConnection connection;
    QSqlQuery query(connection.db());
    query.setForwardOnly(true);
    query.exec(kSelect);
    query.next();
    std::printf("Qt:");
    for (int i = 0; i < 4; ++i)
      std::printf(" %s(%s)", query.value(i).toString().toStdString().c_str(), query.value(i).typeName());
    std::printf("\n");
  }
#endif
#if OVIK_PEER_POCO
  {
    Poco::Data::Session session("SQLite", g_db);
    Poco::Data::RecordSet rs(session, std::string(kSelect) + " limit 1");
    rs.moveFirst();
    std::printf("POCO RecordSet:");
    for (std::size_t i = 0; i < rs.columnCount(); ++i)
      std::printf(" %s(%s)", rs[i].convert<std::string>().c_str(), rs[i].type().name());
    std::printf("\n");
  }
#endif
}

BENCHMARK(peers::BM_Baseline)->Iterations(1);
BENCHMARK(BM_Forward_Ovik_ExecuteRecordset)->Unit(benchmark::kMillisecond)->Iterations(1);
#if OVIK_PEER_QT
BENCHMARK(BM_Forward_Qt_QSqlQueryForwardOnly)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
#if OVIK_PEER_POCO
BENCHMARK(BM_Forward_Poco_StatementRowByRow)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Forward_Poco_StatementChunk1000)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
BENCHMARK(BM_Forward_Raw_Sqlite3Step)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Static_Ovik_StaticReadOnly)->Unit(benchmark::kMillisecond)->Iterations(1);
#if OVIK_PEER_QT
BENCHMARK(BM_Static_Qt_QSqlQueryFetchAll)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
#if OVIK_PEER_POCO
BENCHMARK(BM_Static_Poco_RecordSet)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
BENCHMARK(BM_Static_Raw_CopyAllThenWalk)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--make-data") == 0) return make_data(argv[2]);
  const char* db = std::getenv("PEERS_ROWS_DB");
  if (db == nullptr) {
    std::fprintf(stderr, "set PEERS_ROWS_DB to a file made by %s --make-data FILE\n", argv[0]);
    return 2;
  }
  g_db = db;
#if OVIK_PEER_POCO
  Poco::Data::SQLite::Connector::registerConnector();
#endif
  if (argc == 2 && std::strcmp(argv[1], "--describe") == 0) {
    describe();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
