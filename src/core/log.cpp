#include "core/log.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/files.h"

namespace core {

std::string FormatLogLine(std::string_view text) {
  return FormatLogLine(text, plat::NowLocal());
}

std::string FormatLogLine(std::string_view text, const plat::LocalDateTime& now) {
  char stamp[48];
  const char date = now.date_separator;
  const char time = now.time_separator;
  std::snprintf(stamp, sizeof stamp, "%02d%c%02d%c%04d %02d%c%02d%c%02d | ", now.day, date,
                now.month, date, now.year, now.hour, time, now.minute, time, now.second);
  std::string line = stamp;
  line.append(text);
  line.append("\r\n");
  return line;
}

plat::Status EventLog::WriteLogLine(std::string_view text) {
  std::unique_lock<std::mutex> lock;
  if (log_lock_) lock = std::unique_lock<std::mutex>(*log_lock_);
  return plat::AppendToFile(file_name_, FormatLogLine(text));
}

void EventHook::Report(std::string_view category, std::string_view text, int32_t code,
                       const EventSubject* client) const noexcept {
  if (!sink_) return;
  try {
    sink_(EventReport{std::string(category), std::string(text), code,
                      client ? client->EventClientPart() : std::string()});
  } catch (...) {
    // The hook never fails its caller.
  }
}

}  // namespace core
