#include "security/guard.h"

namespace security {

void Guard::Configure(const Limits& limits) {
  {
    std::lock_guard<std::mutex> lock(limits_mutex_);
    limits_ = limits;
    limits_version_.fetch_add(1, std::memory_order_release);
  }
  auth_.Configure(limits.auth);
  pending_.Configure(limits.max_pending_per_address, limits.max_pending_connections);
  login_churn_.Configure(limits.max_logins_per_address);
  broadcast_budget_.Configure(limits.max_broadcast_frames_per_address);
}

Limits Guard::limits() const {
  std::lock_guard<std::mutex> lock(limits_mutex_);
  return limits_;
}

FrameLimiter Guard::NewFrameLimiter() const {
  std::lock_guard<std::mutex> lock(limits_mutex_);
  FrameLimiter limiter(limits_.max_frames_per_second);
  limiter.limits_version = limits_version_.load(std::memory_order_relaxed);
  return limiter;
}

VoiceLimiter Guard::NewVoiceLimiter() const {
  std::lock_guard<std::mutex> lock(limits_mutex_);
  VoiceLimiter limiter(limits_.max_voice_packets_per_second, limits_.max_voice_bytes_per_second);
  limiter.limits_version = limits_version_.load(std::memory_order_relaxed);
  return limiter;
}

void Guard::Refresh(FrameLimiter& limiter) const {
  if (limiter.limits_version != limits_version_.load(std::memory_order_acquire))
    limiter = NewFrameLimiter();
}

void Guard::Refresh(VoiceLimiter& limiter) const {
  if (limiter.limits_version != limits_version_.load(std::memory_order_acquire))
    limiter = NewVoiceLimiter();
}

}  // namespace security
