#include "support/fake_platform.h"

#include <ctime>

namespace ovik::testing {

void FakeClock::set(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const std::time_t t = timegm(&tm);
  file_time_ = platform::kFileTimeOfUnixEpoch + static_cast<std::int64_t>(t) * 10'000'000;
  now_ = platform::CivilNow{year, month, day, hour, minute, second};
}

void FakeClock::set_local(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  file_time_ = platform::kFileTimeOfUnixEpoch + static_cast<std::int64_t>(mktime(&tm)) * 10'000'000;
  now_ = platform::CivilNow{year, month, day, hour, minute, second};
}

void FakeClock::advance_seconds(long long seconds) {
  std::time_t t = static_cast<std::time_t>((file_time_ - platform::kFileTimeOfUnixEpoch) / 10'000'000 + seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  set(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace ovik::testing
