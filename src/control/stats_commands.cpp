// The statistics requests: PlayerStatsReq about one player and ServerStatsReq about the server.
#include <algorithm>

#include "control/command_abandoned.h"
#include "core/servermain.h"

namespace core {
namespace {

constexpr size_t kPlayerByte = 8;
constexpr uint32_t kMaxReportedRtt = 0xFFFF;

void PutCounters(wire::FrameWriter& frame, const TrafficCounters& counters) {
  for (uint32_t value : counters.Values()) frame.U32(value);
}

}  // namespace

void TParlowindServer::PlayerStatsReq(std::span<const uint8_t> frame,
                                      clients::TServerClient& client) {
  events_.Report("CMD <-", "PlayerStatsReq", wire::kPlayerStatsReq, &client);
  const uint8_t player_byte = wire::ReadU8(frame, kPlayerByte);
  if (player_byte == 0) throw control::CommandAbandoned();
  clients::ClientRef player = clients_.FindClientByPlayerNo(static_cast<uint8_t>(player_byte - 1));
  if (!player) return client.SendResult(wire::kResultNoSuchPlayerStats);

  const bool older = client.IsOlderDialect();
  const bool admin = client.IsAdmin;
  // The field holds 15 characters, a dotted IPv4 address: an IPv6 address, which seldom fits
  // and which clients do not expect there, goes out empty (its port still does); the operator
  // socket shows it in full.
  const plat::Endpoint peer = player->Peer();
  const std::string address = admin && peer.ip.IsIpv4() ? player->PeerIP() : std::string();
  const uint32_t now = clock_.Now();
  clients::TServerClient::PingState ping = player->PingSnapshot();
  wire::FrameWriter reply(104);
  reply.Header(client.Id, older ? wire::kPlayerStatsOlder : wire::kPlayerStatsNewer)
      .U32(now - player->ConnectTime)
      .F32(static_cast<float>(player->LossPercentage()))
      .U32(now - player->LastSeen.load())
      .U16(std::min(ping.PingRtt, kMaxReportedRtt))
      .U16(admin ? peer.port : 0)
      .CountedText(address, wire::kAddressLength);
  if (!older) reply.CountedText(player->ClientVersion, wire::kNameLength);
  PutCounters(reply, player->Counters);
  reply.U8(player_byte);
  std::vector<uint8_t> bytes = reply.Finish();
  client.QueueBytes(bytes.data(), static_cast<int>(bytes.size()));
}

void TParlowindServer::ServerStatsReq(clients::TServerClient& client) {
  events_.Report("CMD <-", "ServerStatsReq", wire::kServerStatsReq, &client);
  wire::FrameWriter reply(75);
  reply.Header(client.Id, wire::kServerStats).U32(clock_.Now() - start_tick_);
  PutCounters(reply, counters_);
  reply.CountedText(settings_.Get()->ServerVersion, wire::kNameLength);
  std::vector<uint8_t> bytes = reply.Finish();
  client.QueueBytes(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace core
