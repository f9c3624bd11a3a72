// The server's abuse defences in one place: the limits from [Security], the bans, the password
// failure count, the connections without a client, the addresses that probe for Ids, the logins
// and the broadcast frames per address, and counters of what the defences turned away. The
// command handlers and the datagram intake only ask it; none of it changes what a well-behaved
// client sees.
//
// Threading: Configure at start-up and again at each reload, from any thread; the limits are
// read under their own lock. BanList, AuthThrottle, PendingConnections, LoginChurnLimit and
// BroadcastBudget lock themselves; IdProbeQuarantine belongs to the datagram intake (server
// lock); the counters are atomics. Each limiter belongs to one thread, which refreshes it when
// the limits have changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "security/auth_throttle.h"
#include "security/ban_list.h"
#include "security/broadcast_budget.h"
#include "security/id_probes.h"
#include "security/login_churn.h"
#include "security/pending_connections.h"
#include "security/rate_limit.h"

namespace security {

// The limits, as [Security] sets them; 0 turns a limit off where the key says so.
struct Limits {
  uint32_t max_pending_per_address = 8;
  uint32_t max_pending_connections = 128;
  uint32_t max_clients_per_address = 0;
  uint32_t max_frames_per_second = 50;
  uint32_t max_voice_packets_per_second = 100;
  uint32_t max_voice_bytes_per_second = 65536;
  uint32_t max_logins_per_address = 10;
  uint32_t max_broadcast_frames_per_address = 20;
  AuthLimits auth;
};

// What the defences turned away; they only grow, and wrap past 2^32 - 1.
struct Counters {
  std::atomic<uint32_t> PendingEvicted{0};            // idle connections closed to make room
  std::atomic<uint32_t> BannedConnections{0};         // connections closed at once: banned address
  std::atomic<uint32_t> AuthFailures{0};              // failed password checks
  std::atomic<uint32_t> AddressesBanned{0};           // automatic bans set
  std::atomic<uint32_t> FramesDropped{0};             // control frames past the frame limit
  std::atomic<uint32_t> FloodDisconnects{0};          // connections that kept exceeding it
  std::atomic<uint32_t> VoiceDropped{0};              // voice datagrams past a sender's limits
  std::atomic<uint32_t> ForeignDatagramsIgnored{0};   // from an address that probes for Ids
  std::atomic<uint32_t> ClientsPerAddressRefused{0};  // logins past the limit per address
  std::atomic<uint32_t> ServerFullRefused{0};         // logins refused: the server was full
  std::atomic<uint32_t> LoginPasswordFailures{0};     // logins with a wrong server password
  std::atomic<uint32_t> AdminPasswordFailures{0};     // AdminLogins with a wrong password
  std::atomic<uint32_t> LoginChurnRefused{0};         // logins past the logins per address
  std::atomic<uint32_t> BroadcastFramesDropped{0};    // past their address's broadcast budget
};

inline void Count(std::atomic<uint32_t>& counter) {
  counter.fetch_add(1, std::memory_order_relaxed);
}

class Guard {
 public:
  Guard() : auth_(bans_) {}
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  void Configure(const Limits& limits);
  Limits limits() const;

  BanList& bans() { return bans_; }
  AuthThrottle& auth() { return auth_; }
  PendingConnections& pending() { return pending_; }
  IdProbeQuarantine& id_probes() { return id_probes_; }
  LoginChurnLimit& login_churn() { return login_churn_; }
  BroadcastBudget& broadcast_budget() { return broadcast_budget_; }
  Counters& counters() { return counters_; }

  // Limiters on the limits in force.
  FrameLimiter NewFrameLimiter() const;
  VoiceLimiter NewVoiceLimiter() const;
  // Made anew (and full) when the limits have changed since it was made. Its owner's thread.
  void Refresh(FrameLimiter& limiter) const;
  void Refresh(VoiceLimiter& limiter) const;

 private:
  mutable std::mutex limits_mutex_;
  Limits limits_;  // guarded by limits_mutex_
  // Counts the changes of the limits; a limiter remembers the count it was made at.
  std::atomic<uint32_t> limits_version_{0};
  BanList bans_;
  AuthThrottle auth_;
  PendingConnections pending_;
  IdProbeQuarantine id_probes_;
  LoginChurnLimit login_churn_;
  BroadcastBudget broadcast_budget_;
  Counters counters_;
};

}  // namespace security
