// The voice path end to end over loopback: intake, relay to the room and to listed players,
// the checks, the address rule, keep-alives.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/client_socket.h"
#include "support/addresses.h"
#include "support/voice_fixture.h"
#include "voice/pingthread.h"
#include "wire/global_types.h"

namespace pltest {
namespace {

using plclient::VoiceDatagramForPlayers;
using plclient::VoiceDatagramForRoom;

uint16_t IdOf(const std::vector<uint8_t>& datagram) {
  return wire::ReadU16(datagram, wire::kOffsetId);
}

class Relay : public ::testing::Test {
 protected:
  TestServer server_;
};

TEST_F(Relay, ModeZeroReachesTheOthersOfTheRoomEachWithItsOwnIdAndCrc) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B");
  VoiceClient c = JoinWithVoice(server_, "C");
  VoiceClient d = JoinWithVoice(server_, "D", 3);
  std::vector<uint8_t> sent = VoiceDatagramForRoom(a.id, 1, Payload(60), 0x42);
  ASSERT_TRUE(a.udp->Send(sent));
  for (VoiceClient* listener : {&b, &c}) {
    auto copies = listener->Collect();
    ASSERT_EQ(copies.size(), 1u);
    const std::vector<uint8_t>& copy = copies[0];
    EXPECT_EQ(IdOf(copy), listener->id);
    EXPECT_TRUE(plclient::VoiceCrcValid(copy));
    ASSERT_EQ(copy.size(), sent.size());
    // Everything but the Id and the CRC goes out as the client sent it.
    for (size_t i = 0; i < copy.size(); ++i) {
      if (i == 2 || i == 3 || (i >= 12 && i < 16)) continue;
      EXPECT_EQ(copy[i], sent[i]) << "byte " << i;
    }
  }
  EXPECT_TRUE(d.Collect(200).empty());
  EXPECT_TRUE(a.Collect(100).empty());
  EXPECT_EQ(b.Record(server_)->Counters.UdpPacketsSent.load(), 1u);
  EXPECT_EQ(b.Record(server_)->Counters.UdpBytesSent.load(), sent.size());
}

TEST_F(Relay, AloneInARoomAndModesOtherThanZeroAndOneReachNobody) {
  VoiceClient a = JoinWithVoice(server_, "A", 5);
  VoiceClient b = JoinWithVoice(server_, "B");
  ASSERT_TRUE(a.udp->Send(VoiceDatagramForRoom(a.id, 1, Payload(20))));
  EXPECT_TRUE(b.Collect(200).empty());
  std::vector<uint8_t> mode_two = VoiceDatagramForRoom(b.id, 1, Payload(20));
  mode_two[6] = 2;
  plclient::SealVoiceDatagram(mode_two);
  VoiceClient c = JoinWithVoice(server_, "C");
  ASSERT_TRUE(b.udp->Send(mode_two));
  EXPECT_TRUE(c.Collect(200).empty());
}

TEST_F(Relay, ModeOneReachesEachListedPlayerOnceWhateverTheRoomWithoutTheList) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B", 4);
  VoiceClient c = JoinWithVoice(server_, "C");
  VoiceClient d = JoinWithVoice(server_, "D");
  // B twice, the sender itself, C; D is not listed.
  const std::vector<uint8_t> list = {b.player_byte, b.player_byte, a.player_byte, c.player_byte};
  std::vector<uint8_t> payload = Payload(100);
  std::vector<uint8_t> sent = VoiceDatagramForPlayers(a.id, 9, list, payload, 0x17);
  ASSERT_EQ(sent.size(), 121u);
  ASSERT_TRUE(a.udp->Send(sent));
  for (VoiceClient* listener : {&b, &c}) {
    auto copies = listener->Collect();
    ASSERT_EQ(copies.size(), 1u) << "player " << int(listener->player_byte);
    const std::vector<uint8_t>& copy = copies[0];
    ASSERT_EQ(copy.size(), 116u);
    EXPECT_EQ(wire::ReadU16(copy, 4), 116u);
    EXPECT_EQ(copy[6], 0);     // mode 0
    EXPECT_EQ(copy[7], 0x17);  // byte 7 as received
    EXPECT_EQ(wire::ReadU32(copy, 8), 9u);
    EXPECT_EQ(IdOf(copy), listener->id);
    EXPECT_TRUE(plclient::VoiceCrcValid(copy));
    EXPECT_EQ(std::vector<uint8_t>(copy.begin() + 16, copy.end()), payload);
  }
  EXPECT_TRUE(d.Collect(150).empty());
  EXPECT_TRUE(a.Collect(100).empty());
}

