#include "voice/pingthread.h"

#include "wire/datagrams.h"

namespace voice {
namespace {

uint32_t NonNegative(int32_t milliseconds) {
  return milliseconds < 0 ? 0u : static_cast<uint32_t>(milliseconds);
}

}  // namespace

plat::Status TPingThread::Start() {
  return thread_.Start("ping", [this] { Execute(); });
}

void TPingThread::Execute() {
  parts_.write_line("PingThread.Execute");
  thread_.MarkStarted();
  while (!thread_.Terminated()) {
    thread_.Sleep(kPassPeriodMs);
    if (thread_.Terminated()) break;
    PingClients();
  }
  parts_.write_line("PingThread.Terminated");
}

void TPingThread::PingClients() {
  const PingSettings settings = parts_.settings();
  clients::ClientList& clients = parts_.clients;
  clients::ClientList::Lock lock = clients.Acquire();
  for (const clients::ClientRef& client : clients.Entries(lock)) {
    if (client->Dropped || client->PingTimedOut) continue;
    try {
      if (!PingClient(*client, settings)) continue;
      parts_.report_give_up(*client);
      client->LeaveReason = "ping-timeout";
      client->PingTimedOut = true;
      client->SendPlayerLeft(client->PlayerNo + 1, wire::kReasonPingTimeout);
      return;  // the clients after this one are visited in the next pass
    } catch (const std::exception&) {
      // This client is skipped for this pass only.
    }
  }
}

bool TPingThread::PingClient(clients::TServerClient& client, const PingSettings& settings) {
  const uint32_t now = parts_.clock.Now();
  // Differences of tick counts stay right across the counter's wrap.
  if (now - client.LastSeen.load(std::memory_order_relaxed) <
      NonNegative(settings.idle_before_ping_ms)) {
    return false;
  }
  std::lock_guard<std::mutex> ping_lock(client.ping_mutex);
  clients::TServerClient::PingState& ping = client.Ping;
  if (ping.PingPending) {
    if (now - ping.PingSentAt < NonNegative(settings.wait_ms)) return false;
    ++ping.PingTries;
  }
  if (ping.PingTries > settings.max_tries) return true;
  ping.PingPending = false;
  ping.PingSentAt = 0;
  const clients::PeerRoute::Route route = client.Route();
  if (route.peer.port == 0) return false;  // no datagram from the client yet: never pinged
  uint8_t datagram[wire::kKeepAliveSize];
  wire::BuildKeepAlive(datagram, client.Id, wire::kTypePing, wire::kServerPingMarker);
  if (parts_.udp.SendTo(datagram, sizeof datagram, route.peer, route.reply_from)) {
    ping.PingSentAt = now;
    ping.PingPending = true;
    clients::Add(parts_.counters.UdpPacketsSent, 1);
    clients::Add(parts_.counters.UdpBytesSent, wire::kKeepAliveSize);
    clients::Add(client.Counters.UdpPacketsSent, 1);
    clients::Add(client.Counters.UdpBytesSent, wire::kKeepAliveSize);
  }
  return false;
}

}  // namespace voice
