#include "platform/event_loop.h"

#include <errno.h>
#include <glib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace ovik::platform {

// ---------------------------------------------------------------------------------------------
// ManualResetEvent

CreatedEvent ManualResetEvent::create() {
  const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return CreatedEvent{nullptr, errno != 0 ? errno : EMFILE};
  return CreatedEvent{std::unique_ptr<ManualResetEvent>(new ManualResetEvent(fd)), 0};
}

namespace {

int descriptor(const ManualResetEvent& event) { return static_cast<int>(event.native_handle()); }

}  // namespace

ManualResetEvent::~ManualResetEvent() { ::close(descriptor(*this)); }

void ManualResetEvent::set() {
  const std::uint64_t one = 1;
  // EAGAIN means the counter is at its limit: set already, which is all that matters.
  while (::write(descriptor(*this), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void ManualResetEvent::reset() {
  std::uint64_t count = 0;
  // One read empties the counter however often set() ran; EAGAIN means it was not set.
  while (::read(descriptor(*this), &count, sizeof count) < 0 && errno == EINTR) {
  }
}

bool ManualResetEvent::is_set() const {
  pollfd probe{descriptor(*this), POLLIN, 0};
  int n;
  while ((n = ::poll(&probe, 1, 0)) < 0 && errno == EINTR) {
  }
  return n > 0 && (probe.revents & POLLIN) != 0;
}

// ---------------------------------------------------------------------------------------------
// MessageQueue

namespace {

// The calling thread's default context, held for the length of one call.
class ThreadContext {
 public:
  ThreadContext() : context_(g_main_context_ref_thread_default()) {}
  ~ThreadContext() { g_main_context_unref(context_); }
  ThreadContext(const ThreadContext&) = delete;
  ThreadContext& operator=(const ThreadContext&) = delete;
  GMainContext* get() const { return context_; }

 private:
  GMainContext* context_;
};

// Ownership of the context while we poll it. GLib counts acquisitions by the owning thread, so a
// wait nested inside a dispatch (which holds the context already) acquires it once more.
class Acquisition {
 public:
  explicit Acquisition(GMainContext* context) : context_(context), owned_(g_main_context_acquire(context)) {}
  ~Acquisition() {
    if (owned_) g_main_context_release(context_);
  }
  Acquisition(const Acquisition&) = delete;
  Acquisition& operator=(const Acquisition&) = delete;
  bool owned() const { return owned_; }

 private:
  GMainContext* context_;
  bool owned_;
};

// Deadlines are on GLib's monotonic clock (the one its timers use), in microseconds; -1 is none.
std::int64_t deadline_after(std::uint32_t timeout_ms) {
  if (timeout_ms == MessageQueue::kInfinite) return -1;
  return g_get_monotonic_time() + static_cast<std::int64_t>(timeout_ms) * 1000;
}

bool passed(std::int64_t deadline) { return deadline >= 0 && g_get_monotonic_time() >= deadline; }

// Milliseconds to the deadline for poll, rounded up: rounding down would wake the thread just
// before the deadline and have it poll again and again with time-out 0 until it is reached.
gint poll_timeout_until(std::int64_t deadline) {
  if (deadline < 0) return -1;
  const std::int64_t left_us = std::max<std::int64_t>(0, deadline - g_get_monotonic_time());
  return static_cast<gint>(std::min<std::int64_t>((left_us + 999) / 1000, INT_MAX));
}

// The shorter of two poll time-outs, where a negative one is no time-out.
gint shorter(gint a, gint b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

std::uint32_t wait_for_event_alone(const ManualResetEvent& event, std::int64_t deadline) {
  for (;;) {
    GPollFD fd{descriptor(event), G_IO_IN, 0};
    if (g_poll(&fd, 1, poll_timeout_until(deadline)) > 0 && (fd.revents & G_IO_IN) != 0) {
      return MessageQueue::kWaitEvent;
    }
    if (passed(deadline)) return MessageQueue::kWaitTimeout;
  }
}

}  // namespace

CreatedEvent MessageQueue::create_event() { return ManualResetEvent::create(); }

std::uint32_t MessageQueue::msg_wait(ManualResetEvent& event, std::uint32_t timeout_ms) {
  const std::int64_t deadline = deadline_after(timeout_ms);
  const ThreadContext context;
  const Acquisition acquisition(context.get());
  if (!acquisition.owned()) return wait_for_event_alone(event, deadline);

  const GPollFunc poll = g_main_context_get_poll_func(context.get());
  // The context's descriptors, then one more slot for the event.
  std::vector<GPollFD> fds(16);
  for (;;) {
    gint max_priority = 0;
    const bool ready_already = g_main_context_prepare(context.get(), &max_priority);
    gint context_timeout = -1;
    gint count;
    while ((count = g_main_context_query(context.get(), max_priority, &context_timeout, fds.data(),
                                         static_cast<gint>(fds.size()) - 1)) >=
           static_cast<gint>(fds.size())) {
      fds.resize(static_cast<std::size_t>(count) + 1);
    }
    fds[count] = GPollFD{descriptor(event), G_IO_IN, 0};

    // Polling even when a source is ready already lets a set event win over it.
    const gint timeout = ready_already ? 0 : shorter(context_timeout, poll_timeout_until(deadline));
    if (poll(fds.data(), static_cast<guint>(count) + 1, timeout) < 0) {
      // Interrupted: nothing is known to be ready; the loop looks again.
      for (gint i = 0; i <= count; ++i) fds[i].revents = 0;
    }
    const bool event_set = (fds[count].revents & G_IO_IN) != 0;
    // Check always follows query, so that the context's own state (its wake-up descriptor among
    // it) stays consistent; it marks the ready sources but does not dispatch them.
    const bool message = g_main_context_check(context.get(), max_priority, fds.data(), count);
    if (event_set) return kWaitEvent;
    if (message) return kWaitMessage;
    if (passed(deadline)) return kWaitTimeout;
    // A wake-up with nothing ready: another thread attached a source or woke the context, or a
    // timer has not quite fallen due. Prepare again; the new poll sleeps for what is left.
  }
}

bool MessageQueue::peek_message() {
  const ThreadContext context;
  return g_main_context_pending(context.get()) != FALSE;
}

void MessageQueue::dispatch_all_messages() {
  const ThreadContext context;
  for (int round = 0; round < kDispatchRounds; ++round) {
    if (!g_main_context_iteration(context.get(), FALSE)) break;
  }
}

template <>
MessageQueue& Facility<MessageQueue>::real() {
  static MessageQueue queue;
  return queue;
}

}  // namespace ovik::platform