TEST_F(Relay, FaultyPacketIdsAndCrcsAreCountedAndStillRelayed) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B");
  clients::ClientRef record = a.Record(server_);
  auto send = [&](uint32_t packet_id, bool damage_crc) {
    std::vector<uint8_t> datagram = VoiceDatagramForRoom(a.id, packet_id, Payload(30));
    if (damage_crc) datagram[12] ^= 0x01;
    ASSERT_TRUE(a.udp->Send(datagram));
    auto copies = b.Collect();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(plclient::VoiceCrcValid(copies[0]));  // each copy is sealed afresh
  };
  send(7, false);
  EXPECT_EQ(record->UdpErrors.load(), 0u);
  send(9, false);  // 8 is missing
  EXPECT_EQ(record->UdpErrors.load(), 1u);
  send(10, false);  // follows 9
  EXPECT_EQ(record->UdpErrors.load(), 1u);
  send(11, true);
  EXPECT_EQ(record->UdpErrors.load(), 2u);
  send(11, false);  // the same id again breaks the sequence
  EXPECT_EQ(record->UdpErrors.load(), 3u);
  EXPECT_EQ(record->LastPacketId.load(), 11u);
  EXPECT_EQ(record->Counters.UdpPacketsReceived.load(), 6u);  // the five and the registration
}

TEST_F(Relay, PingsAreAnsweredToTheirSourceAndPongsAndUnknownIdsAreNot) {
  VoiceClient a = JoinWithVoice(server_, "A");
  const uint32_t sent_before = server_.server().counters().UdpPacketsSent.load();
  ASSERT_TRUE(a.udp->Send(plclient::KeepAliveDatagram(a.id, 1, 3)));
  auto answers = a.Collect();
  ASSERT_EQ(answers.size(), 1u);
  const std::vector<uint8_t> expected = {0xBB,
                                         0xAA,
                                         static_cast<uint8_t>(a.id),
                                         static_cast<uint8_t>(a.id >> 8),
                                         0x0C,
                                         0x00,
                                         0x02,
                                         0x03,
                                         0xFF,
                                         0xEE,
                                         0x00,
                                         0x00};
  EXPECT_EQ(answers[0], expected);
  EXPECT_EQ(server_.server().counters().UdpPacketsSent.load(), sent_before + 1);

  ASSERT_TRUE(a.udp->Send(plclient::KeepAliveDatagram(a.id, 1, 5)));  // a marker above 4: a pong
  EXPECT_TRUE(a.Collect(200).empty());
  uint16_t unknown = static_cast<uint16_t>(a.id == 50000 ? 1 : a.id + 1);
  ASSERT_TRUE(a.udp->Send(plclient::KeepAliveDatagram(unknown, 1, 1)));
  EXPECT_TRUE(a.Collect(200).empty());
}

TEST_F(Relay, ADroppedClientNeitherSendsNorReceives) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B");
  VoiceClient c = JoinWithVoice(server_, "C");
  b.Record(server_)->Dropped = true;
  ASSERT_TRUE(a.udp->Send(VoiceDatagramForRoom(a.id, 1, Payload(10))));
  EXPECT_EQ(c.Collect().size(), 1u);
  EXPECT_TRUE(b.Collect(150).empty());
  ASSERT_TRUE(b.udp->Send(VoiceDatagramForRoom(b.id, 1, Payload(10))));
  EXPECT_TRUE(c.Collect(200).empty());
}

TEST_F(Relay, ShortDatagramsAreCountedButRelayedToNobody) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B");
  clients::ClientRef record = a.Record(server_);
  std::vector<uint8_t> full = VoiceDatagramForRoom(a.id, 1, Payload(20));
  for (size_t size : {3u, 4u, 8u, 15u}) {
    ASSERT_TRUE(a.udp->Send(std::vector<uint8_t>(full.begin(), full.begin() + size)));
  }
  // A list of 200 entries in a datagram of 30 bytes.
  std::vector<uint8_t> overrun =
      VoiceDatagramForPlayers(a.id, 2, std::vector<uint8_t>{b.player_byte}, Payload(12));
  overrun[16] = 200;
  plclient::SealVoiceDatagram(overrun);
  ASSERT_TRUE(a.udp->Send(overrun));
  EXPECT_TRUE(b.Collect(250).empty());
  // Three bytes do not hold the whole Id, which then names nobody; the other four count for A.
  EXPECT_TRUE(
      WaitUntil([&] { return record->Counters.UdpPacketsReceived.load() == 1u + 3u + 1u; }));
  // Still serving.
  ASSERT_TRUE(a.udp->Send(VoiceDatagramForRoom(a.id, 3, Payload(20))));
  EXPECT_EQ(b.Collect().size(), 1u);
}

