// Time services: the millisecond tick count every time stamp of the server uses, local calendar
// time for the log, and sleeping.
#pragma once

#include <cstdint>

namespace plat {

// Milliseconds since an arbitrary start, monotonic, wrapping every 2^32 ms (about 49.7 days).
// Differences are taken with unsigned 32-bit subtraction.
uint32_t TickCount();
// Microseconds since an arbitrary start, monotonic, for measuring short spans (the voice path).
uint64_t MonotonicMicroseconds();

struct LocalDateTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..60
  // The separators of dates and times in the system's locale settings.
  char date_separator = '/';
  char time_separator = ':';
  // Local time minus UTC, in minutes (for time stamps with an offset).
  int utc_offset_minutes = 0;
};

LocalDateTime NowLocal();
// The local time `seconds` from now.
LocalDateTime LocalAfter(uint32_t seconds);

// Milliseconds since midnight of the current UTC day: the seed of the client Id generator.
uint32_t MillisecondsSinceUtcMidnight();

void SleepMs(uint32_t milliseconds);

}  // namespace plat
