// What a wait costs when measured through clsWaitNDispatch itself (loop, clock reads, event,
// OnTimer): the CPU an idle 2-second Wait burns, how far Wait(50) overshoots, and how late a GLib
// timer that falls due during a Wait gets its handler run. Each benchmark runs once and reports its
// figures as counters.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "glib_bench_support.h"
#include "waiting/wait_n_dispatch.h"

namespace ovik {
namespace {

using bench::median;
using bench::PushedContext;
using bench::thread_cpu_ns;

void report(benchmark::State& state, const char* name, const std::vector<std::int64_t>& us) {
  state.counters[std::string("median_") + name + "_us"] = median(us);
  state.counters[std::string("max_") + name + "_us"] =
      static_cast<double>(*std::max_element(us.begin(), us.end()));
}

void BM_ClassIdleWaitCpu(benchmark::State& state) {
  const PushedContext context;
  Ref<clsWaitNDispatch> w = make_object<clsWaitNDispatch>();
  std::int64_t cpu_ns = 0;
  for (auto _ : state) {
    const std::int64_t before = thread_cpu_ns();
    w->Wait(2000);
    cpu_ns = thread_cpu_ns() - before;
  }
  state.counters["cpu_us_per_2s_wait"] = static_cast<double>(cpu_ns) / 1000.0;
}
BENCHMARK(BM_ClassIdleWaitCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ClassWaitOvershoot(benchmark::State& state) {
  const PushedContext context;
  Ref<clsWaitNDispatch> w = make_object<clsWaitNDispatch>();
  std::vector<std::int64_t> overshoot_us;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) {
      const std::int64_t start = g_get_monotonic_time();
      w->Wait(50);
      overshoot_us.push_back(g_get_monotonic_time() - start - 50'000);
    }
  }
  report(state, "overshoot", overshoot_us);
}
BENCHMARK(BM_ClassWaitOvershoot)->Iterations(1)->Unit(benchmark::kMillisecond);

struct TimerProbe {
  clsWaitNDispatch* wait = nullptr;
  std::int64_t due_us = 0;
  std::int64_t ran_us = 0;
};

gboolean record_and_cancel(gpointer data) {
  auto* probe = static_cast<TimerProbe*>(data);
  probe->ran_us = g_get_monotonic_time();
  probe->wait->Cancel();
  return G_SOURCE_REMOVE;
}

void BM_ClassDueTimerToHandler(benchmark::State& state) {
  const PushedContext context;
  Ref<clsWaitNDispatch> w = make_object<clsWaitNDispatch>();
  std::vector<std::int64_t> delay_us;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) {
      TimerProbe probe{w.get()};
      GSource* timer = g_timeout_source_new(10);
      g_source_set_callback(timer, record_and_cancel, &probe, nullptr);
      g_source_attach(timer, context.get());
      probe.due_us = g_source_get_ready_time(timer);
      w->Wait(1000);
      delay_us.push_back(probe.ran_us - probe.due_us);
      g_source_destroy(timer);
      g_source_unref(timer);
    }
  }
  report(state, "due_to_handler", delay_us);
}
BENCHMARK(BM_ClassDueTimerToHandler)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ovik

BENCHMARK_MAIN();
