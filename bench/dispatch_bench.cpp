// A call through the vtable against the same call by name: the name resolved each time, or the
// dispatch id resolved once and cached (as late-bound clients do), arguments packed as Variants.
#include <benchmark/benchmark.h>

#include "ovik/component.h"
#include "ovik/environment.h"

namespace {

using namespace ovik;

void BM_VtableCall(benchmark::State& state) {
  Ref<_clsConnectString> cs = create<_clsConnectString>("OvikEnvironment.clsConnectString");
  for (auto _ : state) {
    cs->SetProvider("SQLite");
    cs->Init();
  }
}
BENCHMARK(BM_VtableCall);

void BM_DispatchCachedId(benchmark::State& state) {
  Ref<IDispatch> cs = create_object("OvikEnvironment.clsConnectString");
  const std::int32_t set_provider = cs->GetIDOfName("SetProvider");
  const std::int32_t init = cs->GetIDOfName("Init");
  for (auto _ : state) {
    Variant args[1] = {Variant("SQLite")};
    cs->Invoke(set_provider, InvokeKind::Method, args);
    cs->Invoke(init, InvokeKind::Method, {});
  }
}
BENCHMARK(BM_DispatchCachedId);

void BM_DispatchByName(benchmark::State& state) {
  Ref<IDispatch> cs = create_object("OvikEnvironment.clsConnectString");
  for (auto _ : state) {
    Variant args[1] = {Variant("SQLite")};
    cs->Invoke(cs->GetIDOfName("SetProvider"), InvokeKind::Method, args);
    cs->Invoke(cs->GetIDOfName("Init"), InvokeKind::Method, {});
  }
}
BENCHMARK(BM_DispatchByName);

// A read of a result: early-bound string property against the same by name.
void BM_VtableGet(benchmark::State& state) {
  Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path("/opt/brindlemark/bin");
  for (auto _ : state) benchmark::DoNotOptimize(ini->get_Path());
}
BENCHMARK(BM_VtableGet);

void BM_DispatchGetCachedId(benchmark::State& state) {
  Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path("/opt/brindlemark/bin");
  const std::int32_t path = ini->GetIDOfName("Path");
  for (auto _ : state) benchmark::DoNotOptimize(ini->Invoke(path, InvokeKind::PropertyGet, {}));
}
BENCHMARK(BM_DispatchGetCachedId);

}  // namespace

BENCHMARK_MAIN();
