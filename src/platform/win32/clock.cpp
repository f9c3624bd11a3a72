#include "platform/clock.h"

#include <windows.h>

namespace plat {
namespace {

// The locale's one-character separator `type` (LOCALE_SDATE, LOCALE_STIME), or `fallback` when
// the setting is missing or longer than one character.
char LocaleSeparator(LCTYPE type, char fallback) {
  char text[8] = {};
  int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text);
  // The length counts the terminating zero.
  return length == 2 ? text[0] : fallback;
}

}  // namespace

uint64_t MonotonicMilliseconds() {
  return GetTickCount64();
}

uint32_t TickCount() {
  return static_cast<uint32_t>(GetTickCount64());
}

uint64_t MonotonicMicroseconds() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return static_cast<uint64_t>(value.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
  return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

LocalDateTime NowLocal() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalDateTime result{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  result.date_separator = LocaleSeparator(LOCALE_SDATE, '/');
  result.time_separator = LocaleSeparator(LOCALE_STIME, ':');
  TIME_ZONE_INFORMATION zone{};
  DWORD zone_state = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (zone_state == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (zone_state == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  result.utc_offset_minutes = static_cast<int>(-bias);
  return result;
}

LocalDateTime LocalAfter(uint32_t seconds) {
  LocalDateTime now = NowLocal();
  if (seconds == 0) return now;
  FILETIME utc;
  GetSystemTimeAsFileTime(&utc);
  ULARGE_INTEGER value;
  value.LowPart = utc.dwLowDateTime;
  value.HighPart = utc.dwHighDateTime;
  value.QuadPart += static_cast<ULONGLONG>(seconds) * 10000000ULL;  // 100 ns units
  utc.dwLowDateTime = value.LowPart;
  utc.dwHighDateTime = value.HighPart;
  FILETIME local;
  SYSTEMTIME parts;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &parts)) return now;
  LocalDateTime result = now;
  result.year = parts.wYear;
  result.month = parts.wMonth;
  result.day = parts.wDay;
  result.hour = parts.wHour;
  result.minute = parts.wMinute;
  result.second = parts.wSecond;
  return result;
}

void SleepMs(uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace plat
