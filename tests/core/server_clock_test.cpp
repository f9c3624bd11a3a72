// A server on a clock the test moves: bans end, and uptime and ages advance, when the server's
// clock says so, wherever they are read (the datagram intake, the operator's commands, the
// metrics).
#include <gtest/gtest.h>

#include "operator/commands.h"
#include "operator/server_wiring.h"
#include "platform/client_socket.h"
#include "support/http_exchange.h"
#include "support/manual_clock.h"
#include "support/voice_fixture.h"

namespace pltest {
namespace {

using oper::Json;

IniKeys OnTheManualClock() {
  return IniKeys()
      .Set("Metrics", "Listen", "127.0.0.1:0")
      // Idle clients are not pinged while the test moves the clock on.
      .Set("Ping", "IdleTimeBeforePing", "3600000")
      // An Id is taken from any address, so a datagram from a second address gets its answer.
      .Set("Security", "UdpFromAnyAddress", "1");
}

std::string Metrics(TestServer& server) {
  auto reply = HttpGet(server.server().MetricsPort(), "/metrics");
  return reply ? reply->body : "";
}

std::optional<uint8_t> PongMarker(const std::optional<std::vector<uint8_t>>& datagram) {
  if (!datagram) return std::nullopt;
  auto keep_alive = plclient::ParseKeepAlive(*datagram);
  if (!keep_alive || keep_alive->type != plclient::kKeepAlivePong) return std::nullopt;
  return keep_alive->marker;
}

TEST(ServerClock, BansEndWhenTheServerClockPassesTheirEnd) {
  ManualClock clock;
  TestServer server(OnTheManualClock(), clock);
  ASSERT_TRUE(server.started());
  VoiceClient voice = JoinWithVoice(server, "Voice");
  oper::OperatorCommands commands(oper::AccessTo(server.server()));
  const Json list{{"command", "ban"}, {"action", "list"}};
  commands.Handle(
      {{"command", "ban"}, {"action", "add"}, {"address", "192.0.2.0/24"}, {"duration", 60}});
  Json bans = commands.Handle(list)["bans"];
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0]["remaining_ms"], 60000);

  constexpr uint32_t kBanned = 0x7F000002;  // 127.0.0.2
  // An operator's ban: it silences the address's datagrams too.
  server.server().guard().bans().AddManual(plat::IpAddress::FromIpv4(kBanned), clock.MonotonicMs(),
                                           2000);
  EXPECT_NE(Metrics(server).find("\nplserver_active_bans 2\n"), std::string::npos);
  std::string error;
  auto banned = plat::UdpClientSocket::Bind({kBanned, 0}, &error);
  ASSERT_TRUE(banned) << error;
  const plat::Endpoint udp{0x7F000001, server.udp_port()};
  auto ping = [&](uint8_t marker) {
    std::vector<uint8_t> datagram =
        plclient::KeepAliveDatagram(voice.id, plclient::kKeepAlivePing, marker);
    return banned->SendTo(datagram.data(), datagram.size(), udp);
  };
  auto receive = [&]() -> std::optional<std::vector<uint8_t>> {
    std::vector<uint8_t> buffer(64);
    size_t size = 0;
    if (banned->Receive(buffer.data(), buffer.size(), 2000, &size, nullptr) != plat::IoStatus::kOk)
      return std::nullopt;
    buffer.resize(size);
    return buffer;
  };
  // The banned ping has been handled once the listener, one datagram at a time, has reached it
  // and then answered a later one.
  const uint32_t received = server.server().counters().UdpPacketsReceived;
  ASSERT_TRUE(ping(1));
  ASSERT_TRUE(WaitUntil([&] { return server.server().counters().UdpPacketsReceived != received; }));
  ASSERT_TRUE(voice.udp->Send(plclient::KeepAliveDatagram(voice.id, plclient::kKeepAlivePing, 3)));
  ASSERT_EQ(PongMarker(voice.udp->Receive(2000)), 3);
  clock.Advance(2000);
  ASSERT_TRUE(ping(2));
  EXPECT_EQ(PongMarker(receive()), 2) << "the ping of the ban's time went unanswered";

  clock.Advance(58000);
  EXPECT_TRUE(commands.Handle(list)["bans"].empty());
  EXPECT_NE(Metrics(server).find("\nplserver_active_bans 0\n"), std::string::npos);
  commands.DropEndedBans();
  EXPECT_EQ(server.ReadIni().find("192.0.2.0"), std::string::npos);
}

