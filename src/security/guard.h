// The server's abuse defences in one place: the limits from [Security], the bans, the password
// failure count, the connections without a client, the datagram sources that probe for Ids, and
// counters of what the defences turned away. The command handlers and the datagram intake only
// ask it; none of it changes what a well-behaved client sees.
//
// Threading: Configure once at start-up, before the listeners run. BanList, AuthThrottle and
// PendingConnections lock themselves; UdpSources belongs to the datagram intake (server lock);
// the counters are atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "security/auth_throttle.h"
#include "security/ban_list.h"
#include "security/pending_connections.h"
#include "security/rate_limit.h"
#include "security/udp_sources.h"

namespace security {

// The limits, as [Security] sets them; 0 turns a limit off where the key says so.
struct Limits {
  uint32_t max_pending_per_address = 8;
  uint32_t max_pending_connections = 128;
  uint32_t max_clients_per_address = 0;
  uint32_t max_frames_per_second = 50;
  uint32_t max_voice_packets_per_second = 100;
  uint32_t max_voice_bytes_per_second = 65536;
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
  std::atomic<uint32_t> ForeignDatagramsIgnored{0};   // from a source that probes for Ids
  std::atomic<uint32_t> ClientsPerAddressRefused{0};  // logins past the limit per address
  std::atomic<uint32_t> ServerFullRefused{0};         // logins refused: the server was full
  std::atomic<uint32_t> LoginPasswordFailures{0};     // logins with a wrong server password
  std::atomic<uint32_t> AdminPasswordFailures{0};     // AdminLogins with a wrong password
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
  const Limits& limits() const { return limits_; }

  BanList& bans() { return bans_; }
  AuthThrottle& auth() { return auth_; }
  PendingConnections& pending() { return pending_; }
  UdpSourceFilter& udp_sources() { return udp_sources_; }
  Counters& counters() { return counters_; }

  FrameLimiter NewFrameLimiter() const { return FrameLimiter(limits_.max_frames_per_second); }
  VoiceLimiter NewVoiceLimiter() const {
    return VoiceLimiter(limits_.max_voice_packets_per_second, limits_.max_voice_bytes_per_second);
  }

 private:
  Limits limits_;
  BanList bans_;
  AuthThrottle auth_;
  PendingConnections pending_;
  UdpSourceFilter udp_sources_;
  Counters counters_;
};

}  // namespace security
