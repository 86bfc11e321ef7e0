// Shared pieces of the side-by-side benchmarks: the scratch folder of the other benchmarks (on the
// disk the benchmark runs from, so syncs cost what they cost) and a case that does nothing, whose
// process gives the memory floor.
//
// The peers are optional: a program is built with OVIK_PEER_QT and OVIK_PEER_POCO set to 1 only when
// Qt 6 (Core, Sql) and POCO (Foundation, Util, Data, DataSQLite) were found; the library's own cases
// and the floors are always there.
#pragma once

#include <benchmark/benchmark.h>

#include "../scratch_folder.h"

#ifndef OVIK_PEER_QT
#define OVIK_PEER_QT 0
#endif
#ifndef OVIK_PEER_POCO
#define OVIK_PEER_POCO 0
#endif

namespace peers {

using ScratchFolder = ovik::bench::ScratchFolder;

// A benchmark that does nothing: run alone, its process's peak RSS is the floor every other case
// of the same program starts from (the same libraries are mapped in every case).
inline void BM_Baseline(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(state.iterations());
}

}  // namespace peers
