#include "platform/clock.h"

#include <time.h>

namespace plat {

uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint32_t TickCount() {
  return static_cast<uint32_t>(MonotonicMilliseconds());
}

uint64_t MonotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

LocalDateTime NowLocal() {
  return LocalAfter(0);
}

LocalDateTime LocalAfter(uint32_t seconds) {
  time_t now = time(nullptr) + static_cast<time_t>(seconds);
  tm parts{};
  localtime_r(&now, &parts);
  LocalDateTime result{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                       parts.tm_hour,        parts.tm_min,     parts.tm_sec};
  result.utc_offset_minutes = static_cast<int>(parts.tm_gmtoff / 60);
  return result;
}

void SleepMs(uint32_t milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0) {
  }
}

}  // namespace plat