TEST(ServerClock, UptimeAndAgesAreTheServerClocks) {
  ManualClock clock;
  TestServer server(OnTheManualClock(), clock);
  ASSERT_TRUE(server.started());
  Member player = server.Join("Player");
  oper::OperatorCommands commands(oper::AccessTo(server.server()));
  clock.Advance(61500);
  EXPECT_EQ(commands.Handle({{"command", "status"}})["uptime_ms"], 61500);
  EXPECT_EQ(commands.Handle({{"command", "player"}, {"player", "Player"}})["connected_ms"], 61500);
  EXPECT_NE(Metrics(server).find("\nplserver_uptime_seconds 61.5\n"), std::string::npos);
}

std::unique_ptr<plclient::ProtocolClient> ConnectFrom(TestServer& server, uint32_t ip) {
  plclient::ClientOptions options;
  options.local_ip = ip;
  return plclient::ProtocolClient::Connect("127.0.0.1", server.tcp_port(), options);
}

// The Result of a refused login; 0 for an accepted one; nothing without an answer.
std::optional<int16_t> LoginResult(TestServer& server, uint32_t ip, const std::string& password) {
  auto client = ConnectFrom(server, ip);
  if (!client) return std::nullopt;
  plclient::LoginOutcome outcome = client->Login("Guess", password);
  if (outcome.accepted) return 0;
  return outcome.refused ? std::optional<int16_t>(outcome.refused->value) : std::nullopt;
}

TEST(ServerClock, EndedBansFailuresAndQuarantinesStayEndedAcrossTheTickCountsWrap) {
  ManualClock clock(0xFFFF0000u);  // the 32-bit tick count wraps a minute into the test
  TestServer server(IniKeys()
                        .Set("Passwords", "ServerPassword", "secret")
                        .Set("Ping", "IdleTimeBeforePing", "3600000"),
                    clock);
  constexpr uint32_t kGuesser = 0x7F000002, kRouter = 0x7F000003;
  // Ten failed passwords ban one address; Ids probed from behind another quarantine it.
  for (int i = 0; i < 10; ++i) ASSERT_EQ(LoginResult(server, kGuesser, "wrong"), -2) << i;
  auto player = ConnectFrom(server, kRouter);
  ASSERT_TRUE(player && player->Login("Player", "secret").accepted);
  ASSERT_TRUE(player->SendListsReq());
  auto lists = player->Await(plclient::ParseServerLists, 2000);
  ASSERT_TRUE(lists);
  // The player's voice address, then Ids probed from another port behind the same router.
  std::string error;
  auto home = plat::UdpClientSocket::Bind({kRouter, 0}, &error);
  auto other = plat::UdpClientSocket::Bind({kRouter, 0}, &error);
  ASSERT_TRUE(home && other) << error;
  const plat::Endpoint udp{0x7F000001, server.udp_port()};
  auto pinged = [&](plat::UdpClientSocket& socket, uint16_t id) {
    std::vector<uint8_t> datagram = plclient::KeepAliveDatagram(id, plclient::kKeepAlivePing, 1);
    socket.SendTo(datagram.data(), datagram.size(), udp);
    std::vector<uint8_t> answer(64);
    size_t size = 0;
    return socket.Receive(answer.data(), answer.size(), 1000, &size, nullptr) ==
           plat::IoStatus::kOk;
  };
  ASSERT_TRUE(pinged(*home, lists->id));
  for (uint16_t id = 1; id <= 6; ++id) {
    if (id == lists->id) continue;
    std::vector<uint8_t> probe = plclient::KeepAliveDatagram(id, plclient::kKeepAlivePing, 1);
    other->SendTo(probe.data(), probe.size(), udp);
  }
  ASSERT_TRUE(pinged(*home, lists->id)) << "the probes have been handled";
  // Both have ended long before nobody looks at them again, 24.9 days and more later.
  clock.Advance(360000u + 0x80000000u);
  EXPECT_EQ(LoginResult(server, kGuesser, "wrong"), -2) << "answered: a new count has begun";
  EXPECT_EQ(LoginResult(server, kGuesser, "secret"), 0) << "and the right one gets in";
  EXPECT_TRUE(pinged(*other, lists->id)) << "the player's datagram from a new port is taken";
}

}  // namespace
}  // namespace pltest
