// Floods from logged-in players and Id probes over UDP: frames past the frame limit, voice past
// the voice limits, and a source behind the victims' own address sweeping for Ids. Each test
// prints the figure it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/client_socket.h"
#include "support/manual_clock.h"
#include "support/voice_fixture.h"

namespace pltest {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint32_t kNat = 0x7F000002;  // 127.0.0.2: one home router, victims and attacker behind it

TEST(FrameFlood, TheFlooderIsDisconnectedAndASlowReaderAndTheOthersStay) {
  TestServer server;
  Member other = server.Join("Other");
  plclient::ClientOptions small_window;
  small_window.receive_buffer_bytes = 4096;
  auto slow = server.Connect(small_window);
  ASSERT_TRUE(slow->Login("Slow").accepted);
  Member flooder = server.Join("Flooder");
  // The slow reader takes about 10 KB a second and counts the flooder's PlayerMoved.
  std::atomic<bool> stop{false};
  std::atomic<int> slow_moves{0};
  std::atomic<bool> slow_saw_leave{false};
  std::thread slow_reader([&] {
    while (!stop) {
      auto frame = slow->ReadFrame(50);
      if (!frame) continue;
      auto moved = plclient::ParsePlayerMoved(*frame);
      if (moved && moved->player_byte == flooder.player_byte) ++slow_moves;
      auto left = plclient::ParsePlayerLeft(*frame);
      if (left && left->player_byte == flooder.player_byte) slow_saw_leave = true;
      std::this_thread::sleep_for(milliseconds(1));  // 10-byte frames: about 10 KB/s
    }
  });
  const auto started = steady_clock::now();
  int sent = 0;
  for (; sent < 2000000 && steady_clock::now() - started < milliseconds(8000); ++sent) {
    if (!flooder->SendChangeRoom(static_cast<uint8_t>(1 + sent % 2))) break;
  }
  const bool closed = flooder->WaitForClose(5000);
  const double gone_after = std::chrono::duration<double>(steady_clock::now() - started).count();
  int other_moves = 0;
  std::optional<plclient::PlayerLeft> left;
  while (auto frame = other->ReadFrame(500)) {
    auto moved = plclient::ParsePlayerMoved(*frame);
    if (moved && moved->player_byte == flooder.player_byte) ++other_moves;
    auto notice = plclient::ParsePlayerLeft(*frame);
    if (notice && notice->player_byte == flooder.player_byte) left = notice;
  }
  WaitUntil([&] { return slow_saw_leave.load(); }, 5000);
  stop = true;
  slow_reader.join();
  std::printf(
      "[ figures  ] %d frames sent, flooder gone after %.2f s; PlayerMoved from the flood: other "
      "%d, slow reader %d\n",
      sent, gone_after, other_moves, slow_moves.load());
  EXPECT_TRUE(closed);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->reason, 0);
  EXPECT_LT(other_moves, 2000);
  EXPECT_LT(slow_moves.load(), 2000);
  EXPECT_TRUE(slow_saw_leave.load());
  // Both are still connected and answered.
  for (plclient::ProtocolClient* client : {other.connection.get(), slow.get()}) {
    ASSERT_TRUE(client->SendServerStatsReq());
    EXPECT_TRUE(client->Await(plclient::ParseServerStats, 3000).has_value());
  }
  EXPECT_GE(server.server().guard().counters().FloodDisconnects.load(), 1u);
}

// The send time in microseconds since `epoch`, in the payload's first eight bytes.
std::vector<uint8_t> StampedPayload(steady_clock::time_point epoch) {
  std::vector<uint8_t> payload = Payload(60);
  int64_t micros =
      std::chrono::duration_cast<std::chrono::microseconds>(steady_clock::now() - epoch).count();
  std::memcpy(payload.data(), &micros, sizeof micros);
  return payload;
}

