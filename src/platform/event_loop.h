// The calling thread's message queue, and the manual-reset event that a wait sleeps on.
//
// The message queue is the thread-default GLib main context of the calling thread, the one that
// GTK, and Qt on Linux, run their user interface on; it is looked up afresh on every call, so one
// MessageQueue serves every thread. "A message is waiting" means a source of that context is ready
// to be dispatched: a due timer, a watched descriptor that is ready, an idle handler. Only
// dispatch_all_messages() runs handlers.
//
// When another thread owns the context (typically a GLib main loop running elsewhere on the global
// default context, reached from a thread that pushed no context of its own), the calling thread
// has no queue it may serve: msg_wait() waits on the event alone, peek_message() answers false and
// dispatch_all_messages() does nothing.
//
// MessageQueue is a facility (see facility.h). Its virtual members are the real implementation, so
// a fake overrides only what it changes. No member throws.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/facility.h"

namespace ovik::platform {

struct CreatedEvent;

// A manual-reset event: once set it stays set, for every wait, until it is reset. Owns one eventfd
// (non-blocking, close-on-exec) and closes it when destroyed. set() may be called from any thread,
// as long as the object outlives the call; the other members belong to the owner's thread.
class ManualResetEvent {
 public:
  // A new event, not set. On failure no event, and the errno of the failed eventfd call.
  static CreatedEvent create();

  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void set();
  void reset();
  // True while set; waiting for it with time-out 0.
  bool is_set() const;
  // Readable exactly while set; for polling together with other descriptors.
  int descriptor() const { return fd_; }

 private:
  explicit ManualResetEvent(int fd) : fd_(fd) {}
  int fd_;
};

struct CreatedEvent {
  std::unique_ptr<ManualResetEvent> event;  // null on failure
  std::int32_t system_error = 0;            // errno when `event` is null, 0 otherwise
};

class MessageQueue {
 public:
  // Results of msg_wait, and its time-out meaning "no time-out".
  static constexpr std::uint32_t kWaitEvent = 0;
  static constexpr std::uint32_t kWaitMessage = 1;
  static constexpr std::uint32_t kWaitTimeout = 0x102;
  static constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

  virtual ~MessageQueue() = default;

  // ManualResetEvent::create, behind the facility so that a test can make creation fail.
  virtual CreatedEvent create_event();

  // Sleeps until `event` is set (kWaitEvent), a source of the thread's context becomes ready
  // (kWaitMessage; a timer falling due counts here, never as a time-out), or `timeout_ms` has
  // passed on the monotonic clock (kWaitTimeout). When several hold at once, the event wins over a
  // message and a message over the time-out. Dispatches nothing: the ready sources stay ready for
  // peek_message and dispatch_all_messages. May be called from inside a handler that
  // dispatch_all_messages is running (a nested wait); the context stays acquired only while this
  // call polls.
  virtual std::uint32_t msg_wait(ManualResetEvent& event, std::uint32_t timeout_ms);

  // True when a source of the thread's context is ready to be dispatched now. Does not block.
  virtual bool peek_message();

  // Dispatches the ready sources of the thread's context without blocking. GLib dispatches one
  // priority level per iteration, so this iterates again while something was dispatched, for up
  // to kDispatchRounds iterations: lower-priority ready sources (idle handlers, redraws) run in
  // the same call, while a source that stays ready for ever (an idle handler that returns TRUE)
  // cannot keep the call from returning; it is dispatched again by the next call.
  virtual void dispatch_all_messages();
  static constexpr int kDispatchRounds = 16;
};

template <>
MessageQueue& Facility<MessageQueue>::real();

}  // namespace ovik::platform
