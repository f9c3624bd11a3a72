#include "metrics/snapshot.h"

#include "clients/serverfunctions.h"
#include "platform/clock.h"
#include "security/guard.h"
#include "voice/relay_stats.h"
#include "voice/voice_queue.h"

namespace metrics {
namespace {

uint32_t Read(const std::atomic<uint32_t>& counter) {
  return counter.load(std::memory_order_relaxed);
}

// Rooms and players in one consistent view: the room registry's lock, then the client
// registry's (their order everywhere), held while numbers and names are copied.
void GatherRegistries(const Sources& sources, Snapshot& snapshot) {
  clients::RoomList::Lock room_lock = sources.rooms.Acquire();
  clients::ClientList::Lock client_lock = sources.clients.Acquire();
  for (const auto& room : sources.rooms.Entries(room_lock))
    snapshot.rooms.push_back({room->RoomId + 1, room->Name, 0});
  const std::vector<clients::ClientRef>& players = sources.clients.Entries(client_lock);
  snapshot.players = static_cast<uint32_t>(players.size());
  for (const clients::ClientRef& player : players) {
    const int room = player->RoomId.load(std::memory_order_relaxed) + 1;
    for (RoomPlayers& entry : snapshot.rooms) {
      if (entry.room == room) ++entry.players;
    }
    const std::array<uint64_t, 8> traffic = player->Counters.Totals();
    for (size_t i = 0; i < traffic.size(); ++i) snapshot.player_traffic[i] += traffic[i];
    snapshot.player_udp_errors += Read(player->UdpErrors);
    snapshot.player_voice_dropped += Read(player->VoiceDropped);
  }
}

void GatherDefences(security::Guard& guard, uint64_t now_ms, Snapshot& snapshot) {
  const security::Counters& c = guard.counters();
  snapshot.pending_connections = guard.pending().Count();
  snapshot.refused_banned = Read(c.BannedConnections);
  snapshot.refused_idle_evicted = Read(c.PendingEvicted);
  snapshot.refused_server_full = Read(c.ServerFullRefused);
  snapshot.refused_per_address = Read(c.ClientsPerAddressRefused);
  snapshot.refused_flood = Read(c.FloodDisconnects);
  snapshot.refused_login_churn = Read(c.LoginChurnRefused);
  snapshot.frames_dropped = Read(c.FramesDropped);
  snapshot.broadcast_frames_dropped = Read(c.BroadcastFramesDropped);
  snapshot.failed_logins = Read(c.LoginPasswordFailures);
  snapshot.failed_admin_logins = Read(c.AdminPasswordFailures);
  snapshot.bans_set = Read(c.AddressesBanned);
  snapshot.active_bans = guard.bans().List(now_ms).size();
  snapshot.datagrams_rate_limited = Read(c.VoiceDropped);
  snapshot.datagrams_foreign_ignored = Read(c.ForeignDatagramsIgnored);
}

}  // namespace

Snapshot Gather(const Sources& sources) {
  Snapshot snapshot;
  snapshot.server_version = sources.server_version;
  snapshot.build_version = sources.build_version;
  snapshot.platform = plat::PlatformName();
  const uint64_t now_ms = sources.clock.MonotonicMs();
  snapshot.uptime_ms = static_cast<uint32_t>(now_ms) - sources.start_tick;
  GatherRegistries(sources, snapshot);
  snapshot.traffic = sources.traffic.Totals();
  GatherDefences(sources.guard, now_ms, snapshot);
  const voice::RelayStats& relay = sources.relay;
  snapshot.relay_passes = relay.passes.load(std::memory_order_relaxed);
  snapshot.datagrams_relayed = relay.relayed.load(std::memory_order_relaxed);
  snapshot.datagrams_not_relayable = relay.not_relayable.load(std::memory_order_relaxed);
  snapshot.datagrams_faulty = relay.faulty.load(std::memory_order_relaxed);
  snapshot.relay_delay = relay.delay.Read();
  snapshot.datagrams_queue_full = sources.voice_queue.Dropped();
  snapshot.reloads_applied = sources.reloads.applied.load(std::memory_order_relaxed);
  snapshot.reloads_refused = sources.reloads.refused.load(std::memory_order_relaxed);
  snapshot.process = plat::CurrentProcessResources();
  return snapshot;
}

}  // namespace metrics