TEST(VoiceFlood, ANormalSpeakerIsHeardAndTheFlooderStaysWithinItsCap) {
  TestServer server;
  VoiceClient speaker = JoinWithVoice(server, "Speaker");
  VoiceClient listener = JoinWithVoice(server, "Listener");
  VoiceClient flooder = JoinWithVoice(server, "Flooder");
  const auto epoch = steady_clock::now();
  std::atomic<bool> stop{false};
  std::atomic<int> heard{0}, flood_copies{0};
  std::atomic<int64_t> flood_bytes{0};
  std::vector<int64_t> latencies_us;
  std::thread receiver([&] {
    while (!stop) {
      auto datagram = listener.udp->Receive(50);
      if (!datagram || datagram->size() < 16 || (*datagram)[0] != 0xBA) continue;
      if (datagram->size() > 1000) {
        ++flood_copies;
        flood_bytes += static_cast<int64_t>(datagram->size());
        continue;
      }
      ++heard;
      int64_t sent_us = 0;
      std::memcpy(&sent_us, datagram->data() + datagram->size() - 60, sizeof sent_us);
      latencies_us.push_back(
          std::chrono::duration_cast<std::chrono::microseconds>(steady_clock::now() - epoch)
              .count() -
          sent_us);
    }
  });
  std::thread flood([&] {
    // About 3,000 datagrams of 8 KB a second (a 200 Mbit/s uplink): thirty times the cap in
    // datagrams, four hundred times in bytes. Faster than that on loopback the flooder only
    // races the intake thread for the CPU of a shared machine, and the kernel drops datagrams of
    // both before the server sees them.
    const std::vector<uint8_t> payload = Payload(8000);
    for (uint32_t packet = 1; packet < 2000000 && !stop; ++packet) {
      flooder.udp->Send(plclient::VoiceDatagramForRoom(flooder.id, packet, payload));
      if (packet % 30 == 0) std::this_thread::sleep_for(milliseconds(10));
    }
  });
  constexpr int kSeconds = 4;
  int sent = 0;
  for (uint32_t packet = 1; packet <= 50 * kSeconds; ++packet, ++sent) {
    speaker.udp->Send(plclient::VoiceDatagramForRoom(speaker.id, packet, StampedPayload(epoch)));
    std::this_thread::sleep_for(milliseconds(20));
  }
  const double flood_seconds = std::chrono::duration<double>(steady_clock::now() - epoch).count();
  stop = true;
  flood.join();
  std::this_thread::sleep_for(milliseconds(300));
  receiver.join();
  std::sort(latencies_us.begin(), latencies_us.end());
  const double p99_ms =
      latencies_us.empty() ? 0 : latencies_us[latencies_us.size() * 99 / 100] / 1000.0;
  std::printf(
      "[ figures  ] speaker %d/%d heard (p99 %.2f ms); flooder relayed %d datagrams, %lld bytes in "
      "%.1f s; dropped at intake %u\n",
      heard.load(), sent, p99_ms, flood_copies.load(), static_cast<long long>(flood_bytes.load()),
      flood_seconds, server.server().guard().counters().VoiceDropped.load());
  EXPECT_GE(heard.load(), sent * 99 / 100);
  // The caps (100 datagrams, 65536 bytes a second) with a second's burst.
  const double cap_seconds = flood_seconds + 1.5;
  EXPECT_LE(flood_copies.load(), static_cast<int>(100 * cap_seconds));
  EXPECT_LE(flood_bytes.load(), static_cast<int64_t>(65536 * cap_seconds));
  EXPECT_GT(flooder.Record(server)->VoiceDropped.load(), 0u);
  EXPECT_EQ(speaker.Record(server)->VoiceDropped.load(), 0u);
}

struct NatClient {
  std::unique_ptr<plclient::ProtocolClient> control;
  std::unique_ptr<plat::UdpClientSocket> udp;
  uint16_t id = 0;
};

std::unique_ptr<plat::UdpClientSocket> UdpFrom(uint32_t ip) {
  std::string error;
  auto socket = plat::UdpClientSocket::Bind({ip, 0}, &error);
  EXPECT_TRUE(socket) << error;
  return socket;
}

