// The datagram intake: every datagram that reaches the UDP socket, on the listener thread. It
// identifies the sender by the Id field, records its address and activity, verifies voice
// (packet-id continuity, CRC-32), answers pings, takes in pongs, and hands voice to the relay
// thread.
#include "core/servermain.h"
#include "platform/clock.h"
#include "wire/datagrams.h"

namespace core {
namespace {

void ReportUnknown(const EventHook& events, plat::Endpoint from) {
  if (events.Enabled())
    events.Report("ALERT UDP", "Incoming traffic from unknown client ip: " + from.IpText(),
                  EventHook::kNoCode);
}

// Whether the voice datagram passes its checks; the CRC field is left 0 when it was examined.
bool VerifyVoice(const EventHook& events, clients::TServerClient& client, uint8_t* data,
                 size_t size) {
  std::span<const uint8_t> bytes(data, size);
  const uint32_t packet_id = wire::ReadU32(bytes, wire::kOffsetPacketId);
  const uint32_t last = client.LastPacketId.load(std::memory_order_relaxed);
  bool faulty = false;
  if (last != 0 && packet_id != last + 1) {
    faulty = true;
    events.Report("UDP Error", "lost packet <false packetid>", EventHook::kNoCode, &client);
  } else if (!wire::CheckAndClearCrc(data, size)) {
    faulty = true;
    events.Report("UDP Error", "false CRC32", EventHook::kNoCode, &client);
  }
  client.LastPacketId.store(packet_id, std::memory_order_relaxed);
  return !faulty;
}

// Whether two addresses are one host's: the same IPv4 address, or the same IPv6 /64.
bool SameHost(const plat::IpAddress& a, const plat::IpAddress& b) {
  return plat::AddressGroup(a) == plat::AddressGroup(b);
}

}  // namespace

bool TParlowindServer::ProbeIgnored(const clients::TServerClient* client, uint16_t id,
                                    const plat::Endpoint& from, uint64_t now_ms) {
  security::IdProbeQuarantine& probes = guard_.id_probes();
  bool ignored = true;
  if (probes.Quarantined(from.ip, now_ms)) {
    // Only the sources recorded for their Ids are heard from a quarantined address.
  } else if (client &&
             (client->Peer().port == 0 || SameHost(client->Connection()->Peer().ip, from.ip))) {
    // A player's own datagram (its Id from the address of its control connection, whatever the
    // port: NAT rebinding) and a player's first datagram never count: nobody behind the same
    // address can turn a player's own traffic against it.
    return false;
  } else {
    ignored = probes.RecordProbe(from.ip, id, client == nullptr, now_ms);
  }
  if (ignored) security::Count(guard_.counters().ForeignDatagramsIgnored);
  return ignored;
}

void TParlowindServer::CountFaulty(clients::TServerClient& client) {
  Add(client.UdpErrors, 1);
  relay_stats_.faulty.fetch_add(1, std::memory_order_relaxed);
}

void TParlowindServer::Server_UDPRead(uint8_t* data, size_t size, const plat::Endpoint& from,
                                      const plat::IpAddress& local_ip) {
  if (!server_lock_) return;
  std::lock_guard<std::mutex> server_lock(*server_lock_);
  const std::span<const uint8_t> bytes(data, size);
  Add(counters_.UdpBytesReceived, static_cast<uint32_t>(size));
  Add(counters_.UdpPacketsReceived, 1);

  const uint64_t now_ms = clock_.MonotonicMs();
  const uint32_t now = static_cast<uint32_t>(now_ms);
  // An operator's ban silences the address: no pong, no address change, no relay. An automatic
  // ban only keeps new connections out, so players logged in from a shared address keep talking.
  security::BanList& bans = guard_.bans();
  if (!bans.NoManualBans() && bans.IsBannedManually(from.ip, now_ms)) return;
  const uint16_t id = wire::ReadU16(bytes, wire::kOffsetId);
  clients::ClientRef client = clients_.FindClientById(id);
  // An Id is only believed from the address of its client's control connection (NAT may change
  // the port; an IPv6 host may use any address of its /64): anyone else could otherwise steal a
  // client's voice address with one datagram.
  if (client && !settings_.Get()->UdpFromAnyAddress &&
      !SameHost(client->Connection()->Peer().ip, from.ip)) {
    client = nullptr;
  }
  if (client && client->Dropped) return;
  // From the source its Id is recorded at, a datagram is taken without further ado; anything
  // else may be a probe for Ids.
  const bool recorded_source = client && client->Peer() == from;
  if (!recorded_source && ProbeIgnored(client.get(), id, from, now_ms)) return;
  if (!client) return ReportUnknown(events_, from);

  client->SetLastSeen(now);
  client->SetPeer(from, local_ip);
  const uint16_t magic = wire::ReadU16(bytes, wire::kOffsetMagic);
  if (magic == wire::kFrameMagic) {
    Add(client->Counters.UdpPacketsReceived, 1);
    Add(client->Counters.UdpBytesReceived, static_cast<uint32_t>(size));
    // Too short for the header, or a list that runs past the end: counted, relayed to nobody.
    if (size < wire::kVoiceHeaderSize ||
        (wire::ReadU8(bytes, wire::kOffsetMode) == wire::kModeList && !wire::ListFits(bytes))) {
      CountFaulty(*client);
      // Counted once: the next datagram is checked against this one's packet id where it has
      // one, and otherwise starts a new sequence, rather than counting as lost as well.
      const bool has_packet_id = size >= wire::kOffsetPacketId + 4;
      client->LastPacketId.store(has_packet_id ? wire::ReadU32(bytes, wire::kOffsetPacketId) : 0,
                                 std::memory_order_relaxed);
      return;
    }
    // Past the sender's rate it goes no further: one sender cannot crowd out the others.
    guard_.Refresh(client->VoiceLimit);
    if (!client->VoiceLimit.Admit(now_ms, static_cast<uint32_t>(size))) {
      Add(client->VoiceDropped, 1);
      security::Count(guard_.counters().VoiceDropped);
      return;
    }
    if (!VerifyVoice(events_, *client, data, size)) CountFaulty(*client);
    if (voice_queue_.Append(data, size) && relay_event_) relay_event_->Set();
    return;
  }
  if (magic != wire::kKeepAliveMagic) return;

  Add(client->Counters.UdpPacketsReceived, 1);
  Add(client->Counters.UdpBytesReceived, static_cast<uint32_t>(size));
  const uint8_t marker = wire::ReadU8(bytes, wire::kOffsetMarker);
  switch (wire::ClassifyKeepAlive(wire::ReadU8(bytes, wire::kOffsetKeepAliveType), marker)) {
    case wire::KeepAliveKind::kPing: {
      uint8_t pong[wire::kKeepAliveSize];
      wire::BuildKeepAlive(pong, client->Id, wire::kTypePong, marker);
      if (udp_listener_->SendTo(pong, sizeof pong, from, local_ip)) {
        Add(counters_.UdpPacketsSent, 1);
        Add(counters_.UdpBytesSent, sizeof pong);
      }
      break;
    }
    case wire::KeepAliveKind::kPong: {
      std::lock_guard<std::mutex> ping_lock(client->ping_mutex);
      // Without a ping pending there is no round trip to measure.
      if (!client->Ping.PingPending) break;
      client->Ping.PingPending = false;
      client->Ping.PingTries = 0;
      client->Ping.PingRtt = clock_.Now() - client->Ping.PingSentAt;
      client->Ping.PingSentAt = 0;
      break;
    }
    case wire::KeepAliveKind::kIgnored:
      break;
  }
}

}  // namespace core
