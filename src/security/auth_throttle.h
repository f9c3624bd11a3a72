// Failed password checks per address (the server password at login, AdminLogin): too many within
// the window ban the address for a while. Each failure is recorded before it is answered, so
// however many connections guess at once, an address gets at most `failures_before_ban` answers
// before its ban. And however slowly it guesses, at most twice that many failures are answered
// within `long_window_ms`: a failure past that gets no answer and bans the address again.
//
// Bounded: at most kMaxAddresses addresses are tracked; the one used least recently is forgotten.
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "security/ban_list.h"
#include "security/bounded_table.h"

namespace security {

struct AuthLimits {
  uint32_t failures_before_ban = 10;  // 0: no ban
  uint32_t window_ms = 120000;
  uint32_t ban_ms = 300000;
  uint32_t long_window_ms = 600000;  // at most 2 * failures_before_ban answered within it
};

enum class AuthVerdict {
  kAnswer,           // answer the refusal as usual
  kAnswerAndBanned,  // answer it; this failure banned the address
  kBannedNoAnswer,   // the address was already banned: close without an answer
};

class AuthThrottle {
 public:
  static constexpr size_t kMaxAddresses = 4096;

  explicit AuthThrottle(BanList& bans);
  void Configure(const AuthLimits& limits);

  // Records one failed check from `ip` at `now_ms` and says how to treat it.
  AuthVerdict RecordFailure(uint32_t ip, uint32_t now_ms);

 private:
  BanList& bans_;
  std::mutex mutex_;
  AuthLimits limits_;  // guarded by mutex_
  // Tick counts of the answered failures within the long window, oldest first.
  BoundedTable<uint32_t, std::deque<uint32_t>> failures_;  // guarded by mutex_
};

}  // namespace security
