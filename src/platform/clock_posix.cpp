#include "platform/clock.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

namespace ovik::platform {

namespace {

class SystemClock final : public Clock {
 public:
  std::int64_t system_time_as_file_time() override {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return kFileTimeOfUnixEpoch + static_cast<std::int64_t>(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
  }

  CivilNow local_now() override {
    const time_t now = ::time(nullptr);
    tm local{};
    // localtime_r fails only for years beyond int; UTC is then the best answer left.
    if (::localtime_r(&now, &local) == nullptr) ::gmtime_r(&now, &local);
    return CivilNow{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     std::min(local.tm_sec, 59)};
  }
};

}  // namespace

std::optional<std::int64_t> local_days_before(std::int64_t unix_seconds, int days) {
  const time_t now = static_cast<time_t>(unix_seconds);
  tm local{};
  if (::localtime_r(&now, &local) == nullptr) return std::nullopt;
  local.tm_mday -= days;
  local.tm_isdst = -1;  // the offset of that day, not of today
  errno = 0;
  const time_t back = ::mktime(&local);
  if (back == static_cast<time_t>(-1) && errno != 0) return std::nullopt;
  return static_cast<std::int64_t>(back);
}

template <>
Clock& Facility<Clock>::real() {
  static SystemClock clock;
  return clock;
}

}  // namespace ovik::platform
