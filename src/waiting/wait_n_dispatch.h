// clsWaitNDispatch: sleeps on the thread's message queue (platform/event_loop.h)
// for a number of milliseconds, dispatching whatever becomes ready meanwhile, until the deadline
// in system time passes or a handler calls Cancel; then raises OnTimer.
//
// Ownership: the wake-up event exists only from the start of a wait to the return of the OnTimer
// handlers. A wait keeps its own object alive, so a handler may drop the last outside reference.
// Whatever way a started wait leaves (time-out, Cancel, a listener raising from OnTimer), the
// object is idle again afterwards and ready for the next wait.
#pragma once

#include <cstdint>
#include <memory>

#include "ovik/events.h"
#include "ovik/object.h"
#include "ovik/waiting.h"
#include "platform/event_loop.h"

namespace ovik {

inline constexpr const char* kNotReentrantSource = "CWaitNDispatch";
inline constexpr const char* kNotReentrantDescription =
    "This function is not reentrant. If you want to wait for a second period use a new object";

// 0 for 0; otherwise -(e | 0x70000) as a 32-bit signed number (8 gives -458760).
std::int32_t ErrorNumberFromSystemError(std::int32_t system_error) noexcept;

// (end - current) / 10,000 in milliseconds, halves rounded to the even neighbour. A result beyond
// the 32-bit range (the system clock set back by weeks during a wait) is held at its limit
// instead of overflowing.
std::int32_t remaining_milliseconds(std::int64_t end_time, std::int64_t current_time) noexcept;

class clsWaitNDispatch final : public Object<clsWaitNDispatch, _clsWaitNDispatch, IConnectionPointContainer> {
 public:
  static const TypeInfo& type_info();

  clsWaitNDispatch() = default;
  ~clsWaitNDispatch() override;

  bool get_IsWaiting() override { return m_IsWaiting; }
  void Wait(std::int32_t waitMilliseconds) override;
  void Cancel() override;

  std::uint32_t Advise(const Guid& events_iid, IUnknown* listener) override;
  void Unadvise(std::uint32_t cookie) override;

 private:
  void WaitForEventOrTimeout(platform::MessageQueue& queue);
  std::int32_t remaining() const noexcept { return remaining_milliseconds(m_EndTime, m_CurrentTime); }

  bool m_IsWaiting = false;
  std::unique_ptr<platform::ManualResetEvent> m_hEvent;  // null when no wait is in progress
  std::int64_t m_CurrentTime = 0;                        // 100 ns units since 1601 (UTC)
  std::int64_t m_EndTime = 0;
  ConnectionPoint<__clsWaitNDispatch> events_;
};

}  // namespace ovik
