#include <windows.h>

#include <time.h>

#include "platform/clock.h"

namespace ovik::platform {

namespace {

class SystemClock final : public Clock {
 public:
  std::int64_t system_time_as_file_time() override {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                     now.dwLowDateTime);
  }

  CivilNow local_now() override {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    return CivilNow{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
  }
};

}  // namespace

std::optional<std::int64_t> local_days_before(std::int64_t unix_seconds, int days) {
  const __time64_t now = unix_seconds;
  tm local{};
  if (::_localtime64_s(&local, &now) != 0) return std::nullopt;
  local.tm_mday -= days;
  local.tm_isdst = -1;  // the offset of that day, not of today
  const __time64_t back = ::_mktime64(&local);
  if (back == -1) return std::nullopt;
  return static_cast<std::int64_t>(back);
}

template <>
Clock& Facility<Clock>::real() {
  static SystemClock clock;
  return clock;
}

}  // namespace ovik::platform
