// Early-bound interfaces of clsWaitNDispatch: waiting for a number of milliseconds while the
// thread's event loop keeps being dispatched, and the event raised when a wait ends.
#pragma once

#include <cstdint>
#include <string_view>

#include "ovik/export.h"
#include "ovik/unknown.h"

namespace ovik {

enum class CWaitAndDispatchErrors : std::int32_t {
  ERROR_NOT_REINTRANT = -2147220503,  // 0x800403E9: Wait entered again on the same object
};

// Outgoing interface: OnTimer (dispatch id 1) is raised once at the end of every wait that started,
// whether it timed out or was cancelled, while IsWaiting still reads True.
class OVIK_API __clsWaitNDispatch : public IUnknown {
 public:
  static constexpr Guid IID = Guid::of("A6F6A46A-41EC-4565-BC12-5E5C22E28F35");
  virtual void OnTimer() = 0;
};

// One object performs one wait at a time, on the thread that created it. Handlers dispatched
// during a wait may read IsWaiting, call Cancel, or Wait on another object.
class OVIK_API _clsWaitNDispatch : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("097138DB-A6A9-49E2-B9B8-7B4D2F865879");
  static constexpr std::string_view kTypeName = "clsWaitNDispatch";
  virtual bool get_IsWaiting() = 0;
  // Returns at once for 0. Raises ERROR_NOT_REINTRANT (source "CWaitNDispatch") while this object
  // is already waiting, and a negative system error number when no wake-up event can be made;
  // neither disturbs a wait in progress.
  virtual void Wait(std::int32_t waitMilliseconds) = 0;
  // Ends the current wait at the next turn of its loop; does nothing when no wait is running.
  virtual void Cancel() = 0;
};

}  // namespace ovik
