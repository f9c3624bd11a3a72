#include "security/auth_throttle.h"

#include <algorithm>

namespace security {
namespace {

size_t CapacityFor(const AuthLimits& limits) {
  const size_t stamps = 2 * static_cast<size_t>(std::max<uint32_t>(limits.failures_before_ban, 1));
  return AuthThrottle::kMaxRecordBytes /
         (AuthThrottle::kRecordOverheadBytes + stamps * sizeof(uint64_t));
}

}  // namespace

AuthThrottle::AuthThrottle(BanList& bans) : bans_(bans), failures_(CapacityFor(AuthLimits{})) {}

void AuthThrottle::Configure(const AuthLimits& limits) {
  std::lock_guard<std::mutex> lock(mutex_);
  limits_ = limits;
  failures_.SetCapacity(CapacityFor(limits));
}

size_t AuthThrottle::RecordCapacity() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_.Capacity();
}

AuthOutcome AuthThrottle::BanUnanswered(const AddressGroup& group, uint64_t now_ms) {
  // A ban table full of bans in force bans nothing more; the guess still goes unanswered.
  if (!bans_.BanAutomatically(group, now_ms, limits_.ban_ms))
    return {AuthVerdict::kBannedNoAnswer, std::nullopt};
  return {AuthVerdict::kBannedNoAnswer, group};
}

AuthOutcome AuthThrottle::RecordFailure(const plat::IpAddress& ip, uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (limits_.failures_before_ban == 0) return {};
  // Checked under this lock: of failures that race, only those before the ban are answered.
  if (bans_.IsBanned(ip, now_ms)) return {AuthVerdict::kBannedNoAnswer, std::nullopt};
  Record* record = failures_.FindOrAdd(AddressGroup::Host(ip), now_ms);
  if (!record) return BanUnanswered(AddressGroup::Block(ip), now_ms);
  std::vector<uint64_t>& times = record->answered;
  if (times.capacity() == 0) times.reserve(2 * static_cast<size_t>(limits_.failures_before_ban));
  const auto left = std::find_if(times.begin(), times.end(), [&](uint64_t at) {
    return now_ms < at + limits_.long_window_ms;
  });
  times.erase(times.begin(), left);
  // A slow guesser that has had its share of answers in the long window gets none until the
  // oldest leaves it.
  if (times.size() >= 2 * static_cast<size_t>(limits_.failures_before_ban))
    return BanUnanswered(AddressGroup::Host(ip), now_ms);
  times.push_back(now_ms);
  record->ends_ms = now_ms + limits_.long_window_ms;
  const auto recent = std::count_if(times.begin(), times.end(),
                                    [&](uint64_t at) { return now_ms < at + limits_.window_ms; });
  if (static_cast<uint32_t>(recent) < limits_.failures_before_ban) return {};
  // A ban table full of bans in force cannot take this one: the failure goes unanswered.
  if (!bans_.BanAutomatically(AddressGroup::Host(ip), now_ms, limits_.ban_ms))
    return {AuthVerdict::kBannedNoAnswer, std::nullopt};
  return {AuthVerdict::kAnswerAndBanned, AddressGroup::Host(ip)};
}

}  // namespace security