TEST_F(Relay, ARefusedDatagramCostsOneErrorAndTheNextGoodOneNone) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B");
  clients::ClientRef record = a.Record(server_);
  auto send_good = [&](uint32_t packet_id) {
    ASSERT_TRUE(a.udp->Send(VoiceDatagramForRoom(a.id, packet_id, Payload(20))));
    ASSERT_EQ(b.Collect().size(), 1u) << packet_id;  // handled once its copy is out
  };
  auto send_refused = [&](std::vector<uint8_t> datagram, uint32_t errors_after) {
    ASSERT_TRUE(a.udp->Send(datagram));
    EXPECT_TRUE(WaitUntil([&] { return record->UdpErrors.load() == errors_after; }))
        << record->UdpErrors.load();
  };
  send_good(1);
  // Too short for the header, with its packet id 2: the next, 3, follows it.
  std::vector<uint8_t> full = VoiceDatagramForRoom(a.id, 2, Payload(20));
  send_refused(std::vector<uint8_t>(full.begin(), full.begin() + 15), 1);
  send_good(3);
  EXPECT_EQ(record->UdpErrors.load(), 1u);
  // A list past its end, packet id 4.
  std::vector<uint8_t> overrun =
      VoiceDatagramForPlayers(a.id, 4, std::vector<uint8_t>{b.player_byte}, Payload(12));
  overrun[16] = 200;
  plclient::SealVoiceDatagram(overrun);
  send_refused(overrun, 2);
  send_good(5);
  EXPECT_EQ(record->UdpErrors.load(), 2u);
  // Too short to hold a packet id: the next datagram starts a new sequence.
  send_refused(std::vector<uint8_t>(full.begin(), full.begin() + 8), 3);
  send_good(9);
  EXPECT_EQ(record->UdpErrors.load(), 3u);
  send_good(11);  // 10 is missing: counted as it always is
  EXPECT_EQ(record->UdpErrors.load(), 4u);
}

std::unique_ptr<plat::UdpClientSocket> BindOn(uint32_t ip) {
  std::string error;
  auto socket = plat::UdpClientSocket::Bind({ip, 0}, &error);
  EXPECT_TRUE(socket) << error;
  return socket;
}

TEST_F(Relay, AnIdIsOnlyBelievedFromTheAddressOfItsControlConnection) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B");
  const plat::Endpoint registered = a.Record(server_)->Peer();
  auto stranger = BindOn(0x7F000002);  // 127.0.0.2: another host
  std::vector<uint8_t> forged = VoiceDatagramForRoom(a.id, 1, Payload(20));
  ASSERT_TRUE(stranger->SendTo(forged.data(), forged.size(), {0x7F000001, server_.udp_port()}));
  EXPECT_TRUE(b.Collect(250).empty());
  EXPECT_EQ(a.Record(server_)->Peer(), registered);
  // From the right host another port is fine: NAT may rebind.
  auto rebound = BindOn(0x7F000001);
  ASSERT_TRUE(rebound->SendTo(forged.data(), forged.size(), {0x7F000001, server_.udp_port()}));
  EXPECT_EQ(b.Collect().size(), 1u);
  EXPECT_EQ(a.Record(server_)->PeerPort(), rebound->Local().port);
}

// A player's UDP socket on 127.0.0.1 (::1 for an IPv6 `server_ip`) that talks to the server at
// `server_ip`, registered for the player with a keep-alive the server ignores.
std::unique_ptr<plat::UdpClientSocket> TalkingTo(TestServer& server, const VoiceClient& player,
                                                 const plat::IpAddress& server_ip) {
  std::string error;
  auto socket =
      plat::UdpClientSocket::Bind({server_ip.IsIpv4() ? V4(0x7F000001) : Ip("::1"), 0}, &error);
  EXPECT_TRUE(socket) << error;
  const std::vector<uint8_t> hello = plclient::KeepAliveDatagram(player.id, 3, 0);
  EXPECT_TRUE(socket->SendTo(hello.data(), hello.size(), {server_ip, server.udp_port()}));
  EXPECT_TRUE(WaitUntil([&] { return player.Record(server)->PeerPort() == socket->Local().port; }));
  return socket;
}

struct Arrival {
  plat::Endpoint from;
  uint8_t traffic_class = 0;
};

std::optional<Arrival> NextArrival(plat::UdpClientSocket& socket) {
  uint8_t buffer[2048];
  size_t received = 0;
  Arrival arrival;
  if (socket.Receive(buffer, sizeof buffer, 2000, &received, &arrival.from) != plat::IoStatus::kOk)
    return std::nullopt;
  arrival.traffic_class = socket.LastTrafficClass();
  return arrival;
}

