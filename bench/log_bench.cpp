// The log's costs: an entry in file mode against a plain open/append/close of the same line (the
// anchor), a traced statement against an untraced one, and the purge of a folder of 10,000 files.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "database/database.h"
#include "logging/log.h"
#include "platform/module_info.h"
#include "scratch_folder.h"

namespace {

using namespace ovik;

// A private application folder for the run, so nothing lands beside the real library.
class BenchFolder final : public platform::ModulePath {
 public:
  BenchFolder() { std::filesystem::create_directories(scratch_.path() / "bin/log"); }
  platform::ModuleInfo module() override { return {root() + "/bin", "Ovik2Environment"}; }
  std::string root() const { return scratch_.path().string(); }

 private:
  bench::ScratchFolder scratch_{"log-bench"};
  platform::ScopedFake<platform::ModulePath> guard_{*this};
};

void BM_PutLogFileMode(benchmark::State& state) {
  BenchFolder folder;
  Ref<clsLog> log = make_object<clsLog>();
  std::string title = "application log", text = "an entry of about sixty characters written to the day's file";
  for (auto _ : state) log->PutLog(title, text);
}
BENCHMARK(BM_PutLogFileMode);

void BM_AnchorOpenAppendClose(benchmark::State& state) {
  BenchFolder folder;
  const std::string path = folder.root() + "/bin/log/anchor.LOG";
  const std::string line =
      "2024/01/05 09:03:00\t1234\tuser01\tOvik2Environment\tapplication log\tan entry of about sixty characters "
      "written to the day's file\r\n";
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    benchmark::DoNotOptimize(write(fd, line.data(), line.size()));
    close(fd);
  }
}
BENCHMARK(BM_AnchorOpenAppendClose);

void traced_execute(benchmark::State& state, bool traced) {
  BenchFolder folder;
  Ref<clsDatabase> db = make_object<clsDatabase>();
  db->put_TraceTransaction(traced);
  db->Connect("Provider=SQLite;Data Source=" + folder.root() + "/bench.db;Create If Missing=True",
              HowToConnectEnum::ConnectByConnectionString);
  Variant affected;
  db->get_Connection()->Execute("create table t (n integer, s varchar(20))", affected, -1);
  for (auto _ : state) db->get_Connection()->Execute("insert into t values (1, 'twenty characters...')", affected, -1);
}
void BM_ExecuteUntraced(benchmark::State& state) { traced_execute(state, false); }
void BM_ExecuteTraced(benchmark::State& state) { traced_execute(state, true); }
BENCHMARK(BM_ExecuteUntraced);
BENCHMARK(BM_ExecuteTraced);

void BM_DelLogOver10000Files(benchmark::State& state) {
  BenchFolder folder;
  Ref<clsLog> log = make_object<clsLog>();
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 10000; ++i) {
      // Half of them old enough to go, half recent (and other applications' files that stay).
      const std::string name = (i % 2 ? "Ovik2Environment0101" : "POS9912") + std::to_string(10 + i % 18) + "-u" +
                               std::to_string(i) + ".LOG";
      int fd = open((folder.root() + "/bin/log/" + name).c_str(), O_WRONLY | O_CREAT, 0640);
      close(fd);
    }
    state.ResumeTiming();
    log->DelLog(30);
  }
}
BENCHMARK(BM_DelLogOver10000Files)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
