#include "waiting/wait_n_dispatch.h"

#include <errno.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "ovik/component.h"
#include "ovik/events.h"
#include "platform/clock.h"
#include "platform/event_loop.h"

namespace ovik {
namespace {

using platform::Facility;
using platform::ManualResetEvent;
using platform::MessageQueue;
using platform::ScopedFake;

constexpr std::int32_t kNotReentrant = static_cast<std::int32_t>(CWaitAndDispatchErrors::ERROR_NOT_REINTRANT);
constexpr std::int64_t kTicksPerMs = 10'000;
// Long enough that a wait which is not ended by the test's own handler shows as a hung test.
constexpr std::int32_t kLongWait = 60'000;

class TimerCounter final : public Listener<TimerCounter, __clsWaitNDispatch> {
 public:
  void OnTimer() override {
    ++count;
    if (on_timer) on_timer();
  }
  int count = 0;
  std::function<void()> on_timer;
};

struct Waiter {
  Ref<clsWaitNDispatch> object = make_object<clsWaitNDispatch>();
  Ref<TimerCounter> timers = make_object<TimerCounter>();
  Waiter() { object->Advise(__clsWaitNDispatch::IID, timers.get()); }
};

// A clock that moves only when the test moves it.
class FakeClock final : public platform::Clock {
 public:
  std::int64_t system_time_as_file_time() override { return now; }
  platform::CivilNow local_now() override { return {2024, 1, 1, 0, 0, 0}; }
  void advance_ms(double ms) { now += static_cast<std::int64_t>(ms * kTicksPerMs); }
  std::int64_t now = platform::kFileTimeOfUnixEpoch + 1'700'000'000LL * 10'000'000;
};

// ---------------------------------------------------------------------------------------------
// Pure helpers

TEST(WaitNDispatchHelpers, ErrorNumberFromSystemError) {
  const struct {
    std::int32_t system_error;
    std::int32_t expected;
  } cases[] = {
      {0, 0},
      {8, -458760},  // hexadecimal FFF8FFF8
      {EMFILE, -(EMFILE | 0x70000)},
      {0x70000, -0x70000},
      {static_cast<std::int32_t>(0x80000000u), 0x7FF90000},  // wraps as 32-bit arithmetic does
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorNumberFromSystemError(c.system_error), c.expected) << c.system_error;
}

TEST(WaitNDispatchHelpers, RemainingTimeRoundsHalfToEven) {
  const std::int64_t base = 130'000'000'000'000'000;
  const struct {
    std::int64_t ticks;
    std::int32_t expected;
  } cases[] = {
      {0, 0},
      {5'000, 0},
      {15'000, 2},
      {25'000, 2},
      {35'000, 4},
      {14'999, 1},
      {15'001, 2},
      {-5'000, 0},
      {-15'000, -2},
      {-25'000, -2},
      {-14'999, -1},
      {-15'001, -2},
      {500'000'000, 50'000},
      {std::numeric_limits<std::int32_t>::max() * kTicksPerMs * 2, std::numeric_limits<std::int32_t>::max()},
      {std::numeric_limits<std::int32_t>::min() * kTicksPerMs * 2, std::numeric_limits<std::int32_t>::min()},
  };
  for (const auto& c : cases) EXPECT_EQ(remaining_milliseconds(base + c.ticks, base), c.expected) << c.ticks;
}

// ---------------------------------------------------------------------------------------------
// The loop step by step, on a scripted queue and a fake clock

class ScriptedQueue final : public MessageQueue {
 public:
  struct Turn {
    std::uint32_t result = kWaitMessage;
    bool pending = true;
    std::function<void()> on_dispatch;
  };
  static Turn nothing_pending() {
    Turn t;
    t.pending = false;
    return t;
  }
  static Turn dispatching(std::function<void()> handlers = {}) {
    Turn t;
    t.on_dispatch = std::move(handlers);
    return t;
  }

  std::uint32_t msg_wait(ManualResetEvent& event, std::uint32_t timeout_ms) override {
    timeouts.push_back(timeout_ms);
    // A set event wins, as on the real queue; an exhausted script times out so no test hangs.
    if (event.is_set()) return kWaitEvent;
    if (turns.empty()) return kWaitTimeout;
    current = std::move(turns.front());
    turns.pop_front();
    return current.result;
  }
  bool peek_message() override { return current.pending; }
  void dispatch_all_messages() override {
    ++dispatches;
    if (current.on_dispatch) current.on_dispatch();
  }

  std::deque<Turn> turns;
  Turn current;
  std::vector<std::uint32_t> timeouts;
  int dispatches = 0;
};

class WaitLoopTest : public ::testing::Test {
 protected:
  ScriptedQueue queue_;
  FakeClock clock_;
  ScopedFake<MessageQueue> queue_fake_{queue_};
  ScopedFake<platform::Clock> clock_fake_{clock_};
  Waiter w_;
};

TEST_F(WaitLoopTest, RemainingTimeIsRecomputedOnlyAfterADispatch) {
  queue_.turns = {
      ScriptedQueue::nothing_pending(),                             // nothing to dispatch
      ScriptedQueue::dispatching([&] { clock_.advance_ms(300); }),  // handlers took 300 ms
      ScriptedQueue::dispatching([&] { clock_.advance_ms(0.5); }),  // 699.5 rounds to 700
      ScriptedQueue::dispatching([&] { clock_.advance_ms(0.4); }),  // 699.1
      ScriptedQueue::dispatching([&] { clock_.advance_ms(700); }),  // past the deadline
  };
  w_.object->Wait(1000);
  EXPECT_EQ(queue_.timeouts, (std::vector<std::uint32_t>{1000, 1000, 700, 700, 699, 0}));
  EXPECT_EQ(queue_.dispatches, 4);
  EXPECT_EQ(w_.timers->count, 1);
  EXPECT_FALSE(w_.object->get_IsWaiting());
}

TEST_F(WaitLoopTest, FirstPlatformWaitGetsTheValueReadAsUnsigned) {
  const struct {
    std::int32_t ms;
    std::uint32_t first_timeout;
  } cases[] = {
      {1, 1},
      {500, 500},
      {-1, MessageQueue::kInfinite},
      {-5, 4294967291u},
      {std::numeric_limits<std::int32_t>::min(), 0x80000000u},
      {std::numeric_limits<std::int32_t>::max(), 0x7FFFFFFFu},
  };
  for (const auto& c : cases) {
    queue_.timeouts.clear();
    w_.object->Wait(c.ms);
    ASSERT_EQ(queue_.timeouts.size(), 1u) << c.ms;
    EXPECT_EQ(queue_.timeouts[0], c.first_timeout) << c.ms;
  }
  EXPECT_EQ(w_.timers->count, 6);
}

TEST_F(WaitLoopTest, NegativeWaitEndsAtTheFirstDispatch) {
  queue_.turns = {ScriptedQueue::nothing_pending(), ScriptedQueue::dispatching()};
  w_.object->Wait(-1);
  // The remaining time after the dispatch is 0 or less: the event is set and the loop ends.
  EXPECT_EQ(queue_.timeouts,
            (std::vector<std::uint32_t>{MessageQueue::kInfinite, MessageQueue::kInfinite, 0}));
  EXPECT_EQ(w_.timers->count, 1);
}

TEST_F(WaitLoopTest, ZeroReturnsAtOnceAndCancelWhileIdleIsForgotten) {
  w_.object->Cancel();
  w_.object->Wait(0);
  EXPECT_TRUE(queue_.timeouts.empty());
  EXPECT_EQ(w_.timers->count, 0);
  EXPECT_FALSE(w_.object->get_IsWaiting());

  // The earlier Cancel does not end the next wait: it runs until its own time-out.
  queue_.turns = {ScriptedQueue::nothing_pending()};
  w_.object->Wait(40);
  EXPECT_EQ(queue_.timeouts, (std::vector<std::uint32_t>{40, 40}));
  EXPECT_EQ(w_.timers->count, 1);
}

TEST_F(WaitLoopTest, EventCreationFailureRaisesTheSystemErrorAndNoTimer) {
  struct NoEvents final : public MessageQueue {
    platform::CreatedEvent create_event() override { return {nullptr, EMFILE}; }
  } failing;
  {
    ScopedFake<MessageQueue> fake(failing);
    try {
      w_.object->Wait(100);
      FAIL() << "Wait succeeded without an event";
    } catch (const RaisedError& e) {
      EXPECT_EQ(e.number(), ErrorNumberFromSystemError(EMFILE));
      EXPECT_EQ(e.source(), "");
      EXPECT_EQ(e.description(), "");
    }
    EXPECT_EQ(w_.timers->count, 0);
    // Nothing was waited for, so the object is idle rather than stuck refusing every later wait.
    EXPECT_FALSE(w_.object->get_IsWaiting());
  }
  w_.object->Wait(10);
  EXPECT_EQ(w_.timers->count, 1);
}

TEST_F(WaitLoopTest, EveryListenerHearsOnTimerOnceWhileStillWaiting) {
  std::vector<std::string> heard;
  w_.timers->on_timer = [&] { heard.push_back(w_.object->get_IsWaiting() ? "early:waiting" : "early:idle"); };
  Ref<TimerCounter> second = make_object<TimerCounter>();
  second->on_timer = [&] { heard.push_back("second"); };
  w_.object->Advise(__clsWaitNDispatch::IID, second.get());
  Ref<IDispatch> late = CallbackListener::make([&](std::int32_t dispid, std::span<Variant> args) {
    heard.push_back("late:" + std::to_string(dispid) + ":" + std::to_string(args.size()) +
                    (w_.object->get_IsWaiting() ? ":waiting" : ":idle"));
  });
  const std::uint32_t cookie = w_.object->Advise(__clsWaitNDispatch::IID, late.get());

  w_.object->Wait(5);
  EXPECT_EQ(heard, (std::vector<std::string>{"early:waiting", "second", "late:1:0:waiting"}));

  heard.clear();
  w_.object->Unadvise(cookie);
  w_.object->Wait(5);
  EXPECT_EQ(heard, (std::vector<std::string>{"early:waiting", "second"}));

  EXPECT_THROW(w_.object->Advise(IDispatch::IID, late.get()), RaisedError);
}

TEST_F(WaitLoopTest, OnTimerRefusesAWaitOnItsOwnObjectButNotAZeroWait) {
  std::vector<std::int32_t> refusals;
  w_.timers->on_timer = [&] {
    w_.object->Wait(0);  // the zero test comes first: no refusal
    try {
      w_.object->Wait(10);
    } catch (const RaisedError& e) {
      refusals.push_back(e.number());
      EXPECT_EQ(e.source(), "CWaitNDispatch");
      EXPECT_EQ(e.description(),
                "This function is not reentrant. If you want to wait for a second period use a new object");
    }
  };
  w_.object->Wait(10);
  EXPECT_EQ(refusals, std::vector<std::int32_t>{kNotReentrant});
  EXPECT_EQ(w_.timers->count, 1);
  EXPECT_FALSE(w_.object->get_IsWaiting());
}

TEST_F(WaitLoopTest, AListenerThatRaisesLeavesTheObjectIdle) {
  w_.timers->on_timer = [] { throw RaisedError(60000, "listener", "failed"); };
  EXPECT_THROW(w_.object->Wait(10), RaisedError);
  EXPECT_FALSE(w_.object->get_IsWaiting());
  w_.timers->on_timer = nullptr;
  w_.object->Wait(10);
  EXPECT_EQ(w_.timers->count, 2);
}

TEST_F(WaitLoopTest, LateBoundCallsCarryTheSameErrorTriple) {
  Ref<IDispatch> object = create_object("OvikEnvironment.clsWaitNDispatch");
  auto call = [&](const char* name, InvokeKind kind, std::vector<Variant> args = {}) {
    return object->Invoke(object->GetIDOfName(name), kind, args);
  };
  queue_.turns = {ScriptedQueue::dispatching([&] {
    EXPECT_TRUE(call("IsWaiting", InvokeKind::PropertyGet).to_bool());
    try {
      call("Wait", InvokeKind::Method, {Variant(std::int32_t{5})});
      ADD_FAILURE() << "nested Wait was not refused";
    } catch (const RaisedError& e) {
      EXPECT_EQ(e.number(), kNotReentrant);
      EXPECT_EQ(e.source(), "CWaitNDispatch");
    }
    call("Cancel", InvokeKind::Method);
  })};
  call("Wait", InvokeKind::Method, {Variant(std::int32_t{kLongWait})});
  EXPECT_EQ(queue_.dispatches, 1);
  EXPECT_FALSE(call("IsWaiting", InvokeKind::PropertyGet).to_bool());
}

// ---------------------------------------------------------------------------------------------
// Real GLib sources on a fresh context pushed as the thread's default, as a toolkit has it

using Callback = std::function<gboolean()>;
gboolean run_callback(gpointer data) { return (*static_cast<Callback*>(data))(); }
void delete_callback(gpointer data) { delete static_cast<Callback*>(data); }

class WaitGlibTest : public ::testing::Test {
 protected:
  void SetUp() override { g_main_context_push_thread_default(context_); }
  void TearDown() override {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  void attach(GSource* source, Callback callback) {
    g_source_set_callback(source, run_callback, new Callback(std::move(callback)), delete_callback);
    g_source_attach(source, context_);
    g_source_unref(source);
  }
  void add_timeout(guint ms, Callback callback) { attach(g_timeout_source_new(ms), std::move(callback)); }
  void add_idle(Callback callback) { attach(g_idle_source_new(), std::move(callback)); }

  GMainContext* context_ = g_main_context_new();
  Waiter w_;
};

TEST_F(WaitGlibTest, TimerHandlersRunDuringTheWaitAndOneCancelsIt) {
  int ticks = 0;
  bool waiting_seen = true;
  add_timeout(2, [&]() -> gboolean {
    ++ticks;
    waiting_seen = waiting_seen && w_.object->get_IsWaiting();
    if (ticks < 3) return G_SOURCE_CONTINUE;
    w_.object->Cancel();
    return G_SOURCE_REMOVE;
  });
  w_.object->Wait(kLongWait);
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(waiting_seen);
  EXPECT_EQ(w_.timers->count, 1);
  EXPECT_FALSE(w_.object->get_IsWaiting());
}

TEST_F(WaitGlibTest, IdleHandlerCanCancel) {
  add_idle([&]() -> gboolean {
    w_.object->Cancel();
    return G_SOURCE_REMOVE;
  });
  w_.object->Wait(kLongWait);
  EXPECT_EQ(w_.timers->count, 1);
}

TEST_F(WaitGlibTest, ShortWaitTimesOutWithNoSources) {
  w_.object->Wait(20);
  EXPECT_EQ(w_.timers->count, 1);
  EXPECT_FALSE(w_.object->get_IsWaiting());
}

TEST_F(WaitGlibTest, NestedWaitOnAnotherObjectRunsToItsEndInsideTheHandler) {
  Waiter inner;
  std::vector<std::string> order;
  inner.timers->on_timer = [&] { order.push_back("inner OnTimer"); };
  w_.timers->on_timer = [&] { order.push_back("outer OnTimer"); };
  add_timeout(1, [&]() -> gboolean {
    order.push_back("handler starts");
    inner.object->Wait(100);
    order.push_back(std::string("handler ends, outer ") + (w_.object->get_IsWaiting() ? "waiting" : "idle"));
    w_.object->Cancel();
    return G_SOURCE_REMOVE;
  });
  // Sources keep being dispatched inside the nested wait.
  add_timeout(5, [&]() -> gboolean {
    order.push_back(std::string("tick inside inner: ") + (inner.object->get_IsWaiting() ? "yes" : "no"));
    return G_SOURCE_REMOVE;
  });
  w_.object->Wait(kLongWait);
  EXPECT_EQ(order, (std::vector<std::string>{"handler starts", "tick inside inner: yes", "inner OnTimer",
                                             "handler ends, outer waiting", "outer OnTimer"}));
}

TEST_F(WaitGlibTest, NestedWaitOnTheSameObjectIsRefusedAndTheOuterGoesOn) {
  std::vector<std::int32_t> refusals;
  add_idle([&]() -> gboolean {
    w_.object->Wait(0);  // returns at once even while waiting
    try {
      w_.object->Wait(10);
    } catch (const RaisedError& e) {
      refusals.push_back(e.number());
    }
    return G_SOURCE_REMOVE;
  });
  bool still_waiting = false;
  add_timeout(5, [&]() -> gboolean {
    still_waiting = w_.object->get_IsWaiting();
    w_.object->Cancel();
    return G_SOURCE_REMOVE;
  });
  w_.object->Wait(kLongWait);
  EXPECT_EQ(refusals, std::vector<std::int32_t>{kNotReentrant});
  EXPECT_TRUE(still_waiting);
  EXPECT_EQ(w_.timers->count, 1);
}

TEST_F(WaitGlibTest, DeadlinePassedInsideAHandlerEndsTheWaitWhenItReturns) {
  int runs = 0;
  // Each run outlasts the whole wait and the timer is due again long before the next one could
  // time out, so only the deadline check after the dispatch can end this wait.
  add_timeout(5, [&]() -> gboolean {
    ++runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return G_SOURCE_CONTINUE;
  });
  w_.object->Wait(10);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(w_.timers->count, 1);
}

TEST_F(WaitGlibTest, ClockSetForwardEndsTheWaitAtTheNextDispatch) {
  FakeClock clock;
  ScopedFake<platform::Clock> fake(clock);
  int ticks = 0;
  add_timeout(5, [&]() -> gboolean {
    if (++ticks == 2) clock.advance_ms(kLongWait + 1);  // the system clock jumps past the deadline
    return G_SOURCE_CONTINUE;
  });
  w_.object->Wait(kLongWait);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(w_.timers->count, 1);
}

TEST_F(WaitGlibTest, HandlerMayDropTheLastReferenceDuringTheWait) {
  Ref<_clsWaitNDispatch> object = make_object<clsWaitNDispatch>();
  _clsWaitNDispatch* raw = object.get();
  add_idle([&]() -> gboolean {
    object->Cancel();
    object.reset();
    return G_SOURCE_REMOVE;
  });
  raw->Wait(kLongWait);
  EXPECT_FALSE(object);
}

}  // namespace
}  // namespace ovik
