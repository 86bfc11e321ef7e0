#include "platform/clock.h"

#include <time.h>

#include <algorithm>

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

template <>
Clock& Facility<Clock>::real() {
  static SystemClock clock;
  return clock;
}

}  // namespace ovik::platform