TEST_F(Relay, PongsCopiesAndPingsLeaveFromTheAddressEachPlayerTalksTo) {
  VoiceClient a = JoinWithVoice(server_, "A");
  VoiceClient b = JoinWithVoice(server_, "B");
  auto a_socket = TalkingTo(server_, a, V4(0x7F000002));
  auto b_socket = TalkingTo(server_, b, V4(0x7F000003));
  const std::vector<uint8_t> ping = plclient::KeepAliveDatagram(a.id, 1, 3);
  ASSERT_TRUE(a_socket->SendTo(ping.data(), ping.size(), {0x7F000002, server_.udp_port()}));
  std::optional<Arrival> pong = NextArrival(*a_socket);
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->from, (plat::Endpoint::Ipv4(0x7F000002, server_.udp_port())));
  const std::vector<uint8_t> spoken = VoiceDatagramForRoom(a.id, 1, Payload(40));
  ASSERT_TRUE(a_socket->SendTo(spoken.data(), spoken.size(), {0x7F000002, server_.udp_port()}));
  std::optional<Arrival> copy = NextArrival(*b_socket);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->from, (plat::Endpoint::Ipv4(0x7F000003, server_.udp_port())));
  voice::PingerParts pinger_parts = server_.server().PingerParts();
  pinger_parts.settings = [] {
    return voice::PingSettings{0, 60000, 3};
  };  // every player is due at once
  voice::TPingThread pinger(pinger_parts);
  pinger.PingClients();
  std::optional<Arrival> server_ping = NextArrival(*a_socket);
  ASSERT_TRUE(server_ping);
  EXPECT_EQ(server_ping->from, (plat::Endpoint::Ipv4(0x7F000002, server_.udp_port())));
}

// The TOS byte (IPv6: traffic class) of a relayed copy to a player on loopback `host`, with
// [Voice] DSCP at `dscp` (nothing: the default).
uint8_t RelayedTrafficClass(std::optional<std::string> dscp,
                            const std::string& host = "127.0.0.1") {
  IniKeys keys;
  if (dscp) keys.Set("Voice", "DSCP", *dscp);
  TestServer server(keys);
  VoiceClient a = JoinWithVoice(server, "A");
  VoiceClient b = JoinWithVoice(server, "B", 1, "1.3.0", host);
  auto b_socket = TalkingTo(server, b, Ip(host));
  EXPECT_TRUE(b_socket->ReportTrafficClass());
  EXPECT_TRUE(a.udp->Send(VoiceDatagramForRoom(a.id, 1, Payload(40))));
  std::optional<Arrival> copy = NextArrival(*b_socket);
  EXPECT_TRUE(copy);
  return copy ? copy->traffic_class : 0xFF;
}

TEST(RelayMarking, VoiceLeavesMarkedForExpeditedForwardingUnlessTurnedOff) {
  EXPECT_EQ(RelayedTrafficClass(std::nullopt), 0xB8);
  EXPECT_EQ(RelayedTrafficClass("0"), 0x00);
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no ::1 on this host";
  EXPECT_EQ(RelayedTrafficClass(std::nullopt, "::1"), 0xB8);
}

// One socket takes both families: a player on IPv4 and one on IPv6 hear each other, and the
// IPv6 one is known by its own address.
TEST_F(Relay, PlayersOnIPv4AndIPv6HearEachOther) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no ::1 on this host";
  VoiceClient v4 = JoinWithVoice(server_, "A");
  VoiceClient v6 = JoinWithVoice(server_, "B", 1, "1.3.0", "::1");
  EXPECT_EQ(v6.Record(server_)->PeerIP(), "::1");
  ASSERT_TRUE(v4.udp->Send(VoiceDatagramForRoom(v4.id, 1, Payload(40))));
  std::vector<std::vector<uint8_t>> heard = v6.Collect();
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(IdOf(heard[0]), v6.id);
  ASSERT_TRUE(v6.udp->Send(VoiceDatagramForRoom(v6.id, 1, Payload(40))));
  heard = v4.Collect();
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(IdOf(heard[0]), v4.id);
}

TEST(RelayAnyAddress, TheSettingRestoresAcceptanceFromAnyAddress) {
  TestServer server(IniKeys().Set("Security", "UdpFromAnyAddress", "1"));
  VoiceClient a = JoinWithVoice(server, "A");
  VoiceClient b = JoinWithVoice(server, "B");
  auto stranger = BindOn(0x7F000002);
  std::vector<uint8_t> datagram = VoiceDatagramForRoom(a.id, 1, Payload(20));
  ASSERT_TRUE(stranger->SendTo(datagram.data(), datagram.size(), {0x7F000001, server.udp_port()}));
  EXPECT_EQ(b.Collect().size(), 1u);
  EXPECT_EQ(a.Record(server)->Peer().ip, plat::IpAddress::FromIpv4(0x7F000002));
}

}  // namespace
}  // namespace pltest
