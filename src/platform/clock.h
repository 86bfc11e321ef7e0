// The system clock: the time now, as the Windows-style file time and as the local calendar time.
//
// Clock is a facility (see facility.h): the real one reads CLOCK_REALTIME, and a test installs a
// fake to move time (a clock set forward during a wait, log file names of a given day). No member
// fails or throws; any thread may call the real clock.
#pragma once

#include <cstdint>
#include <optional>

#include "ovik/export.h"
#include "platform/facility.h"

namespace ovik::platform {

// The local wall-clock time: year in full (2024), month 1-12, day 1-31, hour 0-23, minute 0-59,
// second 0-59 (a leap second reads as 59, so that every consumer can take it as a valid time).
struct CivilNow {
  int year, month, day, hour, minute, second;
};

// 100-ns units between 1601-01-01 and 1970-01-01 (UTC): the offset of file time from Unix time.
inline constexpr std::int64_t kFileTimeOfUnixEpoch = 116'444'736'000'000'000;

class OVIK_API Clock {
 public:
  virtual ~Clock() = default;
  // CLOCK_REALTIME in 100 ns units since 1601-01-01 UTC. Follows every setting of the system clock,
  // backwards included.
  virtual std::int64_t system_time_as_file_time() = 0;
  // The local time now, in the time zone of the process (TZ or /etc/localtime).
  virtual CivilNow local_now() = 0;
};

// The same local time of day `days` calendar days before the instant `unix_seconds`, in the time
// zone of the process, as Unix seconds: 30 days before 12:00 is 12:00 again, also across a change
// of summer time (then 30 x 24 hours plus or minus one). None when the date cannot be represented.
std::optional<std::int64_t> local_days_before(std::int64_t unix_seconds, int days);

template <>
Clock& Facility<Clock>::real();

}  // namespace ovik::platform
