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

TEST(MetricsEndpointTest, OversizedSlowAndSurplusRequestsAreCutOff) {
  pltest::TestServer server(WithMetrics());
  ASSERT_TRUE(server.started());
  const int port = server.server().MetricsPort();
  ASSERT_NE(port, 0);

  // Connections that never finish their request hold the endpoint at most until the request
  // time limit; while they hold every place, a further connection is closed at once. (First, on a
  // fresh endpoint: no earlier connection can still hold a place.)
  std::vector<std::unique_ptr<plat::TcpClientSocket>> idle;
  for (size_t i = 0; i < plat::HttpServer::kMaxConnections; ++i) {
    std::string error;
    idle.push_back(
        plat::TcpClientSocket::Connect({0x7F000001, static_cast<uint16_t>(port)}, {}, &error));
    ASSERT_TRUE(idle.back()) << error;
    const std::string partial = "GET /metrics HTTP/1.1\r\n";
    ASSERT_EQ(idle.back()->SendAll(reinterpret_cast<const uint8_t*>(partial.data()), partial.size(),
                                   2000),
              plat::IoStatus::kOk);
  }
  EXPECT_TRUE(pltest::ClosedWithoutSuccess(port, "GET /metrics HTTP/1.1\r\n\r\n"));
  for (auto& socket : idle) {
    uint8_t buffer[256];
    size_t got = 0;
    plat::IoStatus status = plat::IoStatus::kTimeout;
    // Closed by the server at the request time limit; the wait here only ends a hung test.
    for (int i = 0; i < 60 && status != plat::IoStatus::kClosed; ++i)
      status = socket->Receive(buffer, sizeof buffer, 500, &got);
    EXPECT_EQ(status, plat::IoStatus::kClosed);
  }
  // The places are free again.
  EXPECT_TRUE(pltest::WaitUntil(
      [&] {
        auto reply = HttpGet(port, "/metrics", 2000);
        return reply && reply->status == 200;
      },
      10000));

  // Headers past the size limit: no answer of substance, and the connection ends.
  const std::string big_header(plat::HttpServer::kMaxRequestBytes, 'a');
  EXPECT_TRUE(pltest::ClosedWithoutSuccess(
      port, "GET /metrics HTTP/1.1\r\nX-Big: " + big_header + "\r\n\r\n"));
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
  EXPECT_GE(
      parsed->Value("plserver_players_traffic", {{"counter", "udp_packets_sent"}}).value_or(0),
      kDatagrams);
  EXPECT_GT(parsed->Value("process_resident_memory_bytes").value_or(0), 0);
  EXPECT_GT(parsed->Value("process_open_fds").value_or(0), 0);
}

TEST(MetricsEndpointTest, WithoutListenThereIsNoEndpoint) {
  pltest::TestServer server;
  ASSERT_TRUE(server.started());
  EXPECT_EQ(server.server().MetricsPort(), 0);
}

}  // namespace
}  // namespace metrics
