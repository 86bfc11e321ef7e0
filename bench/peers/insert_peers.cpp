// Workload 4: 100,000 single-row INSERTs, each its own text statement in autocommit, into a fresh
// SQLite file in WAL mode with synchronous=NORMAL (the library sets both itself; every peer gets
// them set explicitly). The statement texts are the ones the library's RecordToDatabase sends for
// a 100,000-row recordset (integer, text with an apostrophe, timestamp), captured once through
// the connection's WillExecute event, so every system executes exactly the same texts:
//  - the library: RecordToDatabase from the recordset (builds the texts itself, inside the time),
//    and Connection.Execute of each captured text;
//  - QSqlQuery::exec(text), one query object reused; POCO `session << text, now`;
//  - the floor: sqlite3_exec(text).
// Opening the file, the pragmas, the create table and the close are outside the time.
//
// What one statement per row costs (not compared with anything): the same RecordToDatabase inside
// one transaction, the floor's best case (one prepared, bound insert in one transaction), and, when
// scripts/pg-test-server.sh's env.sh is sourced, RecordToDatabase of 5,000 rows to PostgreSQL in
// autocommit and in one transaction.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "peers_common.h"
#if OVIK_PEER_QT
#include <QtCore/QString>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#endif
#if OVIK_PEER_POCO
#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/Session.h>
#endif

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "database/database.h"
#include "../insert_workload.h"
#include "ovik/data_access.h"

namespace {

using namespace ovik;

// 100,000; PEERS_INSERT_ROWS sets another count (a profile under callgrind wants fewer).
const int kRows = [] {
  const char* rows = std::getenv("PEERS_INSERT_ROWS");
  return rows != nullptr && std::atoi(rows) > 0 ? std::atoi(rows) : 100000;
}();
using bench::StatementCapture;
constexpr const char* kCreate = bench::kInsertTable;
Ref<_Recordset> rows_to_write() { return bench::rows_to_insert(kRows); }

Ref<clsDatabase> ovik_open(const std::string& path) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  if (!db->Connect("Provider=SQLite;Data Source=" + path + ";Create If Missing=True", HowToConnectEnum::ConnectByConnectionString))
    throw std::runtime_error(db->get_ErrorMsg());
  Variant affected;
  db->get_Connection()->Execute(kCreate, affected, -1);
  return db;
}

struct Inputs {
  Ref<_Recordset> rs;
  std::vector<std::string> texts;
};

const Inputs& inputs() {
  static const Inputs made = [] {
    Inputs in;
    peers::ScratchFolder scratch("insert-capture");
    Ref<clsDatabase> db = ovik_open(scratch.file("capture.db"));
    Ref<StatementCapture> capture(new StatementCapture);
    Ref<IConnectionPointContainer> events = query<IConnectionPointContainer>(db->get_Connection().get());
    events->Advise(ConnectionEvents::IID, capture.get());
    in.rs = rows_to_write();
    std::string prefix = " ";
    db->RecordToDatabase("T", in.rs, prefix);
    in.texts = std::move(capture->texts);
    if (in.texts.size() != static_cast<std::size_t>(kRows)) throw std::runtime_error("capture failed");
    return in;
  }();
  return made;
}

// Counts the rows a system left in its file (outside the time), through the floor's own API.
void check_file(benchmark::State& state, const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  std::int64_t rows = -1;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "select count(*) from T", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    rows = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  sqlite3_close(db);
  if (rows != kRows) state.SkipWithError(("wrong row count " + std::to_string(rows)).c_str());
}

// ---- the library -------------------------------------------------------------------------------

