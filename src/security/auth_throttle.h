// Failed password checks per address (the server password at login, AdminLogin): too many within
// the window ban the address for a while. Each failure is recorded before it is answered, so
// however many connections guess at once, an address gets at most `failures_before_ban` answers
// before its ban. And however slowly it guesses, at most twice that many failures are answered
// within `long_window_ms`: a failure past that gets no answer and bans the address again.
//
// Times are the server clock's 64-bit monotonic milliseconds.
//
// Bounded, and no failure record is forgotten while it counts: the records take at most
// kMaxRecordBytes of memory (each holds up to twice `failures_before_ban` time stamps). When they
// are all in use, a failure from an address without a record bans the address's whole block (its
// /24) and gets no answer: an attacker with more addresses than the table holds loses its
// neighbourhood rather than having its old failures forgotten.
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "security/address_group.h"
#include "security/ban_list.h"
#include "security/expiring_table.h"

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
  kBannedNoAnswer,   // the address is banned (already, or by this failure): close unanswered
};

struct AuthOutcome {
  AuthVerdict verdict = AuthVerdict::kAnswer;
  // What this failure banned (the address, or its block), for the caller to announce and to
  // close its connections without a client; nothing when it banned nothing.
  std::optional<AddressGroup> banned;
};

class AuthThrottle {
 public:
  static constexpr size_t kMaxRecordBytes = 8 * 1024 * 1024;
  // A record's share of memory besides its time stamps: the table's node and bucket and the
  // stamps' own allocation, rounded up.
  static constexpr size_t kRecordOverheadBytes = 96;

  explicit AuthThrottle(BanList& bans);
  void Configure(const AuthLimits& limits);
  // How many addresses the records can hold with the limits configured.
  size_t RecordCapacity();

  // Records one failed check from `ip` at `now_ms` and says how to treat it.
  AuthOutcome RecordFailure(const plat::IpAddress& ip, uint64_t now_ms);

 private:
  struct Record {
    std::vector<uint64_t> answered;  // time stamps of the answered failures, oldest first
    uint64_t ends_ms = 0;            // when the newest leaves the long window
    bool Ended(uint64_t now_ms) const { return now_ms >= ends_ms; }
  };
  // Bans `group`; the outcome for a failure that gets no answer.
  AuthOutcome BanUnanswered(const AddressGroup& group, uint64_t now_ms);

  BanList& bans_;
  std::mutex mutex_;
  AuthLimits limits_;                                                 // guarded by mutex_
  ExpiringTable<AddressGroup, Record, AddressGroup::Hash> failures_;  // guarded by mutex_
};

}  // namespace security
