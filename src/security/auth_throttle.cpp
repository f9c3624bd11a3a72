#include "security/auth_throttle.h"

namespace security {

AuthThrottle::AuthThrottle(BanList& bans) : bans_(bans), failures_(kMaxAddresses) {}

void AuthThrottle::Configure(const AuthLimits& limits) {
  std::lock_guard<std::mutex> lock(mutex_);
  limits_ = limits;
}

AuthVerdict AuthThrottle::RecordFailure(uint32_t ip, uint32_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (limits_.failures_before_ban == 0) return AuthVerdict::kAnswer;
  // Checked under this lock: of failures that race, only those before the ban are answered.
  if (bans_.IsBanned(ip, now_ms)) return AuthVerdict::kBannedNoAnswer;
  std::deque<uint32_t>& times = failures_.Touch(ip);
  while (!times.empty() && !TickBefore(now_ms, times.front() + limits_.window_ms))
    times.pop_front();
  times.push_back(now_ms);
  if (times.size() < limits_.failures_before_ban) return AuthVerdict::kAnswer;
  // The ban starts a fresh count: after it the address has the whole allowance again.
  failures_.Erase(ip);
  bans_.BanAutomatically(ip, now_ms, limits_.ban_ms);
  return AuthVerdict::kAnswerAndBanned;
}

}  // namespace security
