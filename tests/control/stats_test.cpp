// The statistics requests: both dialects of PlayerStats, what only an administrator sees, and
// ServerStats with the counters as they stood before the request.
#include <gtest/gtest.h>

#include "support/test_server.h"
#include "wire/global_types.h"

namespace {

using plclient::Frame;
using pltest::Member;
using pltest::TestServer;

std::optional<Frame> StatsAbout(Member& asker, uint8_t player_byte) {
  EXPECT_TRUE(asker->SendPlayerStatsReq(player_byte));
  return asker->ReadUntil(
      [](const Frame& f) { return f.Code() == 60 || f.Code() == 61 || f.size() == 8; }, 2000);
}

// The player's UDP address as the voice channel would have recorded it.
void RecordPeer(TestServer& server, uint8_t player_byte, plat::Endpoint peer) {
  clients::ClientRef player =
      server.server().clients().FindClientByPlayerNo(static_cast<uint8_t>(player_byte - 1));
  ASSERT_TRUE(player);
  player->SetPeer(peer);
}

TEST(PlayerStats, OlderDialectIs73BytesAndHidesTheAddressFromNonAdministrators) {
  TestServer server;
  Member asker = server.Join("Asker", "1.2.0");
  Member player = server.Join("Player", "9.9");
  asker->Await(&plclient::ParsePlayerJoined, 2000);
  RecordPeer(server, player.player_byte, {0x7F000001, 40000});
  std::optional<Frame> frame = StatsAbout(asker, player.player_byte);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->size(), 73u);
  EXPECT_EQ(frame->Code(), 60);
  EXPECT_EQ(frame->Length(), 73);
  EXPECT_EQ(frame->Id(), asker.id);
  auto stats = plclient::ParsePlayerStats(*frame);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->peer_port, 0);
  EXPECT_EQ(frame->bytes[24], 0) << "empty address";
  EXPECT_EQ(stats->loss_percentage, 0.0f);
  EXPECT_EQ(stats->player_byte, player.player_byte);
  EXPECT_EQ(frame->bytes[72], player.player_byte);
  // The login frame comes before the client exists: only the lists request is the player's own.
  // The server sent it LoginAccepted and ServerLists.
  EXPECT_EQ(stats->counters.tcp_packets_received, 1u);
  EXPECT_EQ(stats->counters.tcp_bytes_received, 10u);
  EXPECT_EQ(stats->counters.tcp_packets_sent, 2u);
  EXPECT_LT(stats->connected_ms, 60000u);
}

TEST(PlayerStats, NewerDialectIs104BytesWithTheVersionAndShowsTheAddressToAnAdministrator) {
  TestServer server;
  Member admin = server.JoinAsAdmin("Admin");
  Member player = server.Join("Player", "2.0-beta");
  admin->Await(&plclient::ParsePlayerJoined, 2000);
  RecordPeer(server, player.player_byte, {0x7F000001, 40001});
  std::optional<Frame> frame = StatsAbout(admin, player.player_byte);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->size(), 104u);
  EXPECT_EQ(frame->Code(), 61);
  EXPECT_EQ(frame->Length(), 104);
  auto stats = plclient::ParsePlayerStats(*frame);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->peer_port, 40001);
  EXPECT_EQ(stats->peer_ip, "127.0.0.1");
  EXPECT_EQ(stats->version, "2.0-beta");
  EXPECT_EQ(frame->bytes[40], 8);
  EXPECT_EQ(stats->counters.tcp_packets_received, 1u);
  EXPECT_EQ(wire::ReadU32(frame->bytes, 95), 1u) << "counters start at the odd offset 71";
  EXPECT_EQ(frame->bytes[103], player.player_byte);

  // An IPv6 address does not fit the field's 15 characters: empty, with the port.
  RecordPeer(server, player.player_byte, {*plat::ParseIpAddress("2001:db8::1"), 40002});
  frame = StatsAbout(admin, player.player_byte);
  ASSERT_TRUE(frame);
  stats = plclient::ParsePlayerStats(*frame);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->peer_port, 40002);
  EXPECT_EQ(stats->peer_ip, "");
}

TEST(PlayerStats, AnAdministratorSeesNoAddressBeforeTheFirstDatagram) {
  TestServer server;
  Member admin = server.JoinAsAdmin("Admin");
  std::optional<Frame> frame = StatsAbout(admin, admin.player_byte);  // about itself
  ASSERT_TRUE(frame);
  auto stats = plclient::ParsePlayerStats(*frame);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->peer_port, 0);
  EXPECT_EQ(stats->peer_ip, "");
}

TEST(PlayerStats, UnknownPlayerGivesMinus60AndPlayerByteZeroNoReply) {
  TestServer server;
  Member asker = server.Join("Asker");
  std::optional<Frame> frame = StatsAbout(asker, 42);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->bytes,
            (std::vector<uint8_t>{0xBA, 0xB0, static_cast<uint8_t>(asker.id),
                                  static_cast<uint8_t>(asker.id >> 8), 8, 0, 0xC4, 0xFF}));
  ASSERT_TRUE(asker->SendPlayerStatsReq(0));
  EXPECT_TRUE(asker->ExpectSilence(200));
}

TEST(ServerStats, Is75BytesWithTheCountersAsTheyWereBeforeTheRequest) {
  TestServer server;
  Member asker = server.Join("Asker");
  core::TrafficCounters& counters = server.server().counters();
  ASSERT_TRUE(pltest::WaitUntil([&] { return counters.TcpPacketsSent.load() == 2; }));
  const uint32_t received_before = counters.TcpPacketsReceived.load();
  const uint32_t bytes_before = counters.TcpBytesReceived.load();
  ASSERT_TRUE(asker->SendServerStatsReq());
  std::optional<Frame> frame = asker->ReadFrame(2000);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->size(), 75u);
  EXPECT_EQ(frame->Code(), 70);
  EXPECT_EQ(frame->Id(), asker.id);
  auto stats = plclient::ParseServerStats(*frame);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->counters.tcp_packets_received, received_before);
  EXPECT_EQ(stats->counters.tcp_bytes_received, bytes_before);
  EXPECT_EQ(stats->counters.tcp_packets_sent, 2u);
  EXPECT_EQ(stats->version, "v1.2.0 Win32 Service");
  EXPECT_LT(stats->uptime_ms, 60000u);
  EXPECT_TRUE(
      pltest::WaitUntil([&] { return counters.TcpPacketsReceived.load() == received_before + 1; }));
  EXPECT_EQ(counters.TcpBytesReceived.load(), bytes_before + 8);
}

}  // namespace
