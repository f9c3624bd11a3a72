// The portable parts of the time services: the system clock behind the Clock seam, calendar
// seconds (the standard library's) and time limits; the tick count comes from the backend.
#include "platform/clock.h"

#include <chrono>

namespace plat {
namespace {

class SystemTickClock final : public Clock {
 public:
  uint64_t MonotonicMs() const override { return MonotonicMilliseconds(); }
  int64_t UnixSeconds() const override { return UnixTimeSeconds(); }
};

}  // namespace

int64_t UnixTimeSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int RemainingMs(uint32_t started, int timeout_ms) {
  uint32_t waited = TickCount() - started;
  return waited >= static_cast<uint32_t>(timeout_ms) ? 0 : timeout_ms - static_cast<int>(waited);
}

const Clock& SystemClock() {
  static const SystemTickClock clock;
  return clock;
}

}  // namespace plat
