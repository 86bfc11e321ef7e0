#include "platform/event_loop.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace ovik::platform {
namespace {

using Callback = std::function<gboolean()>;

gboolean run_callback(gpointer data) { return (*static_cast<Callback*>(data))(); }
void delete_callback(gpointer data) { delete static_cast<Callback*>(data); }

// Attaches `source` to `context` with `callback`; the context owns both from then on.
void attach(GSource* source, GMainContext* context, Callback callback) {
  g_source_set_callback(source, run_callback, new Callback(std::move(callback)), delete_callback);
  g_source_attach(source, context);
  g_source_unref(source);
}

// The shape a caller builds on the queue: sleep, dispatch whatever woke it, until the event or the
// time-out ends it.
std::uint32_t wait_and_dispatch(MessageQueue& queue, ManualResetEvent& event, std::uint32_t timeout_ms) {
  for (;;) {
    const std::uint32_t result = queue.msg_wait(event, timeout_ms);
    if (result != MessageQueue::kWaitMessage) return result;
    if (queue.peek_message()) queue.dispatch_all_messages();
  }
}

std::unique_ptr<ManualResetEvent> new_event() {
  CreatedEvent created = ManualResetEvent::create();
  EXPECT_EQ(created.system_error, 0);
  return std::move(created.event);
}

// Sets the event after a generous delay unless dismissed first, so that a wait which misses its
// real wake-up fails with kWaitEvent instead of hanging the test.
class Watchdog {
 public:
  explicit Watchdog(ManualResetEvent& event)
      : thread_([this, &event] {
          std::unique_lock lock(mutex_);
          if (!woken_.wait_for(lock, std::chrono::seconds(10), [this] { return dismissed_; })) event.set();
        }) {}
  ~Watchdog() {
    {
      const std::lock_guard lock(mutex_);
      dismissed_ = true;
    }
    woken_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  bool dismissed_ = false;
  std::thread thread_;  // last, so that it starts after the members it uses
};

// Each test runs on a fresh context pushed as this thread's default, as a toolkit would have it.
class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { g_main_context_push_thread_default(context_); }
  void TearDown() override {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  void add_timeout(guint ms, Callback callback) {
    attach(g_timeout_source_new(ms), context_, std::move(callback));
  }
  void add_idle(Callback callback, gint priority = G_PRIORITY_DEFAULT_IDLE) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, priority);
    attach(source, context_, std::move(callback));
  }

  GMainContext* context_ = g_main_context_new();
  MessageQueue& queue_ = Facility<MessageQueue>::real();
  std::unique_ptr<ManualResetEvent> event_ = new_event();
};

TEST_F(EventLoopTest, EventStaysSetUntilReset) {
  EXPECT_FALSE(event_->is_set());
  event_->set();
  event_->set();
  EXPECT_TRUE(event_->is_set());
  // A wait does not consume a manual-reset event.
  EXPECT_EQ(queue_.msg_wait(*event_, 0), MessageQueue::kWaitEvent);
  EXPECT_EQ(queue_.msg_wait(*event_, MessageQueue::kInfinite), MessageQueue::kWaitEvent);
  EXPECT_TRUE(event_->is_set());
  // One reset clears it however often it was set.
  event_->reset();
  EXPECT_FALSE(event_->is_set());
  event_->reset();
  EXPECT_FALSE(event_->is_set());
  EXPECT_EQ(queue_.msg_wait(*event_, 0), MessageQueue::kWaitTimeout);
}

TEST_F(EventLoopTest, WhatIsReadyDecidesTheResult) {
  struct Case {
    const char* name;
    bool event_set;
    bool idle_ready;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"nothing", false, false, MessageQueue::kWaitTimeout},
      {"a ready source", false, true, MessageQueue::kWaitMessage},
      {"the event", true, false, MessageQueue::kWaitEvent},
      {"the event wins over a ready source", true, true, MessageQueue::kWaitEvent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    auto event = new_event();
    int runs = 0;
    if (c.idle_ready) attach(g_idle_source_new(), context, [&] { return ++runs, G_SOURCE_REMOVE; });
    if (c.event_set) event->set();
    EXPECT_EQ(queue_.msg_wait(*event, 0), c.expected);
    EXPECT_EQ(queue_.peek_message(), c.idle_ready);
    EXPECT_EQ(runs, 0) << "msg_wait must not dispatch";
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }
}

TEST_F(EventLoopTest, TimesOutWithNoSourcesNotBefore) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(queue_.msg_wait(*event_, 60), MessageQueue::kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_FALSE(queue_.peek_message());
}

TEST_F(EventLoopTest, DueTimerIsAMessageNotATimeOut) {
  int runs = 0;
  add_timeout(30, [&] { return ++runs, G_SOURCE_REMOVE; });
  // The timer falls due no later than the wait's own deadline.
  EXPECT_EQ(queue_.msg_wait(*event_, 30), MessageQueue::kWaitMessage);
  EXPECT_EQ(runs, 0);
  ASSERT_TRUE(queue_.peek_message());
  queue_.dispatch_all_messages();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(queue_.peek_message());

  // With no time-out of its own, only the timer can end the wait.
  add_timeout(20, [&] { return ++runs, G_SOURCE_REMOVE; });
  const Watchdog watchdog(*event_);
  EXPECT_EQ(queue_.msg_wait(*event_, MessageQueue::kInfinite), MessageQueue::kWaitMessage);
}

