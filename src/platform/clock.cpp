// The portable parts of the time services: the system clock behind the Clock seam and time
// limits; the tick count itself comes from the backend.
#include "platform/clock.h"

namespace plat {
namespace {

class SystemTickClock final : public Clock {
 public:
  uint32_t Now() const override { return TickCount(); }
};

}  // namespace

int RemainingMs(uint32_t started, int timeout_ms) {
  uint32_t waited = TickCount() - started;
  return waited >= static_cast<uint32_t>(timeout_ms) ? 0 : timeout_ms - static_cast<int>(waited);
}

const Clock& SystemClock() {
  static const SystemTickClock clock;
  return clock;
}

}  // namespace plat
