// Recordsets of a million rows (integer, 20-character text, real) beside raw sqlite3_step loops:
//  - a static read-only recordset loaded and walked (every field's Value read) against a loop that
//    copies every row into a vector of structs and then walks it: time, and heap held (counter
//    heap_MB, from mallinfo2, measured while the rows are held);
//  - a forward-only recordset walked against a loop that copies each row into one struct.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ovik/data_access.h"
#include "scratch_folder.h"

namespace {

using namespace ovik;

constexpr int kRows = 1000000;

class Data {
 public:
  static const std::string& path() {
    static Data data;
    return data.path_;
  }

 private:
  Data() {
    path_ = scratch_.file("rows.db");
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL;"
                 "create table rows (id INTEGER, nm VARCHAR(20), amount DOUBLE);"
                 "begin;"
                 "with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000000) "
                 "insert into rows select x, printf('text %015d', x), x * 0.25 from c;"
                 "commit;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  bench::ScratchFolder scratch_{"recordset-bench"};
  std::string path_;
};

double heap_megabytes() {
  const auto info = mallinfo2();  // large blocks are mapped apart from the heap
  return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

Ref<_Connection> connect() {
  auto cn = new_connection();
  cn->Open("Provider=SQLite;Data Source=" + Data::path() + ";Create If Missing=True", "", "", -1);
  return cn;
}

// Reads every field of every row through the Field objects, as a client walks a recordset.
std::int64_t walk(const Ref<_Recordset>& rs) {
  auto fields = rs->get_Fields();
  std::vector<Ref<Field>> columns;
  for (std::int32_t i = 0; i < fields->get_Count(); ++i) columns.push_back(fields->get_Item(i));
  std::int64_t rows = 0;
  for (; !rs->get_EOF(); rs->MoveNext()) {
    for (const auto& column : columns) {
      Variant v = column->get_Value();
      benchmark::DoNotOptimize(v);
    }
    ++rows;
  }
  return rows;
}

struct CopiedRow {
  std::int64_t id = 0;
  std::string name;
  double amount = 0;
};

void copy_row(sqlite3_stmt* statement, CopiedRow& row) {
  row.id = sqlite3_column_int64(statement, 0);
  row.name.assign(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
                  static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)));
  row.amount = sqlite3_column_double(statement, 2);
}

void BM_StaticRecordsetLoadAndWalk(benchmark::State& state) {
  auto cn = connect();
  double held = 0;
  for (auto _ : state) {
    const double before = heap_megabytes();
    auto rs = new_recordset();
    rs->put_ActiveConnection(cn);
    rs->Open(Variant("select id, nm, amount from rows"), Variant(), ado::adOpenStatic, ado::adLockReadOnly,
             -1);
    held = heap_megabytes() - before;
    if (walk(rs) != kRows) state.SkipWithError("wrong row count");
  }
  state.counters["heap_MB"] = held;
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_RawStepCopyAllAndWalk(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(Data::path().c_str(), &db);
  double held = 0;
  for (auto _ : state) {
    const double before = heap_megabytes();
    std::vector<CopiedRow> rows;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "select id, nm, amount from rows", -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) copy_row(statement, rows.emplace_back());
    sqlite3_finalize(statement);
    held = heap_megabytes() - before;
    for (const auto& row : rows) {
      benchmark::DoNotOptimize(row.id);
      std::string name = row.name;  // a client reading the text gets its own copy, as Value gives
      benchmark::DoNotOptimize(name);
      benchmark::DoNotOptimize(row.amount);
    }
    if (rows.size() != kRows) state.SkipWithError("wrong row count");
  }
  sqlite3_close(db);
  state.counters["heap_MB"] = held;
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_ForwardOnlyWalk(benchmark::State& state) {
  auto cn = connect();
  for (auto _ : state) {
    Variant affected;
    const double before = heap_megabytes();
    auto rs = cn->Execute("select id, nm, amount from rows", affected, -1);
    if (walk(rs) != kRows) state.SkipWithError("wrong row count");
    state.counters["heap_MB"] = heap_megabytes() - before;
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_RawStepLoop(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(Data::path().c_str(), &db);
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "select id, nm, amount from rows", -1, &statement, nullptr);
    CopiedRow row;
    std::int64_t rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      copy_row(statement, row);
      benchmark::DoNotOptimize(&row);
      ++rows;
    }
    sqlite3_finalize(statement);
    if (rows != kRows) state.SkipWithError("wrong row count");
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_StaticRecordsetLoadAndWalk)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RawStepCopyAllAndWalk)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ForwardOnlyWalk)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RawStepLoop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
