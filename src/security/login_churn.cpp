#include "security/login_churn.h"

#include <algorithm>

namespace security {

LoginChurnLimit::LoginChurnLimit() : logins_(kMaxAddresses) {}

void LoginChurnLimit::Configure(uint32_t max_logins) {
  std::lock_guard<std::mutex> lock(mutex_);
  max_logins_ = max_logins;
}

bool LoginChurnLimit::Admit(const plat::IpAddress& ip, size_t logged_in, uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (max_logins_ == 0) return true;
  std::deque<uint64_t>& times = logins_.Touch(AddressGroup::Host(ip));
  while (!times.empty() && now_ms >= times.front() + kWindowMs) times.pop_front();
  if (times.size() >= max_logins_ + std::min(logged_in, kMaxPresent)) return false;
  times.push_back(now_ms);
  // More than the limit could ever look at is dropped, oldest first.
  if (times.size() > max_logins_ + kMaxPresent) times.pop_front();
  return true;
}

}  // namespace security
