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

uint32_t TickCount() {
  return GetTickCount();
}

LocalDateTime NowLocal() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalDateTime result{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  result.date_separator = LocaleSeparator(LOCALE_SDATE, '/');
  result.time_separator = LocaleSeparator(LOCALE_STIME, ':');
  return result;
}

uint32_t MillisecondsSinceUtcMidnight() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return ((now.wHour * 60u + now.wMinute) * 60u + now.wSecond) * 1000u + now.wMilliseconds;
}

void SleepMs(uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace plat
