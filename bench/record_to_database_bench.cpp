// RecordToDatabase of 100,000 rows (integer, text, date) into an SQLite table in autocommit,
// beside its anchor: sqlite3_exec of the same statement texts on a file opened with the same
// journal settings as the library's SQLite driver (WAL, synchronous=NORMAL). The difference is the
// library's own cost per row: literals, text building, connection events, bookkeeping.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "database/database.h"
#include "insert_workload.h"
#include "scratch_folder.h"

namespace {

using namespace ovik;

constexpr int kRows = 100000;
class Scratch : public ovik::bench::ScratchFolder {
 public:
  Scratch() : ScratchFolder("record-bench") {}
};

using bench::StatementCapture;
constexpr const char* kCreate = bench::kInsertTable;
Ref<_Recordset> rows_to_write() { return bench::rows_to_insert(kRows); }

Ref<clsDatabase> open_database(const std::string& path) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  if (!db->Connect("Provider=SQLite;Data Source=" + path + ";Create If Missing=True",
                   HowToConnectEnum::ConnectByConnectionString))
    throw std::runtime_error(db->get_ErrorMsg());
  Variant affected;
  db->get_Connection()->Execute(kCreate, affected, -1);
  return db;
}

void BM_RecordToDatabase(benchmark::State& state) {
  Ref<_Recordset> rs = rows_to_write();
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Scratch scratch;
    Ref<clsDatabase> db = open_database(scratch.file("library" + std::to_string(run++) + ".db"));
    std::string prefix = " ";
    state.ResumeTiming();
    db->RecordToDatabase("T", rs, prefix);
    state.PauseTiming();
    db.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_RecordToDatabase)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteExecSameTexts(benchmark::State& state) {
  std::vector<std::string> texts;
  {
    Scratch scratch;
    Ref<clsDatabase> db = open_database(scratch.file("capture.db"));
    Ref<StatementCapture> capture(new StatementCapture);
    Ref<IConnectionPointContainer> events = query<IConnectionPointContainer>(db->get_Connection().get());
    events->Advise(ConnectionEvents::IID, capture.get());
    Ref<_Recordset> rs = rows_to_write();
    std::string prefix = " ";
    db->RecordToDatabase("T", rs, prefix);
    texts = std::move(capture->texts);
  }
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Scratch scratch;
    sqlite3* db = nullptr;
    if (sqlite3_open(scratch.file("raw" + std::to_string(run++) + ".db").c_str(), &db) != SQLITE_OK)
      throw std::runtime_error("sqlite3_open failed");
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
    state.ResumeTiming();
    for (const std::string& sql : texts)
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db));
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_SqliteExecSameTexts)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