TEST_F(EventLoopTest, HandlerThatSetsTheEventEndsTheWait) {
  int ticks = 0;
  add_timeout(5, [&] {
    if (++ticks == 3) event_->set();
    return G_SOURCE_CONTINUE;
  });
  EXPECT_EQ(wait_and_dispatch(queue_, *event_, 10'000), MessageQueue::kWaitEvent);
  EXPECT_EQ(ticks, 3);
}

TEST_F(EventLoopTest, NestedWaitInsideAHandler) {
  std::vector<std::string> trace;
  int depth = 0;
  int max_depth = 0;
  // A repeating source, so the nested wait would re-enter it if the context did not hold it back.
  add_timeout(5, [&] {
    max_depth = std::max(max_depth, ++depth);
    trace.push_back("outer begins");
    auto inner = new_event();
    add_timeout(10, [&] {
      trace.push_back("inner handler");
      inner->set();
      return G_SOURCE_REMOVE;
    });
    EXPECT_EQ(wait_and_dispatch(queue_, *inner, 10'000), MessageQueue::kWaitEvent);
    // And a nested wait that times out.
    EXPECT_EQ(queue_.msg_wait(*inner, 0), MessageQueue::kWaitEvent);
    inner->reset();
    EXPECT_EQ(queue_.msg_wait(*inner, 1), MessageQueue::kWaitTimeout);
    trace.push_back("outer ends");
    event_->set();
    --depth;
    return G_SOURCE_CONTINUE;
  });
  EXPECT_EQ(wait_and_dispatch(queue_, *event_, 10'000), MessageQueue::kWaitEvent);
  EXPECT_EQ(trace, (std::vector<std::string>{"outer begins", "inner handler", "outer ends"}));
  EXPECT_EQ(max_depth, 1);
  // The context was released properly: a plain GLib iteration can still run it afterwards.
  int later = 0;
  add_idle([&] { return ++later, G_SOURCE_REMOVE; });
  EXPECT_TRUE(g_main_context_iteration(context_, FALSE));
  EXPECT_EQ(later, 1);
}

TEST_F(EventLoopTest, OtherThreadsWakeTheWait) {
  {
    std::thread setter([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      event_->set();
    });
    EXPECT_EQ(queue_.msg_wait(*event_, MessageQueue::kInfinite), MessageQueue::kWaitEvent);
    setter.join();
  }
  event_->reset();
  {
    // A source attached from elsewhere wakes the context's own descriptor.
    std::thread attacher([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      attach(g_idle_source_new(), context_, [] { return G_SOURCE_REMOVE; });
    });
    EXPECT_EQ(queue_.msg_wait(*event_, 10'000), MessageQueue::kWaitMessage);
    attacher.join();
  }
}

TEST_F(EventLoopTest, DispatchAllRunsEveryPriorityAndReturnsDespiteAnEndlessIdle) {
  int timer_runs = 0, idle_runs = 0, endless_runs = 0;
  add_timeout(0, [&] { return ++timer_runs, G_SOURCE_REMOVE; });
  add_idle([&] { return ++idle_runs, G_SOURCE_REMOVE; });
  add_idle([&] { return ++endless_runs, G_SOURCE_CONTINUE; }, G_PRIORITY_LOW);
  ASSERT_EQ(queue_.msg_wait(*event_, 1000), MessageQueue::kWaitMessage);
  queue_.dispatch_all_messages();
  EXPECT_EQ(timer_runs, 1);
  EXPECT_EQ(idle_runs, 1);
  EXPECT_GE(endless_runs, 1);
  EXPECT_LE(endless_runs, MessageQueue::kDispatchRounds);
  // It stays ready, so the next wait reports it at once.
  EXPECT_EQ(queue_.msg_wait(*event_, 10'000), MessageQueue::kWaitMessage);
}

TEST_F(EventLoopTest, ContextOwnedByAnotherThreadLeavesOnlyTheEvent) {
  // A thread without a context of its own falls back to the global default, which this thread
  // now holds as a running loop would.
  GMainContext* global = g_main_context_default();
  ASSERT_TRUE(g_main_context_acquire(global));
  GSource* idle = g_idle_source_new();
  g_source_attach(idle, global);
  std::uint32_t timed_out = 0, woken = 0;
  bool pending = true;
  std::thread worker([&] {
    auto event = new_event();
    timed_out = queue_.msg_wait(*event, 20);
    pending = queue_.peek_message();
    queue_.dispatch_all_messages();
    event->set();
    woken = queue_.msg_wait(*event, MessageQueue::kInfinite);
  });
  worker.join();
  g_source_destroy(idle);
  g_source_unref(idle);
  g_main_context_release(global);
  EXPECT_EQ(timed_out, MessageQueue::kWaitTimeout);
  EXPECT_FALSE(pending);
  EXPECT_EQ(woken, MessageQueue::kWaitEvent);
}

TEST(ClockTest, FileTimeCountsFrom1601) {
  Clock& clock = Facility<Clock>::real();
  const std::int64_t before = std::time(nullptr);
  const std::int64_t file_time = clock.system_time_as_file_time();
  const std::int64_t after = std::time(nullptr);
  // 11,644,473,600 seconds lie between 1601-01-01 and 1970-01-01.
  const std::int64_t unix_seconds = file_time / 10'000'000 - 11'644'473'600;
  EXPECT_GE(unix_seconds, before);
  EXPECT_LE(unix_seconds, after);
}

}  // namespace
}  // namespace ovik::platform
