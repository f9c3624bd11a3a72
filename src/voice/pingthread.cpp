#include "voice/pingthread.h"

#include "core/servermain.h"
#include "platform/clock.h"
#include "wire/datagrams.h"

namespace voice {
namespace {

uint32_t NonNegative(int32_t milliseconds) {
  return milliseconds < 0 ? 0u : static_cast<uint32_t>(milliseconds);
}

}  // namespace

std::optional<std::string> TPingThread::Start() {
  return thread_.Start("ping", [this] { Execute(); });
}

void TPingThread::Execute() {
  server_.WriteWorkerLine("PingThread.Execute");
  thread_.MarkStarted();
  while (!thread_.Terminated()) {
    thread_.Sleep(kPassPeriodMs);
    if (thread_.Terminated()) break;
    PingClients();
  }
  server_.WriteWorkerLine("PingThread.Terminated");
}

void TPingThread::PingClients() {
  clients::ClientList& clients = server_.clients();
  clients::ClientList::Lock lock = clients.Acquire();
  for (const clients::ClientRef& client : clients.Entries(lock)) {
    if (client->Dropped || client->PingTimedOut) continue;
    try {
      if (!PingClient(*client)) continue;
      server_.events().Report("TCP/IP", "Initiated Ping Disconnect", 0, client.get());
      client->LeaveReason = "ping-timeout";
      client->PingTimedOut = true;
      client->SendPlayerLeft(client->PlayerNo + 1, wire::kReasonPingTimeout);
      return;  // the clients after this one are visited in the next pass
    } catch (const std::exception&) {
      // This client is skipped for this pass only.
    }
  }
}

bool TPingThread::PingClient(clients::TServerClient& client) {
  const core::Settings& settings = server_.settings();
  const uint32_t now = plat::TickCount();
  // Differences of tick counts stay right across the counter's wrap.
  if (now - client.LastSeen.load(std::memory_order_relaxed) <
      NonNegative(settings.IdleTimeBeforePing)) {
    return false;
  }
  std::lock_guard<std::mutex> ping_lock(client.ping_mutex);
  clients::TServerClient::PingState& ping = client.Ping;
  if (ping.PingPending) {
    if (now - ping.PingSentAt < NonNegative(settings.PingWaitTime)) return false;
    ++ping.PingTries;
  }
  if (ping.PingTries > settings.MaxPingTries) return true;
  ping.PingPending = false;
  ping.PingSentAt = 0;
  const plat::Endpoint peer = client.Peer();
  if (peer.port == 0) return false;  // no datagram from the client yet: never pinged
  uint8_t datagram[wire::kKeepAliveSize];
  wire::BuildKeepAlive(datagram, client.Id, wire::kTypePing, wire::kServerPingMarker);
  if (server_.udp().SendTo(datagram, sizeof datagram, peer)) {
    ping.PingSentAt = now;
    ping.PingPending = true;
    core::Add(server_.counters().UdpPacketsSent, 1);
    core::Add(server_.counters().UdpBytesSent, wire::kKeepAliveSize);
    core::Add(client.Counters.UdpPacketsSent, 1);
    core::Add(client.Counters.UdpBytesSent, wire::kKeepAliveSize);
  }
  return false;
}

}  // namespace voice
