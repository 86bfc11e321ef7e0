// The calling thread's message queue, and the manual-reset event that a wait sleeps on.
//
// On Linux the message queue is the thread-default GLib main context of the calling thread, the
// one that GTK, and Qt on Linux, run their user interface on; it is looked up afresh on every call,
// so one MessageQueue serves every thread. "A message is waiting" means a source of that context is
// ready to be dispatched: a due timer, a watched descriptor that is ready, an idle handler. When
// another thread owns the context (typically a GLib main loop running elsewhere on the global
// default context, reached from a thread that pushed no context of its own), the calling thread
// has no queue it may serve: msg_wait() waits on the event alone, peek_message() answers false and
// dispatch_all_messages() does nothing.
//
// On Windows it is the thread's own window-message queue: posted and sent messages, input, paint
// and the thread's timers (SetTimer), which every thread has and always serves itself.
//
// Only dispatch_all_messages() runs handlers (apart from what the system itself delivers while the
// queue is looked at: sent messages from other threads on Windows).
//
// MessageQueue is a facility (see facility.h). Its virtual members are the real implementation, so
// a fake overrides only what it changes. No member throws.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/facility.h"

namespace ovik::platform {

struct CreatedEvent;

// A manual-reset event: once set it stays set, for every wait, until it is reset. Owns one system
// object and closes it when destroyed: an eventfd (non-blocking, close-on-exec) on Linux, an
// unnamed manual-reset event (CreateEventW) on Windows. set() may be called from any thread, as
// long as the object outlives the call; the other members belong to the owner's thread.
class ManualResetEvent {
 public:
  // A new event, not set. On failure no event, and the system's error code (errno, or
  // GetLastError on Windows) of the failed creation.
  static CreatedEvent create();

  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void set();
  void reset();
  // True while set; waiting for it with time-out 0.
  bool is_set() const;
  // The system object, for waiting on it together with others: the eventfd (readable exactly
  // while set), or the event HANDLE on Windows.
  std::intptr_t native_handle() const { return handle_; }

 private:
  explicit ManualResetEvent(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

struct CreatedEvent {
  std::unique_ptr<ManualResetEvent> event;  // null on failure
  std::int32_t system_error = 0;            // the system's error code when `event` is null, else 0
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

  // Sleeps until `event` is set (kWaitEvent), a message becomes ready (kWaitMessage; a timer
  // falling due counts here, never as a time-out), or `timeout_ms` has passed on the monotonic
  // clock (kWaitTimeout). When several hold at once, the event wins over a message and a message
  // over the time-out. Dispatches nothing: ready messages stay for peek_message and
  // dispatch_all_messages. May be called from inside a handler that dispatch_all_messages is
  // running (a nested wait). Linux: the context stays acquired only while this call polls.
  // Windows: a quit request (WM_QUIT) waiting in the queue answers kWaitEvent, so that every wait
  // on the thread ends and the host's own message loop gets the request.
  virtual std::uint32_t msg_wait(ManualResetEvent& event, std::uint32_t timeout_ms);

  // True when a message is ready to be dispatched now. Does not block.
  virtual bool peek_message();

  // Dispatches the ready messages without blocking, for up to kDispatchRounds rounds, so that a
  // source that stays ready for ever cannot keep the call from returning; it is dispatched again
  // by the next call. Linux: GLib dispatches one priority level per iteration, so a round is one
  // iteration and lower-priority ready sources (idle handlers, redraws) run in the same call; an
  // idle handler that returns TRUE stays ready for ever. Windows: a round is one message, taken
  // out, translated and dispatched with the wide functions (the system converts for an ANSI
  // window); a window that never validates its paint area stays ready for ever. WM_QUIT is not
  // dispatched: it is posted again and ends the call, for the host's own loop.
  virtual void dispatch_all_messages();
  static constexpr int kDispatchRounds = 16;
};

template <>
MessageQueue& Facility<MessageQueue>::real();

}  // namespace ovik::platform
