#include "voice/latency_histogram.h"

#include <algorithm>

namespace voice {

size_t LatencyBucket(uint64_t microseconds) {
  return static_cast<size_t>(
      std::lower_bound(kLatencyBoundsUs.begin(), kLatencyBoundsUs.end(), microseconds) -
      kLatencyBoundsUs.begin());
}

uint64_t LatencyReading::Count() const {
  uint64_t total = 0;
  for (uint64_t count : counts) total += count;
  return total;
}

void LatencyHistogram::Observe(uint64_t microseconds) {
  counts_[LatencyBucket(microseconds)].fetch_add(1, std::memory_order_relaxed);
  sum_us_.fetch_add(microseconds, std::memory_order_relaxed);
}

void LatencyHistogram::Merge(const LatencyReading& local) {
  for (size_t i = 0; i < kLatencyBuckets; ++i) {
    if (local.counts[i] != 0) counts_[i].fetch_add(local.counts[i], std::memory_order_relaxed);
  }
  if (local.sum_us != 0) sum_us_.fetch_add(local.sum_us, std::memory_order_relaxed);
}

LatencyReading LatencyHistogram::Read() const {
  LatencyReading reading;
  for (size_t i = 0; i < kLatencyBuckets; ++i)
    reading.counts[i] = counts_[i].load(std::memory_order_relaxed);
  reading.sum_us = sum_us_.load(std::memory_order_relaxed);
  return reading;
}

}  // namespace voice
