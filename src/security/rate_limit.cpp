#include "security/rate_limit.h"

#include <algorithm>

namespace security {

TokenBucket::TokenBucket(uint32_t rate_per_second, uint32_t burst)
    : rate_(rate_per_second), capacity_(Milli(std::max<uint32_t>(burst, 1))) {
  milli_tokens_ = capacity_;
}

void TokenBucket::Refill(uint64_t now_ms) {
  if (Unlimited()) return;
  if (!started_) {
    started_ = true;
    last_ms_ = now_ms;
    return;
  }
  // A clock that went backwards (it never should) adds nothing.
  if (now_ms <= last_ms_) return;
  // Past a full bucket's worth of time the bucket is full, whatever the gap.
  const uint64_t elapsed = std::min<uint64_t>(now_ms - last_ms_, capacity_);
  last_ms_ = now_ms;
  // rate tokens a second are rate thousandths of a token a millisecond.
  milli_tokens_ = std::min(capacity_, milli_tokens_ + elapsed * rate_);
}

void TokenBucket::Take(uint32_t cost) {
  if (Unlimited()) return;
  milli_tokens_ -= std::min(milli_tokens_, Milli(cost));
}

bool TokenBucket::TryTake(uint64_t now_ms, uint32_t cost) {
  Refill(now_ms);
  if (!CanTake(cost)) return false;
  Take(cost);
  return true;
}

FrameLimiter::FrameLimiter(uint32_t frames_per_second)
    : bucket_(frames_per_second, frames_per_second * kBurstSeconds),
      excess_limit_(std::max(frames_per_second, kMinExcessBeforeDisconnect)) {}

FrameVerdict FrameLimiter::Admit(uint64_t now_ms) {
  if (bucket_.Unlimited()) return FrameVerdict::kHandle;
  bucket_.Refill(now_ms);
  // A connection that has calmed down until its bucket is full starts afresh.
  if (bucket_.Full()) excess_ = 0;
  if (bucket_.CanTake(1)) {
    bucket_.Take(1);
    return FrameVerdict::kHandle;
  }
  return ++excess_ >= excess_limit_ ? FrameVerdict::kDisconnect : FrameVerdict::kDrop;
}

VoiceLimiter::VoiceLimiter(uint32_t packets_per_second, uint32_t bytes_per_second)
    : packets_(packets_per_second, packets_per_second),
      bytes_(bytes_per_second, bytes_per_second) {}

bool VoiceLimiter::Admit(uint64_t now_ms, uint32_t size) {
  packets_.Refill(now_ms);
  bytes_.Refill(now_ms);
  if (!packets_.CanTake(1) || !bytes_.CanTake(size)) return false;
  packets_.Take(1);
  bytes_.Take(size);
  return true;
}

}  // namespace security
