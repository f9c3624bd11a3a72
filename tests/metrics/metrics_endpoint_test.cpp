// The metrics endpoint of a server in this process, over real sockets: what it serves and what it
// refuses, the bounds on requests, and scrapes while voice flows (run under ThreadSanitizer in CI).
#include "metrics/metrics_endpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/servermain.h"
#include "metrics/exposition.h"
#include "platform/client_socket.h"
#include "platform/http_server.h"
#include "support/exposition_parser.h"
#include "support/http_exchange.h"
#include "support/test_server.h"
#include "support/voice_fixture.h"

namespace metrics {
namespace {

using pltest::HttpExchange;
using pltest::HttpGet;

pltest::IniKeys WithMetrics() {
  return pltest::IniKeys()
      .Set("Metrics", "Listen", "127.0.0.1:0")
      .Set("Channels", "0", "Lobby")
      .Set("Channels", "1", "Quiet")
      // No pings: the counters change only with the test's own traffic.
      .Set("Ping", "IdleTimeBeforePing", "3600000");
}

TEST(MetricsEndpointTest, ServesMetricsAndAnIndexAndRefusesEverythingElse) {
  pltest::TestServer server(WithMetrics());
  ASSERT_TRUE(server.started());
  const int port = server.server().MetricsPort();
  ASSERT_NE(port, 0);

  auto metrics = HttpGet(port, "/metrics?debug=1");
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->status, 200);
  EXPECT_EQ(metrics->headers["content-type"], kExpositionContentType);
  EXPECT_NE(metrics->body.find("plserver_rooms 2\n"), std::string::npos) << metrics->body;

  auto index = HttpGet(port, "/");
  ASSERT_TRUE(index);
  EXPECT_EQ(index->status, 200);
  EXPECT_NE(index->body.find("href=\"/metrics\""), std::string::npos);

