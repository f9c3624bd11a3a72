// A histogram of short durations (the voice path's delay) that many threads may add to without a
// lock: one relaxed atomic counter per bucket and one for the sum. A reader sees every bucket as
// it was at some moment of its read; the count is the sum of the buckets it read, so the form a
// monitoring system expects (the last cumulative bucket equals the count) always holds.
//
// A busy writer keeps a LocalHistogram (plain integers, its own) and merges it now and then,
// which costs one atomic addition per bucket used instead of one per observation.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace voice {

// Upper bounds of the buckets, in microseconds; one more bucket takes everything above.
inline constexpr std::array<uint64_t, 12> kLatencyBoundsUs = {
    50, 100, 250, 500, 1000, 2500, 5000, 10000, 25000, 50000, 100000, 250000};
inline constexpr size_t kLatencyBuckets = kLatencyBoundsUs.size() + 1;

// The bucket of a duration: the first whose bound it does not exceed.
size_t LatencyBucket(uint64_t microseconds);

// Counts per bucket (not cumulative) and the sum of the durations.
struct LatencyReading {
  std::array<uint64_t, kLatencyBuckets> counts{};
  uint64_t sum_us = 0;
  uint64_t Count() const;
};

// One thread's observations, not shared.
class LocalHistogram {
 public:
  void Observe(uint64_t microseconds) {
    ++reading_.counts[LatencyBucket(microseconds)];
    reading_.sum_us += microseconds;
  }
  const LatencyReading& reading() const { return reading_; }
  bool Empty() const { return reading_.Count() == 0; }
  void Clear() { reading_ = LatencyReading{}; }

 private:
  LatencyReading reading_;
};

// Shared; every operation is safe from any thread and takes no lock.
class LatencyHistogram {
 public:
  void Observe(uint64_t microseconds);
  // Adds a thread's observations; `local` is left as it was.
  void Merge(const LatencyReading& local);
  LatencyReading Read() const;

 private:
  std::array<std::atomic<uint64_t>, kLatencyBuckets> counts_{};
  std::atomic<uint64_t> sum_us_{0};
};

}  // namespace voice
