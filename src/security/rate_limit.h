// Token buckets and the two limiters built on them: received control frames per connection and
// voice datagrams per sender. Time comes in as the server clock's 64-bit monotonic milliseconds,
// so tests need no sleep.
//
// Threading: none; each limiter belongs to one thread (a connection's own thread, or the datagram
// intake under the server lock).
#pragma once

#include <cstdint>

namespace security {

// Tokens flow in at `rate` per second up to `burst`; a rate of 0 means no limit. The bucket starts
// full. Kept in thousandths of a token so slow rates refill smoothly.
class TokenBucket {
 public:
  TokenBucket() = default;
  TokenBucket(uint32_t rate_per_second, uint32_t burst);

  bool Unlimited() const { return rate_ == 0; }
  // Adds what has flowed in since the last call.
  void Refill(uint64_t now_ms);
  bool CanTake(uint32_t cost) const { return Unlimited() || milli_tokens_ >= Milli(cost); }
  void Take(uint32_t cost);
  // Refill, then take `cost` when there is enough; false (and nothing taken) otherwise.
  bool TryTake(uint64_t now_ms, uint32_t cost = 1);
  bool Full() const { return Unlimited() || milli_tokens_ >= capacity_; }

 private:
  static uint64_t Milli(uint32_t tokens) { return static_cast<uint64_t>(tokens) * 1000; }

  uint32_t rate_ = 0;
  uint64_t capacity_ = 0;
  uint64_t milli_tokens_ = 0;
  uint64_t last_ms_ = 0;
  bool started_ = false;
};

enum class FrameVerdict {
  kHandle,      // within the limit
  kDrop,        // over the limit: not handled
  kDisconnect,  // over the limit for too long: the connection goes
};

// Received control frames of one connection: `rate` a second with a burst of four times that.
// Frames past the limit are dropped; a connection that drops a further second's worth before its
// bucket has filled up again keeps exceeding the limit and is disconnected.
class FrameLimiter {
 public:
  static constexpr uint32_t kBurstSeconds = 4;
  static constexpr uint32_t kMinExcessBeforeDisconnect = 10;

  explicit FrameLimiter(uint32_t frames_per_second = 0);
  FrameVerdict Admit(uint64_t now_ms);

  // Which setting of the limits it was made with (the guard's count of them).
  uint32_t limits_version = 0;

 private:
  TokenBucket bucket_;
  uint32_t excess_ = 0;
  uint32_t excess_limit_;
};

// Voice datagrams of one sender: at most `packets` datagrams and `bytes` bytes a second, each
// with a burst of one second's worth; 0 turns that limit off.
class VoiceLimiter {
 public:
  VoiceLimiter(uint32_t packets_per_second = 0, uint32_t bytes_per_second = 0);
  // Whether a datagram of `size` bytes may pass now; a refused one takes nothing from either.
  bool Admit(uint64_t now_ms, uint32_t size);

  // Which setting of the limits it was made with (the guard's count of them).
  uint32_t limits_version = 0;

 private:
  TokenBucket packets_;
  TokenBucket bytes_;
};

}  // namespace security