// Logs in from `ip`, learns its Id and registers its UDP address with a ping answered by a pong.
std::optional<plclient::KeepAlive> Ping(plat::UdpClientSocket& socket, TestServer& server,
                                        uint16_t id, int timeout_ms = 1000) {
  const plat::Endpoint target{0x7F000001, server.udp_port()};
  std::vector<uint8_t> ping = plclient::KeepAliveDatagram(id, plclient::kKeepAlivePing, 1);
  socket.SendTo(ping.data(), ping.size(), target);
  uint8_t buffer[256];
  const auto end = steady_clock::now() + milliseconds(timeout_ms);
  while (steady_clock::now() < end) {
    size_t received = 0;
    if (socket.Receive(buffer, sizeof buffer, 50, &received, nullptr) != plat::IoStatus::kOk)
      continue;
    auto keep_alive = plclient::ParseKeepAlive({buffer, received});
    if (keep_alive && keep_alive->type == plclient::kKeepAlivePong) return keep_alive;
  }
  return std::nullopt;
}

NatClient JoinFrom(TestServer& server, uint32_t ip, const std::string& name,
                   const std::string& password = "") {
  NatClient client;
  plclient::ClientOptions options;
  options.local_ip = ip;
  client.control = plclient::ProtocolClient::Connect("127.0.0.1", server.tcp_port(), options);
  EXPECT_TRUE(client.control && client.control->Login(name, password).accepted);
  EXPECT_TRUE(client.control->SendListsReq());
  auto lists = client.control->Await(plclient::ParseServerLists, 2000);
  EXPECT_TRUE(lists);
  if (lists) client.id = lists->id;
  client.udp = UdpFrom(ip);
  EXPECT_TRUE(Ping(*client.udp, server, client.id).has_value());
  return client;
}

TEST(IdProbing, ASweepFromTheVictimsAddressLearnsNoIdAndMovesNoVoice) {
  TestServer server;
  NatClient first = JoinFrom(server, kNat, "First");
  NatClient second = JoinFrom(server, kNat, "Second");
  const plat::Endpoint first_udp = first.udp->Local(), second_udp = second.udp->Local();
  auto attacker = UdpFrom(kNat);
  const plat::Endpoint target{0x7F000001, server.udp_port()};
  // 100,000 pings over every Id twice; the first twenty are Ids nobody holds, so nothing is
  // learnt by luck before the source is ignored.
  std::vector<uint16_t> sweep;
  for (uint16_t id = 1; sweep.size() < 20; ++id)
    if (id != first.id && id != second.id) sweep.push_back(id);
  while (sweep.size() < 100000) sweep.push_back(static_cast<uint16_t>(1 + sweep.size() % 50000));
  std::atomic<bool> stop{false};
  std::atomic<int> pongs{0}, learnt{0};
  std::thread receiver([&] {
    uint8_t buffer[256];
    while (!stop) {
      size_t received = 0;
      if (attacker->Receive(buffer, sizeof buffer, 50, &received, nullptr) != plat::IoStatus::kOk)
        continue;
      auto pong = plclient::ParseKeepAlive({buffer, received});
      if (!pong) continue;
      ++pongs;
      if (pong->id == first.id || pong->id == second.id) ++learnt;
    }
  });
  for (size_t i = 0; i < sweep.size(); ++i) {
    std::vector<uint8_t> ping = plclient::KeepAliveDatagram(sweep[i], plclient::kKeepAlivePing, 1);
    attacker->SendTo(ping.data(), ping.size(), target);
    if (i % 1000 == 999) std::this_thread::sleep_for(milliseconds(1));
  }
  std::this_thread::sleep_for(milliseconds(300));
  stop = true;
  receiver.join();
  std::printf(
      "[ figures  ] 100000 pings from the victims' address: %d pongs, %d Ids learnt, %u "
      "datagrams ignored\n",
      pongs.load(), learnt.load(),
      server.server().guard().counters().ForeignDatagramsIgnored.load());
  EXPECT_EQ(pongs.load(), 0);
  EXPECT_EQ(learnt.load(), 0);
  auto record = [&](uint16_t id) { return server.server().clients().FindClientById(id); };
  EXPECT_EQ(record(first.id)->Peer(), first_udp);
  EXPECT_EQ(record(second.id)->Peer(), second_udp);
  // The victims themselves are still answered from their own ports.
  EXPECT_TRUE(Ping(*first.udp, server, first.id).has_value());
}

