// What sleeping in the thread's message queue costs: the CPU an idle wait burns, how far a wait
// overshoots its time-out, and how late a due GLib timer is reported. Each benchmark runs once and
// reports its figures as counters.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "glib_bench_support.h"
#include "platform/event_loop.h"

namespace ovik::platform {
namespace {

using bench::median;
using bench::PushedContext;
using bench::process_cpu_ns;

void BM_IdleWaitCpu(benchmark::State& state) {
  const PushedContext context;
  MessageQueue& queue = Facility<MessageQueue>::real();
  auto event = queue.create_event().event;
  std::int64_t cpu_ns = 0;
  for (auto _ : state) {
    const std::int64_t before = process_cpu_ns();
    benchmark::DoNotOptimize(queue.msg_wait(*event, 2000));
    cpu_ns = process_cpu_ns() - before;
  }
  state.counters["cpu_us_per_2s_wait"] = static_cast<double>(cpu_ns) / 1000.0;
}
BENCHMARK(BM_IdleWaitCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_WaitOvershoot(benchmark::State& state) {
  const PushedContext context;
  MessageQueue& queue = Facility<MessageQueue>::real();
  auto event = queue.create_event().event;
  std::vector<std::int64_t> overshoot_us;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) {
      const std::int64_t start = g_get_monotonic_time();
      benchmark::DoNotOptimize(queue.msg_wait(*event, 50));
      overshoot_us.push_back(g_get_monotonic_time() - start - 50'000);
    }
  }
  state.counters["median_overshoot_us"] = median(overshoot_us);
  state.counters["max_overshoot_us"] =
      static_cast<double>(*std::max_element(overshoot_us.begin(), overshoot_us.end()));
}
BENCHMARK(BM_WaitOvershoot)->Iterations(1)->Unit(benchmark::kMillisecond);

gboolean remove_source(gpointer) { return G_SOURCE_REMOVE; }

void BM_DueTimerLatency(benchmark::State& state) {
  const PushedContext context;
  MessageQueue& queue = Facility<MessageQueue>::real();
  auto event = queue.create_event().event;
  std::vector<std::int64_t> latency_us;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) {
      GSource* timer = g_timeout_source_new(10);
      g_source_set_callback(timer, remove_source, nullptr, nullptr);
      g_source_attach(timer, context.get());
      const std::int64_t due = g_source_get_ready_time(timer);
      benchmark::DoNotOptimize(queue.msg_wait(*event, 1000));
      latency_us.push_back(g_get_monotonic_time() - due);
      queue.dispatch_all_messages();
      g_source_unref(timer);
    }
  }
  state.counters["median_latency_us"] = median(latency_us);
  state.counters["max_latency_us"] =
      static_cast<double>(*std::max_element(latency_us.begin(), latency_us.end()));
}
BENCHMARK(BM_DueTimerLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ovik::platform

BENCHMARK_MAIN();
