// Shared pieces of the event-loop benchmarks: a pushed GLib context, CPU clocks and a median.
#pragma once

#include <glib.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ovik::bench {

// A fresh context pushed as the thread's default for the length of one benchmark.
class PushedContext {
 public:
  PushedContext() { g_main_context_push_thread_default(context_); }
  ~PushedContext() {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  PushedContext(const PushedContext&) = delete;
  PushedContext& operator=(const PushedContext&) = delete;
  GMainContext* get() const { return context_; }

 private:
  GMainContext* context_ = g_main_context_new();
};

inline std::int64_t cpu_ns(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}
inline std::int64_t process_cpu_ns() { return cpu_ns(CLOCK_PROCESS_CPUTIME_ID); }
inline std::int64_t thread_cpu_ns() { return cpu_ns(CLOCK_THREAD_CPUTIME_ID); }

inline double median(std::vector<std::int64_t> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 != 0 ? static_cast<double>(values[n / 2]) : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

}  // namespace ovik::bench
