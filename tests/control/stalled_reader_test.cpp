// One client stops reading while the others keep the server busy: nobody else waits for it, and
// it is disconnected once its output backs up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/test_server.h"

namespace {

using plclient::Frame;
using pltest::Member;
using pltest::TestServer;

constexpr int kMovers = 3;
constexpr int kMovesEach = 700;

// A stress test: the movers send frames as fast as they are answered, so the frame limits (of a
// connection, and of the one address all of them share) are turned off here.
pltest::IniKeys ManyRooms() {
  pltest::IniKeys keys;
  keys.Set("Security", "MaxFramesPerSecond", "0");
  keys.Set("Security", "MaxBroadcastFramesPerAddress", "0");
  for (int i = 0; i < 100; ++i)
    keys.Set("Channels", std::to_string(i), "Room number " + std::to_string(i));
  return keys;
}

TEST(StalledReader, OthersStayPromptAndTheStalledClientIsDisconnected) {
  TestServer server(ManyRooms());
  Member observer = server.Join("Observer");
  std::vector<Member> movers;
  for (int i = 0; i < kMovers; ++i) movers.push_back(server.Join("Mover" + std::to_string(i)));
  plclient::ClientOptions small_window;
  small_window.receive_buffer_bytes = 2048;
  auto stalled = server.Connect(small_window);
  ASSERT_TRUE(stalled->Login("Stalled").accepted);
  const uint8_t stalled_byte = static_cast<uint8_t>(kMovers + 2);

  // From here on the stalled client never reads. Its own list requests (3 KiB each) back its
  // output up quickly; the movers' broadcasts reach it too.
  std::atomic<bool> stop{false};
  std::thread requests([&] {
    for (int i = 0; i < 2000 && !stop; ++i) {
      if (!stalled->SendListsReq()) break;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  std::atomic<int64_t> worst_ms{0};
  std::atomic<bool> move_failed{false};
  std::vector<std::thread> threads;
  for (Member& mover : movers) {
    threads.emplace_back([&] {
      for (int i = 0; i < kMovesEach && !move_failed; ++i) {
        const uint8_t room_byte = static_cast<uint8_t>(1 + i % 50);
        auto started = std::chrono::steady_clock::now();
        if (!mover->SendChangeRoom(room_byte)) {
          move_failed = true;
          break;
        }
        auto own = mover->ReadUntil(
            [&](const Frame& f) {
              auto moved = plclient::ParsePlayerMoved(f);
              return moved && moved->player_byte == mover.player_byte &&
                     moved->room_byte == room_byte;
            },
            5000);
        if (!own) {
          move_failed = true;
          break;
        }
        int64_t took = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
        int64_t worst = worst_ms.load();
        while (took > worst && !worst_ms.compare_exchange_weak(worst, took)) {
        }
      }
    });
  }
  auto gone = observer->ReadUntil(
      [&](const Frame& f) {
        auto left = plclient::ParsePlayerLeft(f);
        return left && left->player_byte == stalled_byte;
      },
      15000);
  for (auto& thread : threads) thread.join();
  stop = true;
  requests.join();
  ASSERT_TRUE(gone) << "the stalled client was never disconnected";
  EXPECT_EQ(plclient::ParsePlayerLeft(*gone)->reason, 0);
  EXPECT_FALSE(move_failed) << "a mover's own PlayerMoved did not come";
  EXPECT_LT(worst_ms.load(), 2000) << "a reply waited for the stalled reader";
  EXPECT_TRUE(
      pltest::WaitUntil([&] { return server.server().clients().Count() == 1u + kMovers; }, 3000));
}

}  // namespace
