// Logins per address over a window. Each login and each leave is an event line and a message to
// every player, so an address that logs in and out over and over floods the journal and the
// players; past `max_logins` within the window its further logins are refused. Logins of players
// that are still logged in from the address do not count, so a household behind one router
// joins as it likes: what is limited is joining and leaving again.
//
// Times are the server clock's 64-bit monotonic milliseconds.
//
// Bounded: at most kMaxAddresses addresses, the one used least recently forgotten (it starts
// afresh, as an address with many connections could anyway), and per address no more time
// stamps than the limit can look at.
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "security/address_group.h"
#include "security/bounded_table.h"

namespace security {

class LoginChurnLimit {
 public:
  static constexpr size_t kMaxAddresses = 4096;
  static constexpr uint64_t kWindowMs = 120000;
  // The most players one address can have logged in (a player number is one byte).
  static constexpr size_t kMaxPresent = 255;

  LoginChurnLimit();
  // 0: no limit.
  void Configure(uint32_t max_logins);

  // Whether a login from `ip`, which has `logged_in` players at the moment, may go ahead at
  // `now_ms`; an admitted login is recorded.
  bool Admit(const plat::IpAddress& ip, size_t logged_in, uint64_t now_ms);

 private:
  std::mutex mutex_;
  uint32_t max_logins_ = 10;  // guarded by mutex_
  BoundedTable<AddressGroup, std::deque<uint64_t>, AddressGroup::Hash> logins_;  // by mutex_
};

}  // namespace security
