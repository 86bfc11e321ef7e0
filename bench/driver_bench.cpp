// The SQLite driver against the engine called directly, each beside its anchor:
//  - one INSERT text per row in autocommit (the library writes recordsets this way), through the
//    driver and through sqlite3_exec, with WAL + synchronous=NORMAL as the driver opens files,
//    and with the engine's default rollback journal for reference;
//  - a million rows (integer, 20-character text, real) streamed through a driver cursor and
//    through a raw sqlite3_step loop that copies every row.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "database/access/driver.h"
#include "scratch_folder.h"

namespace {

using namespace ovik::access;

class Scratch : public ovik::bench::ScratchFolder {
 public:
  Scratch() : ScratchFolder("driver-bench") {}
};

constexpr int kInsertRows = 100000;
// The rollback journal syncs at every commit: a smaller run gives its rate without minutes of I/O.
constexpr int kDefaultJournalRows = 500;
constexpr int kStreamRows = 1000000;


std::string insert_text(int i) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer,
                "insert into bench ( cd, nm, dt)values( %d, 'name %08d', '2024/01/05 09:03:00')", i, i);
  return buffer;
}

sqlite3* open_raw(const std::string& path, bool wal) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
  if (wal) {
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

constexpr const char* kCreateInsertTable = "create table bench (cd INTEGER, nm VARCHAR(20), dt DATETIME)";

void BM_InsertThroughDriverWal(benchmark::State& state) {
  Scratch scratch;
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto path = scratch.file("d" + std::to_string(run++) + ".db");
    auto driver = open_driver(
        ConnectionString::parse("Provider=SQLite;Data Source=" + path + ";Create If Missing=True"));
    driver->execute(kCreateInsertTable);
    state.ResumeTiming();
    for (int i = 0; i < kInsertRows; ++i) driver->execute(insert_text(i));
    state.PauseTiming();
    driver.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kInsertRows);
}

void insert_with_exec(benchmark::State& state, bool wal, int rows) {
  Scratch scratch;
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3* db = open_raw(scratch.file("e" + std::to_string(run++) + ".db"), wal);
    sqlite3_exec(db, kCreateInsertTable, nullptr, nullptr, nullptr);
    state.ResumeTiming();
    for (int i = 0; i < rows; ++i) {
      if (sqlite3_exec(db, insert_text(i).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        state.SkipWithError(sqlite3_errmsg(db));
        break;
      }
    }
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_InsertWithSqliteExecWal(benchmark::State& state) { insert_with_exec(state, true, kInsertRows); }
void BM_InsertWithSqliteExecDefaultJournal(benchmark::State& state) {
  insert_with_exec(state, false, kDefaultJournalRows);
}

// One database of a million rows shared by the streaming benchmarks.
class StreamData {
 public:
  static const std::string& path() {
    static StreamData data;
    return data.path_;
  }

 private:
  StreamData() : path_(scratch_.file("stream.db")) {
    sqlite3* db = open_raw(path_, true);
    sqlite3_exec(db,
                 "create table rows (id INTEGER, nm VARCHAR(20), amount DOUBLE);"
                 "begin;"
                 "with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000000) "
                 "insert into rows select x, printf('text %015d', x), x * 0.25 from c;"
                 "commit;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  Scratch scratch_;
  std::string path_;
};

struct CopiedRow {
  std::int64_t id = 0;
  std::string name;
  double amount = 0;
};

void BM_StreamThroughDriverCursor(benchmark::State& state) {
  auto driver = open_driver(ConnectionString::parse("Provider=SQLite;Data Source=" + StreamData::path() +
                                                    ";Create If Missing=True"));
  for (auto _ : state) {
    auto result = driver->execute("select id, nm, amount from rows");
    std::int64_t rows = 0;
    while (result.cursor->fetch()) {
      const auto& row = result.cursor->row();
      benchmark::DoNotOptimize(&row);
      ++rows;
    }
    if (rows != kStreamRows) state.SkipWithError("wrong row count");
  }
  state.SetItemsProcessed(state.iterations() * kStreamRows);
}

void BM_StreamWithRawStepLoop(benchmark::State& state) {
  sqlite3* db = open_raw(StreamData::path(), true);
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "select id, nm, amount from rows", -1, &statement, nullptr);
    CopiedRow row;
    std::int64_t rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      row.id = sqlite3_column_int64(statement, 0);
      row.name.assign(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
                      static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)));
      row.amount = sqlite3_column_double(statement, 2);
      benchmark::DoNotOptimize(&row);
      ++rows;
    }
    sqlite3_finalize(statement);
    if (rows != kStreamRows) state.SkipWithError("wrong row count");
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kStreamRows);
}

// Wall-clock rates: the syncs of a commit are the point of the insert comparison.
BENCHMARK(BM_InsertThroughDriverWal)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime();
BENCHMARK(BM_InsertWithSqliteExecWal)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime();
BENCHMARK(BM_InsertWithSqliteExecDefaultJournal)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_StreamThroughDriverCursor)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_StreamWithRawStepLoop)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
