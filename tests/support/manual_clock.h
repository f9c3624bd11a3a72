// A clock the test moves by hand, for a server whose timing the test drives instead of waiting.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace pltest {

class ManualClock final : public plat::Clock {
 public:
  explicit ManualClock(uint64_t start = 1000) : now_(start) {}
  uint64_t MonotonicMs() const override {
    reads_.fetch_add(1);
    return now_.load();
  }
  // Calendar time starts at 2026-01-01T00:00:00Z and moves with the tick count.
  int64_t UnixSeconds() const override {
    return kUnixStart + static_cast<int64_t>(advanced_ms_.load() / 1000);
  }
  // How often the clock has been read: a test waits for a worker to have taken its time.
  uint64_t Reads() const { return reads_.load(); }
  // Waits for a deadline on this clock look at it again this often, so a move is seen at once.
  int MaxWaitMs() const override { return 5; }
  // Moves the clock on; its tick count (Now) wraps past 2^32 - 1 as the system's does.
  void Advance(uint64_t milliseconds) {
    now_.fetch_add(milliseconds);
    advanced_ms_.fetch_add(milliseconds);
  }

 private:
  static constexpr int64_t kUnixStart = 1767225600;
  std::atomic<uint64_t> advanced_ms_{0};
  std::atomic<uint64_t> now_;
  mutable std::atomic<uint64_t> reads_{0};
};

}  // namespace pltest
