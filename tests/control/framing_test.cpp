// Framing of the control stream and the order in which frames reach a client.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "support/test_server.h"

namespace {

using plclient::Frame;
using pltest::Member;
using pltest::TestServer;

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Framing, TwoFramesBackToBackAreBothHandledAndCountedApart) {
  TestServer server;
  Member member = server.Join("Fast");
  core::TrafficCounters& counters = server.server().counters();
  ASSERT_TRUE(pltest::WaitUntil([&] { return counters.TcpPacketsSent.load() == 2; }));
  const uint32_t packets = counters.TcpPacketsReceived.load();
  const uint32_t bytes = counters.TcpBytesReceived.load();
  ASSERT_TRUE(
      member->Send(Concat(plclient::ClientChangeRoomFrame(3), plclient::ServerStatsReqFrame())));
  auto moved = member->ReadFrame(2000);
  ASSERT_TRUE(moved);
  EXPECT_TRUE(plclient::ParsePlayerMoved(*moved)) << plclient::DescribeFrame(*moved);
  auto stats = member->ReadFrame(2000);
  ASSERT_TRUE(stats);
  EXPECT_TRUE(plclient::ParseServerStats(*stats)) << plclient::DescribeFrame(*stats);
  EXPECT_TRUE(pltest::WaitUntil([&] { return counters.TcpPacketsReceived.load() == packets + 2; }));
  EXPECT_EQ(counters.TcpBytesReceived.load(), bytes + 9 + 8);
}

TEST(Framing, AFrameSplitAcrossTwoWritesIsHandledOnceWhole) {
  TestServer server;
  Member member = server.Join("Slow");
  std::vector<uint8_t> frame = plclient::ClientChangeRoomFrame(7);
  for (size_t split : {6u, 8u}) {
    ASSERT_TRUE(member->Send(std::span<const uint8_t>(frame.data(), split)));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(member->Send(std::span<const uint8_t>(frame.data() + split, frame.size() - split)));
    auto moved = member->Await(&plclient::ParsePlayerMoved, 2000);
    ASSERT_TRUE(moved) << "split at " << split;
    EXPECT_EQ(moved->room_byte, 7);
    EXPECT_TRUE(member->ExpectSilence(150)) << "handled twice, split at " << split;
  }
}

TEST(Framing, AConnectionClosedInTheMiddleOfAFrameDoesNotSpinWhileTheRestIsAwaited) {
  TestServer server;
  Member admin = server.JoinAsAdmin("Admin");
  Member slow = server.Join("Slow");
  // The first six bytes of a frame that declares 100: the reader waits for the rest.
  std::vector<uint8_t> head = plclient::ClientChangeRoomFrame(7);
  head[4] = 100;
  head.resize(6);
  ASSERT_TRUE(slow->Send(head));
  // Gives the reader time to start its wait (a kick before it only makes the test weaker).
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::clock_t cpu_before = std::clock();
  ASSERT_TRUE(admin->SendAdminKickPlayer(slow.player_byte));
  ASSERT_TRUE(slow->Await(&plclient::ParsePlayerLeft, 2000));
  // One more byte after the close request wakes the reader's wait, but does not complete the
  // frame.
  const uint8_t one_more = 0;
  ASSERT_TRUE(slow->Send(std::span<const uint8_t>(&one_more, 1)));
  EXPECT_TRUE(slow->WaitForClose(3000));
  // A reader that spins until its wait is over burns most of a second of processor time; one
  // that gives up at the close request burns next to none.
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;
  EXPECT_LT(cpu_ms, 250.0);
}

TEST(Framing, AnUnknownCodeIsCountedAndOtherwiseIgnored) {
  TestServer server;
  Member member = server.Join("Odd");
  clients::ClientRef client = server.server().clients().FindClientByPlayerNo(0);
  ASSERT_TRUE(client);
  const uint32_t before = client->Counters.TcpPacketsReceived.load();
  ASSERT_TRUE(member->Send(plclient::BareFrame(999)));
  EXPECT_TRUE(member->ExpectSilence(150));
  EXPECT_EQ(client->Counters.TcpPacketsReceived.load(), before + 1);
  ASSERT_TRUE(member->SendListsReq());
  EXPECT_TRUE(member->Await(&plclient::ParseServerLists, 2000));
}

// Fields beyond the bytes that arrived read as zero.
TEST(Framing, ShortFramesReadMissingFieldsAsZero) {
  TestServer server;
  auto client = server.Connect();
  ASSERT_TRUE(client->Send(plclient::BareFrame(1)));  // a login with no payload at all
  auto accepted = client->ReadFrame(2000);
  ASSERT_TRUE(accepted);
  EXPECT_TRUE(plclient::ParseLoginAccepted(*accepted));
  ASSERT_TRUE(client->Send(plclient::BareFrame(50)));  // room byte missing: 0
  auto moved = client->Await(&plclient::ParsePlayerMoved, 2000);
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->room_byte, 0);
  ASSERT_TRUE(client->Send(plclient::BareFrame(60)));  // player byte missing: no reply
  EXPECT_TRUE(client->ExpectSilence(150));
  ASSERT_TRUE(client->Send(plclient::BareFrame(2)));
  auto lists = client->Await(&plclient::ParseServerLists, 2000);
  ASSERT_TRUE(lists);
  ASSERT_EQ(lists->players.size(), 1u);
  EXPECT_EQ(lists->players[0].name, "");
  EXPECT_EQ(lists->players[0].room_byte, 0);
}

TEST(Ordering, QueuedFramesLeaveOldestFirst) {
  TestServer server;
  Member member = server.Join("Queue");
  clients::ClientRef client = server.server().clients().FindClientByPlayerNo(0);
  ASSERT_TRUE(client);
  for (int code : {1001, 1002, 1003})
    client->QueueFrame(plclient::BareFrame(static_cast<int16_t>(code)));
  client->FlushQueue();
  for (int code : {1001, 1002, 1003}) {
    auto frame = member->ReadFrame(2000);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Code(), code);
  }
}

// Broadcasts from other connections keep coming while clients log in: each new client still
// receives LoginAccepted before anything else.
TEST(Ordering, LoginAcceptedComesFirstWhileOthersBroadcast) {
  // Every client comes from one address: its limits of logins and broadcasts are off.
  TestServer server(pltest::IniKeys()
                        .Set("General", "MaxClients", "64")
                        .Set("Security", "MaxLoginsPerAddress", "0")
                        .Set("Security", "MaxBroadcastFramesPerAddress", "0"));
  Member mover = server.Join("Mover");
  std::atomic<bool> stop{false};
  std::thread storm([&] {
    for (int i = 0; !stop && i < 20000; ++i) {
      if (!mover->SendChangeRoom(static_cast<uint8_t>(1 + i % 3))) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::thread drain([&] {
    while (!stop) mover->ReadFrame(50);
  });
  for (int i = 0; i < 40; ++i) {
    auto client = server.Connect();
    ASSERT_TRUE(client->SendLogin("New" + std::to_string(i), "", "1.3.0"));
    auto first = client->ReadFrame(2000);
    ASSERT_TRUE(first);
    EXPECT_TRUE(plclient::ParseLoginAccepted(*first))
        << "login " << i << " first got " << plclient::DescribeFrame(*first);
  }
  stop = true;
  storm.join();
  drain.join();
}

}  // namespace
