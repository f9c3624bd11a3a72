// Speakers in several rooms while other clients join, move and leave: the registries and the
// voice path stay consistent (run under ThreadSanitizer in CI).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/voice_fixture.h"
#include "wire/global_types.h"

namespace pltest {
namespace {

TEST(VoiceStress, SpeakersInSeveralRoomsWhileClientsJoinMoveAndLeave) {
  // A stress test: each speaker sends 500 datagrams a second, past the voice limits, which are
  // turned off here.
  TestServer server(IniKeys()
                        .Set("Security", "MaxVoicePacketsPerSecond", "0")
                        .Set("Security", "MaxVoiceBytesPerSecond", "0"));
  constexpr int kRooms = 3;
  std::vector<VoiceClient> speakers;
  for (int i = 0; i < kRooms * 2; ++i) {
    speakers.push_back(
        JoinWithVoice(server, "S" + std::to_string(i), static_cast<uint8_t>(1 + i % kRooms)));
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kRooms * 2; ++i) {
    threads.emplace_back([&, i] {
      uint32_t packet_id = 1;
      while (!stop) {
        speakers[i].udp->Send(
            plclient::VoiceDatagramForRoom(speakers[i].id, packet_id++, Payload(60)));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    // Each speaker's socket is drained by its own reader so the kernel buffers never fill.
    threads.emplace_back([&, i] {
      while (!stop) speakers[i].udp->Receive(50);
    });
  }
  for (int churner = 0; churner < 3; ++churner) {
    threads.emplace_back([&, churner] {
      int round = 0;
      while (!stop) {
        auto client = server.Connect();
        if (!client->Login("C" + std::to_string(churner)).accepted) continue;
        client->SendChangeRoom(static_cast<uint8_t>(1 + round++ % kRooms));
        client->SendListsReq();
        auto lists = client->Await(plclient::ParseServerLists, 1000);
        auto voice = plclient::VoicePeer::Open(server.udp_port());
        if (lists && voice) voice->Send(plclient::KeepAliveDatagram(lists->id, 3, 0));
        if (round % 2) client->SendLeave();  // else the connection simply drops
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  stop = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_TRUE(
      WaitUntil([&] { return server.server().clients().Count() == speakers.size(); }, 5000));
  // The room mates still hear each other, once the backlog of the stress phase has drained.
  while (speakers[kRooms].udp->Receive(300)) {
  }
  ASSERT_TRUE(
      speakers[0].udp->Send(plclient::VoiceDatagramForRoom(speakers[0].id, 100000, Payload(10))));
  bool heard = false;
  while (!heard) {
    auto datagram = speakers[kRooms].udp->Receive(2000);
    if (!datagram) break;
    heard = wire::ReadU32(*datagram, 8) == 100000;
  }
  EXPECT_TRUE(heard);
}

}  // namespace
}  // namespace pltest
