// The metrics endpoint of the real binary: the start line names it, a scrape parses with
// Python's prometheus_client, passes Prometheus's promtool and its counters are those
// ServerStats reports, no password ever appears in it, and a Listen the server cannot use
// leaves the server running without metrics.
#include <signal.h>

#include <regex>

#include "blackbox/server_fixture.h"
#include "protoclient/protocol_client.h"
#include "protoclient/voice_datagrams.h"
#include "support/exposition_parser.h"
#include "support/http_exchange.h"
#include "support/test_server.h"
#include "support/tool_runner.h"

namespace pltest {
namespace {

constexpr char kAdminPassword[] = "Adm1n-Metrics";
constexpr char kServerPassword[] = "Srv-Metrics9";
constexpr char kWrongAdmin[] = "Wrong-Admin-Guess";
constexpr char kWrongServer[] = "Wrong-Srv-Guess";

class MetricsTest : public ServerFixture {
 protected:
  std::unique_ptr<ServerProcess> Start(const std::string& listen, const std::string& extra = "") {
    return StartOnFreePorts([&](int port) {
      pltest::WriteFile(
          IniPath(),
          CurrentIni(port, std::string("[Passwords]\r\nAdminPassword=") + kAdminPassword +
                               "\r\nServerPassword=" + kServerPassword +
                               "\r\n[Ping]\r\nIdleTimeBeforePing=3600000\r\n"
                               "[Channels]\r\n0=Lobby\r\n1=Stage\r\n[Metrics]\r\nListen=" +
                               listen + "\r\n" + extra));
    });
  }
  // The metrics port named by the start line; 0 when it says metrics=off.
  int MetricsPort(ServerProcess& server) {
    std::smatch match;
    const std::string output = server.Output();
    static const std::regex kStart(" info start .* metrics=(\\S+)");
    EXPECT_TRUE(std::regex_search(output, match, kStart)) << output;
    if (match.empty() || match[1] == "off") return 0;
    const std::string address = match[1];
    return std::stoi(address.substr(address.rfind(':') + 1));
  }
  std::unique_ptr<plclient::ProtocolClient> Connect() {
    std::string error;
    auto client =
        plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_), {}, &error);
    EXPECT_TRUE(client) << error;
    return client;
  }
};