TEST(IdProbing, NatRebindingAndALoginAfterARestartStillWorkAtOnce) {
  TestServer server;
  NatClient client = JoinFrom(server, kNat, "Roamer");
  // The router gives the client a new port: its own datagrams from there are taken at once.
  client.udp = UdpFrom(kNat);
  ASSERT_TRUE(Ping(*client.udp, server, client.id).has_value());
  EXPECT_EQ(server.server().clients().FindClientById(client.id)->Peer(), client.udp->Local());
  // After a restart the client's socket still sends its old Id for a while (here: the Id is
  // gone because it left), enough for the source to be ignored; its new login works at once.
  const uint16_t old_id = client.id;
  client.control->SendLeave();
  ASSERT_TRUE(WaitUntil([&] { return !server.server().clients().FindClientById(old_id); }));
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(Ping(*client.udp, server, old_id, 20).has_value());
  NatClient again;
  plclient::ClientOptions options;
  options.local_ip = kNat;
  again.control = plclient::ProtocolClient::Connect("127.0.0.1", server.tcp_port(), options);
  ASSERT_TRUE(again.control->Login("Roamer").accepted);
  ASSERT_TRUE(again.control->SendListsReq());
  auto lists = again.control->Await(plclient::ParseServerLists, 2000);
  ASSERT_TRUE(lists);
  EXPECT_TRUE(Ping(*client.udp, server, lists->id).has_value());
  EXPECT_EQ(server.server().clients().FindClientById(lists->id)->Peer(), client.udp->Local());
}

void SendTo(plat::UdpClientSocket& socket, TestServer& server,
            const std::vector<uint8_t>& datagram) {
  socket.SendTo(datagram.data(), datagram.size(), {0x7F000001, server.udp_port()});
}

// Whether a datagram already waits at `socket` (the server has answered it).
bool AnythingArrived(plat::UdpClientSocket& socket) {
  uint8_t buffer[256];
  size_t received = 0;
  return socket.Receive(buffer, sizeof buffer, 0, &received, nullptr) == plat::IoStatus::kOk;
}

// The copies of `from`'s datagrams (told apart by their payload) that reach `listener`.
int CopiesHeard(VoiceClient& listener, const std::vector<uint8_t>& payload) {
  int heard = 0;
  for (const std::vector<uint8_t>& copy : listener.Collect(1000)) {
    if (copy.size() == plclient::kVoiceHeaderSize + payload.size() &&
        std::equal(payload.begin(), payload.end(), copy.end() - payload.size()))
      ++heard;
  }
  return heard;
}

TEST(IdProbing, FreshPortsOfTheSameAddressGetNoFreshProbes) {
  ManualClock clock;  // every probe falls in one window
  TestServer server(IniKeys(), clock);
  VoiceClient witness = JoinWithVoice(server, "Witness");
  NatClient victim = JoinFrom(server, kNat, "Victim");
  // Four probes with Ids nobody holds from each of five new ports of the victim's address.
  uint16_t probe = 1;
  for (int port = 0; port < 5; ++port) {
    auto prober = UdpFrom(kNat);
    for (int i = 0; i < 4; ++i, ++probe) {
      if (probe == victim.id || probe == witness.id) ++probe;
      SendTo(*prober, server, plclient::KeepAliveDatagram(probe, plclient::kKeepAlivePing, 1));
    }
  }
  // Then the victim's own Id from one more new port of that address.
  auto thief = UdpFrom(kNat);
  SendTo(*thief, server, plclient::KeepAliveDatagram(victim.id, plclient::kKeepAlivePing, 1));
  // One listener thread takes the datagrams in order: the witness's pong comes after the thief's
  // datagram has been handled.
  ASSERT_TRUE(witness.udp->Send(plclient::KeepAliveDatagram(witness.id, plclient::kKeepAlivePing, 2)));
  ASSERT_TRUE(witness.udp->Receive(2000));
  EXPECT_FALSE(AnythingArrived(*thief)) << "the thief was answered";
  EXPECT_EQ(server.server().clients().FindClientById(victim.id)->Peer(), victim.udp->Local());
}

