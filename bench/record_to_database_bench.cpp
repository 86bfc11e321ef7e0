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
#include "scratch_folder.h"

namespace {

using namespace ovik;

constexpr int kRows = 100000;
class Scratch : public ovik::bench::ScratchFolder {
 public:
  Scratch() : ScratchFolder("record-bench") {}
};

constexpr char kCreate[] = "create table T (CD integer, NM varchar(40), DT timestamp)";


std::string name_of(int i) { return "item " + std::to_string(i) + " O'Neil"; }
double day_of(int i) { return 45000.0 + i % 1000 + (i % 86400) / 86400.0; }

Ref<_Recordset> rows_to_write() {
  Ref<_Recordset> rs = new_recordset();
  Ref<Fields> fields = rs->get_Fields();
  fields->Append("CD", ado::adInteger, 4, 0);
  fields->Append("NM", ado::adVarWChar, 40, 0);
  fields->Append("DT", ado::adDBTimeStamp, 16, 0);
  rs->put_CursorLocation(ado::adUseClient);
  rs->Open(Variant(), Variant(), ado::adOpenStatic, ado::adLockOptimistic, -1);
  Ref<Field> cd = fields->get_Item(Variant(std::int32_t{0}));
  Ref<Field> nm = fields->get_Item(Variant(std::int32_t{1}));
  Ref<Field> dt = fields->get_Item(Variant(std::int32_t{2}));
  for (int i = 0; i < kRows; ++i) {
    rs->AddNew();
    cd->put_Value(Variant(std::int32_t{i}));
    nm->put_Value(Variant(name_of(i)));
    dt->put_Value(Variant(DateTime{day_of(i)}));
    rs->Update();
  }
  return rs;
}

// The statements RecordToDatabase runs for those rows, captured from the library itself so that
// the anchor executes exactly the same texts.
class Capture final : public Listener<Capture, ConnectionEvents> {
 public:
  ~Capture() override = default;
  std::vector<std::string> texts;
  void WillExecute(const std::string& Source, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   const Ref<_Recordset>&, const Ref<_Connection>&) override {
    texts.push_back(Source);
  }
  void InfoMessage(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void BeginTransComplete(std::int32_t, const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void CommitTransComplete(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void RollbackTransComplete(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void ExecuteComplete(std::int32_t, const Ref<Error>&, std::int32_t, const Ref<_Recordset>&,
                       const Ref<_Connection>&) override {}
  void WillConnect(const std::string&, const std::string&, const std::string&, std::int32_t, std::int32_t,
                   const Ref<_Connection>&) override {}
  void ConnectComplete(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void Disconnect(std::int32_t, const Ref<_Connection>&) override {}
};

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
    Ref<Capture> capture(new Capture);
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
