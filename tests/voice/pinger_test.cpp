// The keep-alive pinger with short settings: pings after the idle time, misses counted against
// MaxPingTries, a silent client given up with PlayerLeft reason 2 sent to it alone.
#include <gtest/gtest.h>

#include <chrono>

#include "support/manual_clock.h"
#include "support/voice_fixture.h"
#include "voice/pingthread.h"
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

// The server's own pinger never fires on these: the tests make their passes themselves, on a
// clock they move, with the settings each case wants.
IniKeys QuietPinger() {
  return IniKeys().Set("Ping", "IdleTimeBeforePing", "2000000000");
}

voice::PingerParts Parts(TestServer& server, int tries, int idle, int wait) {
  voice::PingerParts parts = server.server().PingerParts();
  parts.settings = [=] { return voice::PingSettings{idle, wait, tries}; };
  return parts;
}

TEST(Pinger, AClientThatAnswersEveryPingIsNeverGivenUpAndItsRoundTripIsReported) {
  ManualClock clock;
  TestServer server(QuietPinger(), clock);
  voice::TPingThread pinger(Parts(server, 0, 200, 200));
  VoiceClient answering = JoinWithVoice(server, "Answering");
  auto observer = server.LoggedIn("Observer");
  for (int round = 0; round < 3; ++round) {
    clock.Advance(200);
    pinger.PingClients();
    auto datagram = answering.udp->Receive(2000);
    ASSERT_TRUE(datagram && IsServerPing(*datagram, answering.id)) << "round " << round;
    clock.Advance(30);                            // the round trip
    ASSERT_TRUE(answering.udp->Send(*datagram));  // an echoed ping is an answer
    ASSERT_TRUE(WaitUntil([&] { return !answering.Record(server)->PingSnapshot().PingPending; }));
  }
  EXPECT_FALSE(answering.Record(server)->PingTimedOut);
  EXPECT_FALSE(AwaitPlayerLeft(*answering.control, 100).has_value());

  ASSERT_TRUE(observer->SendPlayerStatsReq(answering.player_byte));
  auto stats = observer->Await(plclient::ParsePlayerStats, 2000);
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(stats->ping_rtt, 30);
}

TEST(Pinger, AClientWithoutAUdpAddressIsNeverPingedNorGivenUp) {
  ManualClock clock;
  TestServer server(QuietPinger(), clock);
  voice::TPingThread pinger(Parts(server, 0, 100, 100));
  auto control = server.LoggedIn("NoVoice");
  for (int pass = 0; pass < 12; ++pass) {
    clock.Advance(100);
    pinger.PingClients();
  }
  EXPECT_FALSE(AwaitPlayerLeft(*control, 100).has_value());
  EXPECT_EQ(server.server().counters().UdpPacketsSent.load(), 0u);
}

TEST(Pinger, ANegativeMaxPingTriesGivesUpAtOnceAndTwoDueClientsGoInSuccessivePasses) {
  ManualClock clock;
  TestServer server(QuietPinger(), clock);
  voice::TPingThread pinger(Parts(server, -1, 100, 100));
  Member first = server.Join("First");
  Member second = server.Join("Second");
  auto timed_out = [&](const Member& member) {
    return server.server().clients().FindClientById(member.id)->PingTimedOut.load();
  };
  clock.Advance(100);
  pinger.PingClients();
  // One client per pass: the first pass gives up exactly one of the two.
  EXPECT_NE(timed_out(first), timed_out(second));
  pinger.PingClients();
  EXPECT_TRUE(timed_out(first));
  EXPECT_TRUE(timed_out(second));
  for (Member* member : {&first, &second}) {
    auto left = AwaitPlayerLeft(*member->connection, 2000);
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(left->reason, wire::kReasonPingTimeout);
  }
  EXPECT_EQ(server.server().counters().UdpPacketsSent.load(), 0u);  // no ping was needed
}

// The tick count wraps after 2^32 ms (about 49.7 days): idle times, ping waits and misses are
// differences, and must come out the same across the wrap.
TEST(Pinger, IdleTimesAndPingWaitsAreMeasuredAcrossTheTickCountWrap) {
  ManualClock clock(0xFFFFFFFFu - 150);
  TestServer server(QuietPinger(), clock);
  voice::TPingThread pinger(Parts(server, 1, 200, 200));
  VoiceClient silent = JoinWithVoice(server, "Silent");
  // A pass's ping is on the loopback socket when the pass returns; a pass without one is
  // given a short look.
  auto pass_pings = [&](bool expected) {
    pinger.PingClients();
    auto datagram = silent.udp->Receive(expected ? 2000 : 50);
    return datagram && IsServerPing(*datagram, silent.id);
  };
  clock.Advance(199);  // wraps past 0: idle 199 ms
  EXPECT_FALSE(pass_pings(false));
  clock.Advance(1);  // idle 200 ms
  EXPECT_TRUE(pass_pings(true));
  clock.Advance(199);  // the ping has waited 199 ms
  EXPECT_FALSE(pass_pings(false));
  clock.Advance(1);  // a miss: pinged again
  EXPECT_TRUE(pass_pings(true));
  EXPECT_FALSE(silent.Record(server)->PingTimedOut);
  clock.Advance(200);  // the second miss passes MaxPingTries 1
  pinger.PingClients();
  EXPECT_TRUE(silent.Record(server)->PingTimedOut);
  auto left = AwaitPlayerLeft(*silent.control, 2000);
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(left->reason, wire::kReasonPingTimeout);
}

}  // namespace
}  // namespace pltest
