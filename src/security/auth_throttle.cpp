#include "security/auth_throttle.h"

#include <algorithm>

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
  while (!times.empty() && !TickBefore(now_ms, times.front() + limits_.long_window_ms))
    times.pop_front();
  // A slow guesser that has had its share of answers in the long window gets none until the
  // oldest leaves it.
  if (times.size() >= 2 * static_cast<size_t>(limits_.failures_before_ban)) {
    bans_.BanAutomatically(ip, now_ms, limits_.ban_ms);
    return AuthVerdict::kBannedNoAnswer;
  }
  times.push_back(now_ms);
  const auto recent = std::count_if(times.begin(), times.end(), [&](uint32_t at) {
    return TickBefore(now_ms, at + limits_.window_ms);
  });
  if (static_cast<uint32_t>(recent) < limits_.failures_before_ban) return AuthVerdict::kAnswer;
  bans_.BanAutomatically(ip, now_ms, limits_.ban_ms);
  return AuthVerdict::kAnswerAndBanned;
}

}  // namespace security