void BM_Insert_Ovik_RecordToDatabase(benchmark::State& state) {
  const Inputs& in = inputs();
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers::ScratchFolder scratch("insert-ovik");
    const std::string path = scratch.file("t" + std::to_string(run++) + ".db");
    Ref<clsDatabase> db = ovik_open(path);
    Ref<_Recordset> rs = in.rs;
    std::string prefix = " ";
    state.ResumeTiming();
    db->RecordToDatabase("T", rs, prefix);
    state.PauseTiming();
    db.reset();
    check_file(state, path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_Insert_Ovik_ConnectionExecute(benchmark::State& state) {
  const Inputs& in = inputs();
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers::ScratchFolder scratch("insert-ovik-exec");
    const std::string path = scratch.file("t" + std::to_string(run++) + ".db");
    Ref<clsDatabase> db = ovik_open(path);
    Ref<_Connection> cn = db->get_Connection();
    state.ResumeTiming();
    Variant affected;
    for (const std::string& sql : in.texts) cn->Execute(sql, affected, -1);
    state.PauseTiming();
    cn.reset();
    db.reset();
    check_file(state, path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// RecordToDatabase inside BeginTrans / CommitTrans: one commit instead of one per row.
void BM_Insert_Ovik_RecordToDatabaseOneTransaction(benchmark::State& state) {
  const Inputs& in = inputs();
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers::ScratchFolder scratch("insert-ovik-tx");
    const std::string path = scratch.file("t" + std::to_string(run++) + ".db");
    Ref<clsDatabase> db = ovik_open(path);
    Ref<_Recordset> rs = in.rs;
    std::string prefix = " ";
    state.ResumeTiming();
    db->get_Connection()->BeginTrans();
    db->RecordToDatabase("T", rs, prefix);
    db->get_Connection()->CommitTrans();
    state.PauseTiming();
    db.reset();
    check_file(state, path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The rows to PostgreSQL through ODBC (the test server's DSN and login from its env.sh), into a
// table of the run's own: 5,000 rows, in autocommit or in one transaction.
const int kPgRows = std::min(5000, kRows);

std::string pg_connection_string() {
  auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value != nullptr ? value : "");
  };
  return "Provider=MSDASQL;Data Source=" + variable("OVIK_TEST_PG_DSN") + ";User ID=" +
         variable("OVIK_TEST_PG_USER") + ";Password=" + variable("OVIK_TEST_PG_PASSWORD");
}

void pg_insert(benchmark::State& state, bool one_transaction) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  if (!db->Connect(pg_connection_string(), HowToConnectEnum::ConnectByConnectionString)) {
    state.SkipWithError(("PostgreSQL: " + db->get_ErrorMsg()).c_str());
    return;
  }
  Ref<_Connection> cn = db->get_Connection();
  const std::string table = "bench_insert_" + std::to_string(::getpid());
  Variant affected;
  cn->Execute("drop table if exists " + table, affected, -1);
  cn->Execute("create table " + table + " (CD integer, NM varchar(40), DT timestamp)", affected, -1);
  // The first 5,000 rows of the workload, in a recordset of their own.
  Ref<_Recordset> rs = bench::rows_to_insert(kPgRows);
  for (auto _ : state) {
    state.PauseTiming();
    cn->Execute("truncate " + table, affected, -1);
    std::string prefix = " ";
    state.ResumeTiming();
    if (one_transaction) cn->BeginTrans();
    db->RecordToDatabase(table, rs, prefix);
    if (one_transaction) cn->CommitTrans();
  }
  Ref<_Recordset> count = cn->Execute("select count(*) from " + table, affected, -1);
  const std::string rows = count->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_string();
  count->Close();  // its cursor would keep the table in use
  if (rows != std::to_string(kPgRows)) state.SkipWithError("wrong row count in PostgreSQL");
  cn->Execute("drop table " + table, affected, -1);
  state.SetItemsProcessed(state.iterations() * kPgRows);
}

void BM_Insert_Ovik_Pg5000Autocommit(benchmark::State& state) { pg_insert(state, false); }
void BM_Insert_Ovik_Pg5000OneTransaction(benchmark::State& state) { pg_insert(state, true); }

#if OVIK_PEER_QT
// ---- Qt 6 --------------------------------------------------------------------------------------

void BM_Insert_Qt_QSqlQueryExec(benchmark::State& state) {
  const Inputs& in = inputs();
  std::vector<QString> texts;  // Qt takes QString; the conversion from UTF-8 is done beforehand
  texts.reserve(in.texts.size());
  for (const std::string& sql : in.texts) texts.push_back(QString::fromStdString(sql));
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers::ScratchFolder scratch("insert-qt");
    const std::string path = scratch.file("t" + std::to_string(run++) + ".db");
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "insert");
      db.setDatabaseName(QString::fromStdString(path));
      if (!db.open()) throw std::runtime_error(db.lastError().text().toStdString());
      QSqlQuery query(db);
      query.exec("PRAGMA journal_mode=WAL");
      query.exec("PRAGMA synchronous=NORMAL");
      query.exec(kCreate);
      state.ResumeTiming();
      for (const QString& sql : texts)
        if (!query.exec(sql)) throw std::runtime_error(query.lastError().text().toStdString());
      state.PauseTiming();
    }
    QSqlDatabase::removeDatabase("insert");
    check_file(state, path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

#endif  // OVIK_PEER_QT

#if OVIK_PEER_POCO
// ---- POCO --------------------------------------------------------------------------------------

using Poco::Data::Keywords::into;
using Poco::Data::Keywords::now;

void BM_Insert_Poco_SessionNow(benchmark::State& state) {
  const Inputs& in = inputs();
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers::ScratchFolder scratch("insert-poco");
    const std::string path = scratch.file("t" + std::to_string(run++) + ".db");
    {
      Poco::Data::Session session("SQLite", path);
      std::string mode;
      session << "PRAGMA journal_mode=WAL", into(mode), now;
      session << "PRAGMA synchronous=NORMAL", now;
      session << kCreate, now;
      if (mode != "wal") throw std::runtime_error("POCO: journal mode " + mode);
      state.ResumeTiming();
      for (const std::string& sql : in.texts) session << sql, now;
      state.PauseTiming();
    }
    check_file(state, path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

#endif  // OVIK_PEER_POCO

// ---- the floor ---------------------------------------------------------------------------------

void BM_Insert_Raw_Sqlite3Exec(benchmark::State& state) {
  const Inputs& in = inputs();
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers::ScratchFolder scratch("insert-raw");
    const std::string path = scratch.file("t" + std::to_string(run++) + ".db");
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
    state.ResumeTiming();
    for (const std::string& sql : in.texts)
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db));
    state.PauseTiming();
    sqlite3_close(db);
    check_file(state, path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The floor's best case: one prepared insert, its values bound, all rows in one transaction.
void BM_Insert_Raw_PreparedOneTransaction(benchmark::State& state) {
  const Inputs& in = inputs();
  // The values as the statements carry them, taken from the recordset once, outside the time.
  struct Row {
    std::int64_t cd;
    std::string nm, dt;
  };
  std::vector<Row> rows;
  for (in.rs->MoveFirst(); !in.rs->get_EOF(); in.rs->MoveNext()) {
    Ref<Fields> f = in.rs->get_Fields();
    rows.push_back({std::stoll(f->get_Item(Variant(std::int32_t{0}))->get_Value().to_string()),
                    f->get_Item(Variant(std::int32_t{1}))->get_Value().to_string(),
                    f->get_Item(Variant(std::int32_t{2}))->get_Value().to_string()});
  }
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers::ScratchFolder scratch("insert-raw-tx");
    const std::string path = scratch.file("t" + std::to_string(run++) + ".db");
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
    state.ResumeTiming();
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "insert into T (CD, NM, DT) values (?, ?, ?)", -1, &insert, nullptr);
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    for (const Row& row : rows) {
      sqlite3_bind_int64(insert, 1, row.cd);
      sqlite3_bind_text(insert, 2, row.nm.data(), static_cast<int>(row.nm.size()), SQLITE_STATIC);
      sqlite3_bind_text(insert, 3, row.dt.data(), static_cast<int>(row.dt.size()), SQLITE_STATIC);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_reset(insert);
    }
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_finalize(insert);
    state.PauseTiming();
    sqlite3_close(db);
    check_file(state, path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_Insert_Ovik_RecordToDatabase)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Insert_Ovik_ConnectionExecute)->Unit(benchmark::kMillisecond)->Iterations(1);
#if OVIK_PEER_QT
BENCHMARK(BM_Insert_Qt_QSqlQueryExec)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
#if OVIK_PEER_POCO
BENCHMARK(BM_Insert_Poco_SessionNow)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
BENCHMARK(BM_Insert_Raw_Sqlite3Exec)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Insert_Ovik_RecordToDatabaseOneTransaction)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Insert_Raw_PreparedOneTransaction)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
#if OVIK_PEER_POCO
  Poco::Data::SQLite::Connector::registerConnector();
#endif
  if (std::getenv("OVIK_TEST_PG_DSN") != nullptr) {
    benchmark::RegisterBenchmark("BM_Insert_Ovik_Pg5000Autocommit", BM_Insert_Ovik_Pg5000Autocommit)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("BM_Insert_Ovik_Pg5000OneTransaction", BM_Insert_Ovik_Pg5000OneTransaction)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (argc > 0) std::fprintf(stderr, "first statement: %s\n", inputs().texts.front().c_str());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
