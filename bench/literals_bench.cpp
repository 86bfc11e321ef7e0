// Nanoseconds per call of the literal conversions of clsDatabase, on an SQLite connection (DayConv
// reads the kind of database at every call).
#include <benchmark/benchmark.h>

#include <string>

#include "database/database.h"
#include "ovik/error.h"

namespace {

using namespace ovik;

Ref<clsDatabase> connected() {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  db->Connect("Provider=SQLite;Data Source=:memory:", HowToConnectEnum::ConnectByConnectionString);
  return db;
}

void BM_NumConv(benchmark::State& state) {
  Ref<clsDatabase> db = connected();
  std::string text = "1,234,567.8912";
  for (auto _ : state)
    benchmark::DoNotOptimize(db->NumConv(text, SqlStringParmitNullEnum::FieldIsNotNullable));
}
BENCHMARK(BM_NumConv);

void BM_VarConv(benchmark::State& state) {
  Ref<clsDatabase> db = connected();
  const std::string text = "O'Neil の店舗 20 chars";
  for (auto _ : state) benchmark::DoNotOptimize(db->VarConv(text));
}
BENCHMARK(BM_VarConv);

void BM_DayConv(benchmark::State& state) {
  Ref<clsDatabase> db = connected();
  std::string text = "2024/1/5 9:03:07";
  for (auto _ : state) benchmark::DoNotOptimize(db->DayConv(text));
}
BENCHMARK(BM_DayConv);

void BM_GetValueString(benchmark::State& state) {
  Ref<clsDatabase> db = connected();
  const Variant values[] = {Variant(std::int32_t{12345}), Variant("O'Neil"), Variant(DateTime{45296.377})};
  const std::int32_t types[] = {ado::adInteger, ado::adVarWChar, ado::adDBTimeStamp};
  const int which = static_cast<int>(state.range(0));
  state.SetLabel(which == 0 ? "integer" : which == 1 ? "text" : "date");
  for (auto _ : state) benchmark::DoNotOptimize(db->GetValueString(values[which], types[which]));
}
BENCHMARK(BM_GetValueString)->Arg(0)->Arg(1)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