TEST(IdProbing, DatagramsForgedWithAPlayersIdNeverSilenceThePlayer) {
  ManualClock clock;  // the whole attack falls in one window
  TestServer server(IniKeys(), clock);
  VoiceClient listener = JoinWithVoice(server, "Listener");
  NatClient victim = JoinFrom(server, kNat, "Victim");
  const std::vector<uint8_t> own = Payload(40, 1), forged = Payload(40, 99);
  // Each forged datagram, from a new port of the victim's address, moves the victim's recorded
  // port; each of the victim's own then comes from another port than the one recorded.
  constexpr uint32_t kRounds = 12;
  for (uint32_t i = 1; i <= kRounds; ++i) {
    SendTo(*UdpFrom(kNat), server, plclient::VoiceDatagramForRoom(victim.id, 1000 + i, forged));
    SendTo(*victim.udp, server, plclient::VoiceDatagramForRoom(victim.id, i, own));
  }
  EXPECT_EQ(CopiesHeard(listener, own), static_cast<int>(kRounds));
}

TEST(AutomaticBans, PlayersLoggedInFromTheBannedAddressKeepTheirVoice) {
  ManualClock clock;
  TestServer server(IniKeys().Set("Passwords", "ServerPassword", "secret"), clock);
  NatClient listener = JoinFrom(server, 0x7F000001, "Listener", "secret");
  NatClient player = JoinFrom(server, kNat, "Player", "secret");
  // Someone else behind the same address guesses the server password until it is banned.
  plclient::ClientOptions from_nat;
  from_nat.local_ip = kNat;
  for (int i = 0; i < 10; ++i) {
    auto guesser = plclient::ProtocolClient::Connect("127.0.0.1", server.tcp_port(), from_nat);
    ASSERT_TRUE(guesser);
    ASSERT_TRUE(guesser->Login("Guesser", "wrong").refused) << i;
  }
  auto refused = plclient::ProtocolClient::Connect("127.0.0.1", server.tcp_port(), from_nat);
  EXPECT_TRUE(!refused || refused->WaitForClose(2000)) << "a new connection of the address";
  // The player's voice still reaches the listener, and its control connection stays.
  const std::vector<uint8_t> payload = Payload(40, 7);
  for (uint32_t i = 1; i <= 5; ++i)
    SendTo(*player.udp, server, plclient::VoiceDatagramForRoom(player.id, i, payload));
  int heard = 0;
  uint8_t buffer[256];
  size_t received = 0;
  while (listener.udp->Receive(buffer, sizeof buffer, 1000, &received, nullptr) ==
         plat::IoStatus::kOk)
    heard += received == plclient::kVoiceHeaderSize + payload.size();
  EXPECT_EQ(heard, 5);
  ASSERT_TRUE(player.control->SendServerStatsReq());
  EXPECT_TRUE(player.control->Await(plclient::ParseServerStats, 2000).has_value());
}

TEST(BroadcastBudget, BotsBehindOneAddressShareOneBudgetForWhatReachesEveryone) {
  ManualClock clock;  // no budget fills up again during the test
  TestServer server(IniKeys().Set("Security", "MaxBroadcastFramesPerAddress", "10"), clock);
  Member observer = server.Join("Observer");
  std::vector<NatClient> bots;
  for (int i = 0; i < 4; ++i) bots.push_back(JoinFrom(server, kNat, "Bot" + std::to_string(i)));
  // Each bot stays within its own frame limit (a burst of 200); together they send 200 moves.
  for (NatClient& bot : bots)
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(bot.control->SendChangeRoom(static_cast<uint8_t>(1 + i % 2)));
  // A connection's frames are handled in order: once a bot has its answer, its moves are done.
  for (NatClient& bot : bots) {
    ASSERT_TRUE(bot.control->SendServerStatsReq());
    ASSERT_TRUE(bot.control->Await(plclient::ParseServerStats, 5000));
  }
  ASSERT_TRUE(observer->SendChangeRoom(2));
  ASSERT_TRUE(observer->SendServerStatsReq());
  int moves = 0;
  bool own_move = false;
  ASSERT_TRUE(observer->ReadUntil(
      [&](const plclient::Frame& frame) {
        if (auto moved = plclient::ParsePlayerMoved(frame)) {
          if (moved->player_byte == observer.player_byte) own_move = true;
          else ++moves;
        }
        return plclient::ParseServerStats(frame).has_value();
      },
      5000));
  // The address's budget: ten a second with a burst of four seconds' worth.
  EXPECT_EQ(moves, 40);
  EXPECT_TRUE(own_move) << "another address's move still reaches everyone";
}

}  // namespace
}  // namespace pltest
