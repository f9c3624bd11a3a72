// The token buckets and the frame and voice limiters, driven by a tick count the test chooses.
#include "security/rate_limit.h"

#include <gtest/gtest.h>

#include "security/guard.h"

namespace security {
namespace {

// How many of `count` attempts, one every `step_ms` from `start_ms`, the bucket lets through.
int Passed(TokenBucket& bucket, uint32_t start_ms, int count, uint32_t step_ms) {
  int passed = 0;
  for (int i = 0; i < count; ++i) passed += bucket.TryTake(start_ms + i * step_ms) ? 1 : 0;
  return passed;
}

TEST(TokenBucket, BurstThenRateAndNothingWhenUnlimited) {
  TokenBucket bucket(50, 200);
  EXPECT_EQ(Passed(bucket, 1000, 1000, 0), 200);  // the burst at one instant
  // One second later 50 tokens have flowed in, never more than the burst.
  EXPECT_EQ(Passed(bucket, 2000, 1000, 0), 50);
  EXPECT_EQ(Passed(bucket, 600000, 1000, 0), 200);
  TokenBucket unlimited;
  EXPECT_EQ(Passed(unlimited, 0, 100000, 0), 100000);
  TokenBucket zero_rate(0, 5);
  EXPECT_TRUE(zero_rate.Unlimited());
}

TEST(TokenBucket, SlowRatesRefillInFractionsAndAClockGoingBackAddsNothing) {
  TokenBucket bucket(3, 1);  // one token every 333.3 ms
  const uint64_t start = 0xFFFFFF00u;
  ASSERT_TRUE(bucket.TryTake(start));
  EXPECT_FALSE(bucket.TryTake(start + 300));
  EXPECT_TRUE(bucket.TryTake(start + 334));
  EXPECT_FALSE(bucket.TryTake(start));
}

TEST(FrameLimiter, DropsPastTheLimitAndDisconnectsAConnectionThatKeepsExceeding) {
  FrameLimiter limiter(50);
  uint32_t now = 5000;
  for (int i = 0; i < 200; ++i) ASSERT_EQ(limiter.Admit(now), FrameVerdict::kHandle) << i;
  // Past the burst: a second's worth of excess is dropped, then the connection goes.
  for (int i = 0; i < 49; ++i) ASSERT_EQ(limiter.Admit(now), FrameVerdict::kDrop) << i;
  EXPECT_EQ(limiter.Admit(now), FrameVerdict::kDisconnect);
}

TEST(FrameLimiter, ACalmConnectionStartsAfreshAndASteadyOneAtTheRateIsNeverDropped) {
  FrameLimiter limiter(50);
  uint32_t now = 0;
  for (int i = 0; i < 200 + 40; ++i) limiter.Admit(now);  // burst used, 40 excess
  // Four quiet seconds fill the bucket: the excess is forgiven.
  now += 4000;
  for (int i = 0; i < 200; ++i) ASSERT_EQ(limiter.Admit(now), FrameVerdict::kHandle);
  for (int i = 0; i < 49; ++i) ASSERT_EQ(limiter.Admit(now), FrameVerdict::kDrop);
  FrameLimiter steady(50);
  for (int i = 0; i < 50 * 60; ++i)
    ASSERT_EQ(steady.Admit(static_cast<uint32_t>(i * 20)), FrameVerdict::kHandle) << i;
  FrameLimiter off(0);
  for (int i = 0; i < 100000; ++i) ASSERT_EQ(off.Admit(0), FrameVerdict::kHandle);
}

TEST(VoiceLimiter, EitherLimitRefusesAndARefusalTakesNothing) {
  VoiceLimiter packets(100, 0);
  int passed = 0;
  for (int i = 0; i < 1000; ++i) passed += packets.Admit(0, 8000) ? 1 : 0;
  EXPECT_EQ(passed, 100);  // bytes unlimited, packets capped at one second's worth

  VoiceLimiter bytes(10, 2 * 8192 + 2 * 60);
  passed = 0;
  for (int i = 0; i < 50; ++i) passed += bytes.Admit(0, 8192) ? 1 : 0;
  EXPECT_EQ(passed, 2);
  // The 48 refused took no datagram tokens: the two small ones the bytes allow still pass.
  passed = 0;
  for (int i = 0; i < 10; ++i) passed += bytes.Admit(0, 60) ? 1 : 0;
  EXPECT_EQ(passed, 2);

  // A normal speaker (50/s, 60 bytes) over a minute is never refused.
  VoiceLimiter normal(100, 65536);
  for (int i = 0; i < 50 * 60; ++i) ASSERT_TRUE(normal.Admit(static_cast<uint32_t>(i * 20), 60));
  VoiceLimiter off(0, 0);
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(off.Admit(0, 8192));
}

TEST(Guard, ALimiterInUseTakesTheNewLimitsAtItsNextUse) {
  Guard guard;
  Limits limits;
  limits.max_voice_packets_per_second = 2;
  guard.Configure(limits);
  VoiceLimiter limiter = guard.NewVoiceLimiter();
  EXPECT_TRUE(limiter.Admit(1000, 10));
  EXPECT_TRUE(limiter.Admit(1000, 10));
  EXPECT_FALSE(limiter.Admit(1000, 10));
  guard.Refresh(limiter);  // unchanged limits: the same limiter, still empty
  EXPECT_FALSE(limiter.Admit(1000, 10));
  limits.max_voice_packets_per_second = 0;
  guard.Configure(limits);
  guard.Refresh(limiter);
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(limiter.Admit(1000, 10));
}

}  // namespace
}  // namespace security
