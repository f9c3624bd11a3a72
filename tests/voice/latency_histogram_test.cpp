// The relay delay histogram: buckets by their bounds, and additions from several threads at once
// (run under ThreadSanitizer in CI) lose nothing and never show a reader a torn form.
#include "voice/latency_histogram.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "voice/relay_stats.h"

namespace voice {
namespace {

TEST(LatencyHistogramTest, ADurationFallsInTheFirstBucketWhoseBoundItDoesNotExceed) {
  EXPECT_EQ(LatencyBucket(0), 0u);
  EXPECT_EQ(LatencyBucket(50), 0u);
  EXPECT_EQ(LatencyBucket(51), 1u);
  EXPECT_EQ(LatencyBucket(1000), 4u);
  EXPECT_EQ(LatencyBucket(250000), kLatencyBoundsUs.size() - 1);
  EXPECT_EQ(LatencyBucket(250001), kLatencyBoundsUs.size());
  EXPECT_EQ(LatencyBucket(UINT64_MAX), kLatencyBoundsUs.size());

  LocalHistogram local;
  for (uint64_t us : {10u, 50u, 60u, 999999u}) local.Observe(us);
  EXPECT_EQ(local.reading().Count(), 4u);
  EXPECT_EQ(local.reading().sum_us, 10u + 50u + 60u + 999999u);
  EXPECT_EQ(local.reading().counts[0], 2u);
  EXPECT_EQ(local.reading().counts[1], 1u);
  EXPECT_EQ(local.reading().counts[kLatencyBuckets - 1], 1u);
}

TEST(LatencyHistogramTest, ConcurrentObservationsAndMergesAreAllCountedWhileReadersRead) {
  LatencyHistogram shared;
  constexpr int kWriters = 4;
  constexpr uint64_t kPerWriter = 20000;
  std::atomic<bool> writing{true};
  std::atomic<uint64_t> reads{0};
  // A reader sees counts that only grow and a count that is the sum of its buckets.
  std::thread reader([&] {
    uint64_t last_count = 0;
    while (writing.load()) {
      LatencyReading reading = shared.Read();
      EXPECT_GE(reading.Count(), last_count);
      last_count = reading.Count();
      reads.fetch_add(1);
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&shared, &reads, w] {
      // The reader has read at least once before any writer starts, so reads overlap writes
      // however the threads are scheduled.
      while (reads.load() == 0) std::this_thread::yield();
      LocalHistogram local;
      for (uint64_t i = 0; i < kPerWriter; ++i) {
        const uint64_t us = (i * 37 + static_cast<uint64_t>(w)) % 400000;
        // Half straight into the shared histogram, half merged in batches as the relay does.
        if (i % 2 == 0) {
          shared.Observe(us);
        } else {
          local.Observe(us);
          if (local.reading().Count() == 64) {
            shared.Merge(local.reading());
            local.Clear();
          }
        }
      }
      shared.Merge(local.reading());
    });
  }
  for (std::thread& writer : writers) writer.join();
  writing.store(false);
  reader.join();

  LatencyReading expected;
  for (int w = 0; w < kWriters; ++w) {
    for (uint64_t i = 0; i < kPerWriter; ++i) {
      const uint64_t us = (i * 37 + static_cast<uint64_t>(w)) % 400000;
      ++expected.counts[LatencyBucket(us)];
      expected.sum_us += us;
    }
  }
  const LatencyReading total = shared.Read();
  EXPECT_EQ(total.counts, expected.counts);
  EXPECT_EQ(total.sum_us, expected.sum_us);
  EXPECT_EQ(total.Count(), kWriters * kPerWriter);
  EXPECT_GT(reads.load(), 0u);
}

TEST(LatencyHistogramTest, ARelayPassAddsItsFiguresAtOnce) {
  RelayStats stats;
  LocalHistogram pass;
  pass.Observe(120);
  pass.Observe(3000);
  stats.RecordPass(1, 1, pass.reading());
  stats.RecordPass(0, 0, LatencyReading{});
  EXPECT_EQ(stats.passes.load(), 2u);
  EXPECT_EQ(stats.relayed.load(), 1u);
  EXPECT_EQ(stats.not_relayable.load(), 1u);
  EXPECT_EQ(stats.delay.Read().Count(), 2u);
  EXPECT_EQ(stats.delay.Read().sum_us, 3120u);
}

}  // namespace
}  // namespace voice