TEST_F(MetricsTest, AScrapeParsesAndItsCountersAreThoseOfServerStatsWithoutAnyPassword) {
  auto server = Start("127.0.0.1:0");
  ASSERT_TRUE(server);
  const int metrics_port = MetricsPort(*server);
  ASSERT_NE(metrics_port, 0);

  // A session: two players with voice, an administrator, failed passwords of both kinds.
  auto alice = Connect();
  ASSERT_TRUE(alice && alice->Login("alice", kServerPassword).accepted);
  auto bob = Connect();
  ASSERT_TRUE(bob && bob->Login("bob", kServerPassword).accepted);
  ASSERT_TRUE(alice->SendAdminLogin(kAdminPassword));
  ASSERT_TRUE(alice->Await(&plclient::ParsePlayerIsAdmin, 3000));
  ASSERT_TRUE(bob->SendAdminLogin(kWrongAdmin));
  ASSERT_TRUE(bob->Await(&plclient::ParseResult, 3000));
  auto mallory = Connect();
  ASSERT_TRUE(mallory && mallory->Login("mallory", kWrongServer).refused);
  // Its connection closes after its frame has been counted.
  ASSERT_TRUE(mallory->WaitForClose(5000));
  ASSERT_TRUE(alice->SendListsReq());
  auto alice_lists = alice->Await(plclient::ParseServerLists, 3000);
  ASSERT_TRUE(bob->SendListsReq());
  auto bob_lists = bob->Await(plclient::ParseServerLists, 3000);
  ASSERT_TRUE(alice_lists && bob_lists);
  auto alice_udp = plclient::VoicePeer::Open(static_cast<uint16_t>(port_ + 1));
  auto bob_udp = plclient::VoicePeer::Open(static_cast<uint16_t>(port_ + 1));
  ASSERT_TRUE(alice_udp && bob_udp);
  // Bob's address comes with a keep-alive of a type the server ignores, then alice speaks.
  ASSERT_TRUE(bob_udp->Send(plclient::KeepAliveDatagram(bob_lists->id, 3, 0)));
  const std::vector<uint8_t> payload(40, 0x5A);
  uint32_t sent = 0;
  bool copied = false;
  while (sent < 10 && !copied) {
    // Until bob's address is known the copies have nowhere to go; then ten more.
    ASSERT_TRUE(alice_udp->Send(plclient::VoiceDatagramForRoom(alice_lists->id, ++sent, payload)));
    copied = bob_udp->Receive(300).has_value();
  }
  ASSERT_TRUE(copied);
  for (int i = 0; i < 10; ++i)
    ASSERT_TRUE(alice_udp->Send(plclient::VoiceDatagramForRoom(alice_lists->id, ++sent, payload)));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(bob_udp->Receive(3000)) << "copy " << i;

  // Quiet once the relay has counted every datagram (it counts a pass after its copies): the
  // scrape, then ServerStats, which reports the counters as they were before its own request.
  std::optional<pltest::HttpReply> scrape;
  ASSERT_TRUE(pltest::WaitUntil(
      [&] {
        scrape = pltest::HttpGet(metrics_port, "/metrics");
        return scrape && scrape->status == 200 &&
               scrape->body.find("\nplserver_voice_datagrams_relayed_total " +
                                 std::to_string(sent) + "\n") != std::string::npos;
      },
      20000));
  ASSERT_TRUE(alice->SendServerStatsReq());
  auto stats = alice->Await(plclient::ParseServerStats, 3000);
  ASSERT_TRUE(stats);

  std::string error;
  auto parsed = pltest::ParseExposition(scrape->body, &error);
  ASSERT_TRUE(parsed) << error << "\n" << scrape->body;
  const plclient::Counters& c = stats->counters;
  EXPECT_EQ(parsed->Value("plserver_udp_packets_sent_total"), c.udp_packets_sent);
  EXPECT_EQ(parsed->Value("plserver_udp_bytes_sent_total"), c.udp_bytes_sent);
  EXPECT_EQ(parsed->Value("plserver_udp_packets_received_total"), c.udp_packets_received);
  EXPECT_EQ(parsed->Value("plserver_udp_bytes_received_total"), c.udp_bytes_received);
  EXPECT_EQ(parsed->Value("plserver_control_frames_sent_total"), c.tcp_packets_sent);
  EXPECT_EQ(parsed->Value("plserver_tcp_bytes_sent_total"), c.tcp_bytes_sent);
  EXPECT_EQ(parsed->Value("plserver_control_frames_received_total"), c.tcp_packets_received);
  EXPECT_EQ(parsed->Value("plserver_tcp_bytes_received_total"), c.tcp_bytes_received);
  EXPECT_GT(c.udp_packets_sent, 0u);
  EXPECT_EQ(parsed->TypeOf("plserver_tcp_bytes_received_total"), "counter");

  EXPECT_EQ(parsed->Value("plserver_players"), 2);
  EXPECT_EQ(parsed->Value("plserver_room_players", {{"room", "1"}, {"name", "Lobby"}}), 2);
  EXPECT_EQ(parsed->Value("plserver_room_players", {{"room", "2"}, {"name", "Stage"}}), 0);
  EXPECT_EQ(parsed->Value("plserver_failed_logins_total", {{"kind", "server"}}), 1);
  EXPECT_EQ(parsed->Value("plserver_failed_logins_total", {{"kind", "admin"}}), 1);
  EXPECT_EQ(parsed->Value("plserver_active_bans"), 0);
  EXPECT_EQ(parsed->Value("plserver_voice_relay_delay_seconds_count"), sent);
  EXPECT_EQ(parsed->Value("plserver_build_info", {{"version", "1.2.0.19"},
                                                  {"platform", "linux"},
                                                  {"server_version", "v1.2.0 Win32 Service"}}),
            1);
  // Prometheus's own linter has nothing to say about the scrape.
  if (pltest::FileExists("/usr/bin/promtool")) {
    pltest::WriteFile(work_dir_.File("scrape.txt"), scrape->body);
    pltest::ToolResult lint = pltest::RunTool(
        "/bin/sh", {"-c", "/usr/bin/promtool check metrics < " + work_dir_.File("scrape.txt")});
    EXPECT_EQ(lint.exit_code, 0) << lint.out << lint.err;
    EXPECT_EQ(lint.out + lint.err, "");
  }

  // No password in any of what the server wrote or served.
  server->Signal(SIGTERM);
  ASSERT_TRUE(server->WaitForExit(15s).has_value());
  const std::string everything = scrape->body + server->Output() + pltest::ReadFile(LogPath());
  for (const char* password : {kAdminPassword, kServerPassword, kWrongAdmin, kWrongServer})
    EXPECT_EQ(everything.find(password), std::string::npos) << password;
}

TEST_F(MetricsTest, AListenTheServerCannotUseIsAWarningAndTheServerRunsWithoutMetrics) {
  {
    auto server = Start("localhost:9766");
    ASSERT_TRUE(server);
    EXPECT_EQ(MetricsPort(*server), 0);
    EXPECT_NE(server->Output().find("warning setting section=Metrics key=\"Listen\""),
              std::string::npos)
        << server->Output();
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(15s), 0);
  }
  std::remove(LogPath().c_str());
  // A port another program holds.
  int held_port = 0;
  std::unique_ptr<pltest::PortHolder> holder;
  for (int attempt = 0; attempt < 10 && !holder; ++attempt) {
    held_port = pltest::PickFreePortPair();
    holder = std::make_unique<pltest::PortHolder>(true, held_port);
    if (!holder->holding()) holder.reset();
  }
  ASSERT_TRUE(holder);
  auto server = Start("127.0.0.1:" + std::to_string(held_port));
  ASSERT_TRUE(server);
  EXPECT_EQ(MetricsPort(*server), 0);
  EXPECT_NE(server->Output().find(
                "warning metrics-failed listen=\"127.0.0.1:" + std::to_string(held_port) + "\""),
            std::string::npos)
      << server->Output();
  // The voice server itself is there.
  auto client = Connect();
  EXPECT_TRUE(client && client->Login("alice", kServerPassword).accepted);
  server->Signal(SIGTERM);
  EXPECT_EQ(server->WaitForExit(15s), 0);
}

}  // namespace
}  // namespace pltest
