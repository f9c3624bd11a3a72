// A snapshot of the server's state and counters for monitoring: what the metrics endpoint
// serves. Gathered under the registries' locks, each
// held only for as long as it takes to copy a few numbers and names; the counters are read
// without a lock, each as it is at the moment of its reading.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process_resources.h"
#include "voice/latency_histogram.h"

namespace clients {
class ClientList;
class RoomList;
struct TrafficCounters;
}  // namespace clients
namespace security {
class Guard;
}
namespace voice {
class VoiceQueue;
struct RelayStats;
}  // namespace voice

namespace metrics {

// The server's reloads of its configuration file, as it counts them.
struct ReloadCounters {
  std::atomic<uint64_t> applied{0};
  std::atomic<uint64_t> refused{0};
};

// The parts of the server a snapshot reads; each must outlive the sources' use.
struct Sources {
  clients::ClientList& clients;
  clients::RoomList& rooms;
  clients::TrafficCounters& traffic;
  security::Guard& guard;
  voice::VoiceQueue& voice_queue;
  voice::RelayStats& relay;
  const ReloadCounters& reloads;
  std::string server_version;  // as ServerStats reports it
  std::string build_version;   // the program's version, "1.2.0.19"
  uint32_t start_tick = 0;
  const plat::Clock& clock;  // the server's: uptime and the bans in force are read from it
};

struct RoomPlayers {
  int room = 0;  // the number clients show (from 1)
  std::string name;
  uint32_t players = 0;
};

struct Snapshot {
  std::string server_version;
  std::string build_version;
  std::string platform;  // "linux"
  uint32_t uptime_ms = 0;

  uint32_t players = 0;
  std::vector<RoomPlayers> rooms;  // in the registry's order
  // The server's counters in 64 bits, in the order of clients::kTrafficCounterNames.
  std::array<uint64_t, 8> traffic{};
  // The per-player counters summed over the players logged in now.
  std::array<uint64_t, 8> player_traffic{};
  uint64_t player_udp_errors = 0;
  uint64_t player_voice_dropped = 0;
  uint64_t datagrams_faulty = 0;  // for the whole server

  uint64_t relay_passes = 0;
  uint64_t datagrams_relayed = 0;
  uint64_t datagrams_not_relayable = 0;
  uint64_t datagrams_queue_full = 0;
  uint64_t datagrams_rate_limited = 0;
  uint64_t datagrams_foreign_ignored = 0;
  voice::LatencyReading relay_delay;

  uint64_t pending_connections = 0;
  uint64_t refused_banned = 0;
  uint64_t refused_idle_evicted = 0;
  uint64_t refused_server_full = 0;
  uint64_t refused_per_address = 0;
  uint64_t refused_flood = 0;
  uint64_t refused_login_churn = 0;
  uint64_t frames_dropped = 0;
  uint64_t broadcast_frames_dropped = 0;
  uint64_t failed_logins = 0;        // wrong server password
  uint64_t failed_admin_logins = 0;  // wrong administrator password
  uint64_t bans_set = 0;
  uint64_t active_bans = 0;

  uint64_t reloads_applied = 0;
  uint64_t reloads_refused = 0;

  plat::ProcessResources process;
};

Snapshot Gather(const Sources& sources);

}  // namespace metrics
