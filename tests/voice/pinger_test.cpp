// The keep-alive pinger with short settings: pings after the idle time, misses counted against
// MaxPingTries, a silent client given up with PlayerLeft reason 2 sent to it alone.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/voice_fixture.h"
#include "wire/global_types.h"

namespace pltest {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

IniKeys PingSettings(int tries, int idle = 200, int wait = 200) {
  return IniKeys()
      .Set("Ping", "IdleTimeBeforePing", std::to_string(idle))
      .Set("Ping", "PingWaitTime", std::to_string(wait))
      .Set("Ping", "MaxPingTries", std::to_string(tries));
}

bool IsServerPing(const std::vector<uint8_t>& datagram, uint16_t id) {
  auto keep_alive = plclient::ParseKeepAlive(datagram);
  return keep_alive && keep_alive->id == id && keep_alive->type == 1 && keep_alive->marker == 200 &&
         datagram.size() == 12 && datagram[8] == 0xFF && datagram[9] == 0xEE;
}

std::optional<plclient::PlayerLeft> AwaitPlayerLeft(plclient::ProtocolClient& control,
                                                    int timeout_ms) {
  return control.Await(plclient::ParsePlayerLeft, timeout_ms);
}

TEST(Pinger, ASilentClientGetsMaxPingTriesPlusOnePingsThenPlayerLeftReasonTwoAlone) {
  TestServer server(PingSettings(2));
  VoiceClient silent = JoinWithVoice(server, "Silent");
  auto other = server.LoggedIn("Other");
  int pings = 0;
  auto deadline = steady_clock::now() + milliseconds(4000);
  while (steady_clock::now() < deadline && !silent.Record(server)->PingTimedOut) {
    if (auto datagram = silent.udp->Receive(100); datagram && IsServerPing(*datagram, silent.id))
      ++pings;
  }
  EXPECT_EQ(pings, 3);
  auto left = AwaitPlayerLeft(*silent.control, 1000);
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(left->player_byte, silent.player_byte);
  EXPECT_EQ(left->reason, wire::kReasonPingTimeout);
  EXPECT_EQ(left->id, silent.id);
  // Nobody else is told, and the given-up client stays registered and unpinged.
  EXPECT_FALSE(AwaitPlayerLeft(*other, 300).has_value());
  EXPECT_NE(server.server().clients().FindClientById(silent.id), nullptr);
  EXPECT_FALSE(silent.udp->Receive(600).has_value());
}

TEST(Pinger, AClientThatAnswersEveryPingIsNeverGivenUpAndItsRoundTripIsReported) {
  TestServer server(PingSettings(0));
  VoiceClient answering = JoinWithVoice(server, "Answering");
  auto observer = server.LoggedIn("Observer");
  int answered = 0;
  auto deadline = steady_clock::now() + milliseconds(2000);
  while (steady_clock::now() < deadline) {
    auto datagram = answering.udp->Receive(100);
    if (!datagram || !IsServerPing(*datagram, answering.id)) continue;
    std::this_thread::sleep_for(milliseconds(30));  // a measurable round trip
    ASSERT_TRUE(answering.udp->Send(*datagram));    // an echoed ping is an answer
    ++answered;
  }
  EXPECT_GE(answered, 3);
  EXPECT_FALSE(answering.Record(server)->PingTimedOut);
  EXPECT_FALSE(AwaitPlayerLeft(*answering.control, 100).has_value());

  ASSERT_TRUE(observer->SendPlayerStatsReq(answering.player_byte));
  auto stats = observer->Await(plclient::ParsePlayerStats, 2000);
  ASSERT_TRUE(stats.has_value());
  EXPECT_GE(stats->ping_rtt, 25);
  EXPECT_LT(stats->ping_rtt, 1000);
}

TEST(Pinger, AClientWithoutAUdpAddressIsNeverPingedNorGivenUp) {
  TestServer server(PingSettings(0, 100, 100));
  auto control = server.LoggedIn("NoVoice");
  std::this_thread::sleep_for(milliseconds(1200));
  EXPECT_FALSE(AwaitPlayerLeft(*control, 100).has_value());
  EXPECT_EQ(server.server().counters().UdpPacketsSent.load(), 0u);
}

TEST(Pinger, ANegativeMaxPingTriesGivesUpAtOnceAndTwoDueClientsGoInSuccessivePasses) {
  TestServer server(PingSettings(-1, 100, 100));
  auto first = server.LoggedIn("First");
  auto second = server.LoggedIn("Second");
  auto first_left = AwaitPlayerLeft(*first, 3000);
  auto first_at = steady_clock::now();
  ASSERT_TRUE(first_left.has_value());
  EXPECT_EQ(first_left->reason, wire::kReasonPingTimeout);
  auto second_left = second->ReadUntil(
      [](const plclient::Frame& frame) {
        auto left = plclient::ParsePlayerLeft(frame);
        return left && left->reason == wire::kReasonPingTimeout;
      },
      3000);
  ASSERT_TRUE(second_left.has_value());
  // One client per pass: the second goes a pass (500 ms) later, not in the same pass.
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(steady_clock::now() - first_at).count(), 250)
      << "both clients were given up in one pass";
  EXPECT_EQ(server.server().counters().UdpPacketsSent.load(), 0u);  // no ping was needed
}

}  // namespace
}  // namespace pltest
