#include "core/event_output.h"

#include <cstdio>

namespace core {

EventOutput::EventOutput()
    : writer_([](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        // A journal or a pipe sees each line as it happens.
        std::fflush(stdout);
      }) {}

void EventOutput::SetListener(Listener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  has_listener_.store(static_cast<bool>(listener), std::memory_order_release);
  listener_ = std::move(listener);
}

void EventOutput::Emit(const EventLine& line) noexcept {
  if (!enabled_ && !has_listener_.load(std::memory_order_acquire)) return;
  try {
    plat::LocalDateTime now = plat::NowLocal();
    std::string text;
    if (enabled_) text = json_ ? line.FormatJson(now) : line.FormatText(now);
    std::lock_guard<std::mutex> lock(mutex_);
    if (listener_) listener_(line, now);
    if (enabled_) writer_(text);
  } catch (...) {
    // An event line is not worth a failure of the server.
  }
}

}  // namespace core
