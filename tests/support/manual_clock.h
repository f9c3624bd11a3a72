// A clock the test moves by hand, for a server whose timing the test drives instead of waiting.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace pltest {

class ManualClock final : public plat::Clock {
 public:
  explicit ManualClock(uint32_t start = 1000) : now_(start) {}
  uint32_t Now() const override {
    reads_.fetch_add(1);
    return now_.load();
  }
  // How often the clock has been read: a test waits for a worker to have taken its time.
  uint64_t Reads() const { return reads_.load(); }
  // Waits for a deadline on this clock look at it again this often, so a move is seen at once.
  int MaxWaitMs() const override { return 5; }
  // Moves the clock on; past 2^32 - 1 it wraps, as the tick count does.
  void Advance(uint32_t milliseconds) { now_.fetch_add(milliseconds); }

 private:
  std::atomic<uint32_t> now_;
  mutable std::atomic<uint64_t> reads_{0};
};

}  // namespace pltest