  for (const char* path : {"/metrics/", "/favicon.ico", "/../etc/passwd", "/Metrics"}) {
    auto reply = HttpGet(port, path);
    ASSERT_TRUE(reply) << path;
    EXPECT_EQ(reply->status, 404) << path;
  }
  for (const char* method : {"POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH"}) {
    auto reply = HttpExchange(port, std::string(method) +
                                        " /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n"
                                        "\r\nhello");
    ASSERT_TRUE(reply) << method;
    EXPECT_EQ(reply->status, 405) << method;
    EXPECT_EQ(reply->headers["allow"], "GET") << method;
  }
  // Not HTTP at all.
  EXPECT_TRUE(pltest::ClosedWithoutSuccess(port, "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\r\n\r\n"));
}

TEST(MetricsEndpointTest, OversizedAndSlowRequestsAreCutOff) {
  pltest::TestServer server(WithMetrics());
  ASSERT_TRUE(server.started());
  const int port = server.server().MetricsPort();
  ASSERT_NE(port, 0);

  // A connection that never finishes its request is held at most until the request time limit.
  std::string error;
  auto idle = plat::TcpClientSocket::Connect({0x7F000001, static_cast<uint16_t>(port)}, {}, &error);
  ASSERT_TRUE(idle) << error;
  const std::string partial = "GET /metrics HTTP/1.1\r\n";
  ASSERT_EQ(idle->SendAll(reinterpret_cast<const uint8_t*>(partial.data()), partial.size(), 2000),
            plat::IoStatus::kOk);
  uint8_t buffer[256];
  size_t got = 0;
  plat::IoStatus status = plat::IoStatus::kTimeout;
  // Closed by the server at the request time limit; the wait here only ends a hung test.
  for (int i = 0; i < 60 && status != plat::IoStatus::kClosed; ++i)
    status = idle->Receive(buffer, sizeof buffer, 500, &got);
  EXPECT_EQ(status, plat::IoStatus::kClosed);

  // Headers past the size limit: no answer of substance, and the connection ends.
  const std::string big_header(plat::HttpServer::kMaxRequestBytes, 'a');
  EXPECT_TRUE(pltest::ClosedWithoutSuccess(
      port, "GET /metrics HTTP/1.1\r\nX-Big: " + big_header + "\r\n\r\n"));
}

// A connection from `ip` that starts a request and never finishes it.
std::unique_ptr<plat::TcpClientSocket> SlowRequest(int port, uint32_t ip) {
  plat::TcpClientOptions options;
  options.local_ip = ip;
  std::string error;
  auto socket =
      plat::TcpClientSocket::Connect({0x7F000001, static_cast<uint16_t>(port)}, options, &error);
  EXPECT_TRUE(socket) << error;
  const std::string partial = "GET /metrics HTTP/1.1\r\n";
  if (socket) {
    EXPECT_EQ(socket->SendAll(reinterpret_cast<const uint8_t*>(partial.data()), partial.size(),
                              2000),
              plat::IoStatus::kOk);
  }
  return socket;
}

bool ClosedSoon(plat::TcpClientSocket& socket) {
  uint8_t buffer[256];
  size_t got = 0;
  return socket.Receive(buffer, sizeof buffer, 2000, &got) == plat::IoStatus::kClosed;
}

TEST(MetricsEndpointTest, SlowConnectionsCannotKeepAScrapeOut) {
  pltest::TestServer server(WithMetrics());
  ASSERT_TRUE(server.started());
  const int port = server.server().MetricsPort();
  // One address keeps at most two requests waiting: its third closes its oldest.
  std::vector<std::unique_ptr<plat::TcpClientSocket>> slow;
  for (int i = 0; i < 3; ++i) slow.push_back(SlowRequest(port, 0x7F000002));
  ASSERT_TRUE(slow[0]);
  EXPECT_TRUE(ClosedSoon(*slow[0]));
  // Slow requests from many addresses: a scrape closes the oldest of them rather than wait.
  for (uint32_t ip = 0x7F000003; ip < 0x7F000003 + 20; ++ip) slow.push_back(SlowRequest(port, ip));
  auto reply = HttpGet(port, "/metrics", 3000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
}

TEST(MetricsEndpointTest, ScrapesSeeTheRelayAndMatchTheServersCounters) {
  pltest::TestServer server(WithMetrics());
  ASSERT_TRUE(server.started());
  const int port = server.server().MetricsPort();
  pltest::VoiceClient alice = pltest::JoinWithVoice(server, "alice");
  pltest::VoiceClient bob = pltest::JoinWithVoice(server, "bob");
  pltest::VoiceClient carol = pltest::JoinWithVoice(server, "carol", 2);
  ASSERT_TRUE(alice.udp && bob.udp && carol.udp);

  // Scrapers run all the time the voice flows.
  constexpr int kDatagrams = 40;
  std::atomic<bool> sending{true};
  std::atomic<int> scrapes{0};
  std::vector<std::thread> scrapers;
  for (int t = 0; t < 2; ++t) {
    scrapers.emplace_back([&] {
      for (int i = 0; i < 200 && (sending.load() || i < 2); ++i) {
        auto reply = HttpGet(port, "/metrics", 5000);
        if (reply && reply->status == 200) scrapes.fetch_add(1);
      }
    });
  }
  const auto payload = pltest::Payload(60);
  for (uint32_t i = 1; i <= kDatagrams; ++i)
    ASSERT_TRUE(alice.udp->Send(plclient::VoiceDatagramForRoom(alice.id, i, payload)));
  size_t received = 0;
  for (int i = 0; i < 100 && received < kDatagrams; ++i) received += bob.Collect(500).size();
  sending.store(false);
  for (std::thread& scraper : scrapers) scraper.join();
  EXPECT_EQ(received, static_cast<size_t>(kDatagrams));
  EXPECT_GE(scrapes.load(), 4);

  // The relay counts a pass after its copies: once the scrape shows every datagram relayed, the
  // traffic counters hold still.
  std::optional<pltest::HttpReply> reply;
  ASSERT_TRUE(pltest::WaitUntil(
      [&] {
        reply = HttpGet(port, "/metrics");
        return reply && reply->status == 200 &&
               reply->body.find("\nplserver_voice_datagrams_relayed_total " +
                                std::to_string(kDatagrams) + "\n") != std::string::npos;
      },
      20000));
  std::string error;
  auto parsed = pltest::ParseExposition(reply->body, &error);
  ASSERT_TRUE(parsed) << error;
  core::TrafficCounters& counters = server.server().counters();
  EXPECT_EQ(parsed->Value("plserver_udp_packets_sent_total"), counters.UdpPacketsSent.load());
  EXPECT_EQ(parsed->Value("plserver_udp_bytes_received_total"), counters.UdpBytesReceived.load());
  EXPECT_EQ(parsed->Value("plserver_udp_packets_received_total"),
            counters.UdpPacketsReceived.load());
  EXPECT_EQ(parsed->Value("plserver_players"), 3);
  EXPECT_EQ(parsed->Value("plserver_room_players", {{"room", "1"}, {"name", "Lobby"}}), 2);
  EXPECT_EQ(parsed->Value("plserver_room_players", {{"room", "2"}, {"name", "Quiet"}}), 1);
  EXPECT_EQ(parsed->Value("plserver_voice_datagrams_relayed_total"), kDatagrams);
  EXPECT_EQ(parsed->Value("plserver_voice_relay_delay_seconds_count"), kDatagrams);
  const double passes = parsed->Value("plserver_relay_passes_total").value_or(0);
  EXPECT_GE(passes, 1);
  EXPECT_LE(passes, kDatagrams);
  // Bob's copies are counted for him; the sum over players sees them.
  EXPECT_GE(parsed->Value("plserver_players_udp_packets_sent").value_or(0), kDatagrams);
  for (const char* name : {"process_resident_memory_bytes", "process_virtual_memory_bytes",
                           "process_open_fds", "process_max_fds", "process_start_time_seconds"})
    EXPECT_GT(parsed->Value(name).value_or(0), 0) << name;
  EXPECT_TRUE(parsed->Value("process_cpu_seconds_total"));

}

// A counter never goes backwards: faulty datagrams stay counted after their sender has left.
TEST(MetricsEndpointTest, FaultyDatagramsStayCountedWhenTheSenderLeaves) {
  pltest::TestServer server(WithMetrics());
  ASSERT_TRUE(server.started());
  pltest::VoiceClient alice = pltest::JoinWithVoice(server, "alice");
  ASSERT_TRUE(alice.udp);
  const auto payload = pltest::Payload(20);
  // Packet ids 1 then 3: the second is faulty (a gap).
  for (uint32_t packet_id : {1u, 3u})
    ASSERT_TRUE(alice.udp->Send(plclient::VoiceDatagramForRoom(alice.id, packet_id, payload)));
  ASSERT_TRUE(pltest::WaitUntil([&] { return server.server().relay_stats().faulty.load() == 1; },
                                5000));
  ASSERT_TRUE(alice.control->SendLeave());
  ASSERT_TRUE(pltest::WaitUntil([&] { return server.server().clients().Count() == 0; }, 5000));
  auto reply = HttpGet(server.server().MetricsPort(), "/metrics");
  ASSERT_TRUE(reply);
  std::string error;
  auto parsed = pltest::ParseExposition(reply->body, &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->Value("plserver_voice_datagrams_faulty_total"), 1);
  EXPECT_EQ(parsed->Value("plserver_players"), 0);
}

TEST(MetricsEndpointTest, WithoutListenThereIsNoEndpoint) {
  pltest::TestServer server;
  ASSERT_TRUE(server.started());
  EXPECT_EQ(server.server().MetricsPort(), 0);
}

}  // namespace
}  // namespace metrics
