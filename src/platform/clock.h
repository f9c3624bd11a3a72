// Time services: the millisecond tick count every time stamp of the server uses, local calendar
// time for the log, and sleeping.
#pragma once

#include <cstdint>

namespace plat {

// Milliseconds since an arbitrary start, monotonic, wrapping every 2^32 ms (about 49.7 days).
// Differences are taken with unsigned 32-bit subtraction.
uint32_t TickCount();
// The same milliseconds on 64 bits, which do not wrap in the life of a server; TickCount is
// their low 32 bits.
uint64_t MonotonicMilliseconds();
// Microseconds since an arbitrary start, monotonic, for measuring short spans (the voice path).
uint64_t MonotonicMicroseconds();
// Seconds since 1970 (UTC): calendar time, for ends that must outlive the process (bans kept
// in the configuration file).
int64_t UnixTimeSeconds();

// What is left of a time limit of `timeout_ms` that started at tick count `started`; never
// below 0.
int RemainingMs(uint32_t started, int timeout_ms);

// The time source of the server (login deadlines, pings, bans, uptime, the web poster's
// period), so that a test can run a server on a clock it moves itself. Thread-safe.
class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds on 64 bits. What the server keeps for longer than the tick count's
  // half range of 24.9 days can tell apart (bans, failure counts, quarantines, rate limits) is
  // timed with these.
  virtual uint64_t MonotonicMs() const = 0;
  // The tick count: the low 32 bits of MonotonicMs, wrapping as TickCount does.
  uint32_t Now() const { return static_cast<uint32_t>(MonotonicMs()); }
  // Seconds since 1970 (UTC), moving with Now.
  virtual int64_t UnixSeconds() const = 0;
  // The longest a wait for a deadline on this clock may last before it reads the clock again;
  // negative: until the deadline. A clock that jumps (a test's) keeps such waits short.
  virtual int MaxWaitMs() const { return -1; }
};

// The system's clock: TickCount and UnixTimeSeconds.
const Clock& SystemClock();

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

void SleepMs(uint32_t milliseconds);

}  // namespace plat
