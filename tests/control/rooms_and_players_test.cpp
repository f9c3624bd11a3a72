// The lists, room changes and departures, as the clients see them on the wire.
#include <gtest/gtest.h>

#include "support/test_server.h"

namespace {

using plclient::Frame;
using pltest::IniKeys;
using pltest::TestServer;

void PutText(std::vector<uint8_t>& bytes, const std::string& text) {
  bytes.push_back(static_cast<uint8_t>(text.size()));
  for (char c : text) bytes.push_back(static_cast<uint8_t>(c));
  bytes.resize(bytes.size() + 30 - text.size(), 0);
}

IniKeys TwoRooms() {
  return IniKeys().Set("Channels", "0", "Lobby").Set("Channels", "1", "Games");
}

TEST(ServerLists, OlderDialectGetsCodeTwoWith33BytePlayerRecords) {
  TestServer server(TwoRooms());
  auto client = server.LoggedIn("Old", "1.2.0");
  ASSERT_TRUE(client->SendListsReq(7, 0));
  std::optional<Frame> frame = client->ReadFrame(2000);
  ASSERT_TRUE(frame);
  uint16_t id = frame->Id();
  std::vector<uint8_t> expected = {0xBA,
                                   0xB0,
                                   static_cast<uint8_t>(id),
                                   static_cast<uint8_t>(id >> 8),
                                   12 + 64 + 33,
                                   0,
                                   2,
                                   0,
                                   2,
                                   1,
                                   1,
                                   0};
  expected.push_back(1);
  PutText(expected, "Lobby");
  expected.push_back(2);
  PutText(expected, "Games");
  expected.push_back(1);  // player byte
  expected.push_back(1);  // room byte
  PutText(expected, "Old");
  EXPECT_EQ(frame->bytes, expected);
  EXPECT_GE(id, 1);
}

TEST(ServerLists, NewerDialectGetsCodeThreeWithTheAdministratorFlag) {
  TestServer server(TwoRooms());
  pltest::Member admin = server.JoinAsAdmin("Boss");
  pltest::Member plain = server.Join("Plain", "");  // an empty version text is the newer dialect
  ASSERT_TRUE(plain->SendChangeRoom(2));
  ASSERT_TRUE(plain->Await(&plclient::ParsePlayerMoved, 2000));
  ASSERT_TRUE(plain->SendListsReq());
  std::optional<Frame> frame = plain->ReadUntil([](const Frame& f) { return f.Code() == 3; }, 2000);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->size(), 12u + 64 + 2 * 34);
  const char* boss = reinterpret_cast<const char*>(frame->bytes.data()) + 12 + 64;
  EXPECT_EQ(boss[0], admin.player_byte);
  EXPECT_EQ(boss[1], 1);
  EXPECT_EQ(boss[2], 1) << "administrator flag";
  EXPECT_EQ(std::string(boss + 3, boss + 8), std::string("\x04") + "Boss");
  const char* other = boss + 34;
  EXPECT_EQ(other[0], plain.player_byte);
  EXPECT_EQ(other[1], 2);
  EXPECT_EQ(other[2], 0);
  EXPECT_EQ(frame->bytes[10], plain.player_byte);
}

TEST(ServerLists, ModeOneIsRefusedAndTheClientIsAnnouncedAsGone) {
  TestServer server;
  pltest::Member stay = server.Join("Stay");
  pltest::Member bad = server.Join("Bad");
  ASSERT_TRUE(bad->SendListsReq(0, 1));
  auto refusal = bad->Await(&plclient::ParseResult, 2000);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->value, -5);
  EXPECT_EQ(refusal->id, bad.id);
  EXPECT_TRUE(bad->WaitForClose(2000));
  auto left = stay->Await(&plclient::ParsePlayerLeft, 2000);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->player_byte, bad.player_byte);
  EXPECT_EQ(left->reason, 0);
  EXPECT_TRUE(stay->ExpectSilence(150));
}

TEST(ChangeRoom, PlayerMovedGoesToEveryoneWithTheByteAsSent) {
  TestServer server(TwoRooms());
  pltest::Member mover = server.Join("Mover");
  pltest::Member watcher = server.Join("Watcher");
  mover->Await(&plclient::ParsePlayerJoined, 2000);
  for (uint8_t room_byte : {5, 0, 2}) {
    ASSERT_TRUE(mover->SendChangeRoom(room_byte));
    for (pltest::Member* member : {&mover, &watcher}) {
      std::optional<Frame> frame = (*member)->ReadFrame(2000);
      ASSERT_TRUE(frame);
      std::vector<uint8_t> expected = {0xBA,
                                       0xB0,
                                       static_cast<uint8_t>(member->id),
                                       static_cast<uint8_t>(member->id >> 8),
                                       10,
                                       0,
                                       10,
                                       0,
                                       mover.player_byte,
                                       room_byte};
      EXPECT_EQ(frame->bytes, expected);
    }
  }
  ASSERT_TRUE(mover->SendChangeRoom(5));
  ASSERT_TRUE(watcher->Await(&plclient::ParsePlayerMoved, 2000));
  ASSERT_TRUE(watcher->SendListsReq());
  auto lists = watcher->Await(&plclient::ParseServerLists, 2000);
  ASSERT_TRUE(lists);
  EXPECT_EQ(lists->players[0].room_byte, 5) << "a room that does not exist is taken as sent";
}

TEST(Departure, LeaveIsAnnouncedOnceToEveryoneTheLeaverIncluded) {
  TestServer server;
  pltest::Member stay = server.Join("Stay");
  pltest::Member leaver = server.Join("Leaver");
  stay->Await(&plclient::ParsePlayerJoined, 2000);
  ASSERT_TRUE(leaver->SendLeave());
  auto own = leaver->Await(&plclient::ParsePlayerLeft, 2000);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->player_byte, leaver.player_byte);
  EXPECT_EQ(own->reason, 0);
  EXPECT_EQ(own->id, leaver.id);
  EXPECT_TRUE(leaver->WaitForClose(2000));
  std::optional<Frame> frame = stay->ReadFrame(2000);
  ASSERT_TRUE(frame);
  std::vector<uint8_t> expected = {0xBA,
                                   0xB0,
                                   static_cast<uint8_t>(stay.id),
                                   static_cast<uint8_t>(stay.id >> 8),
                                   10,
                                   0,
                                   12,
                                   0,
                                   leaver.player_byte,
                                   0};
  EXPECT_EQ(frame->bytes, expected);
  EXPECT_TRUE(stay->ExpectSilence(200)) << "no second PlayerLeft";
  EXPECT_EQ(server.server().clients().Count(), 1u);
}

TEST(Departure, ADroppedConnectionIsAnnouncedOnceWithReasonZero) {
  TestServer server;
  pltest::Member stay = server.Join("Stay");
  {
    pltest::Member gone = server.Join("Gone");
    stay->Await(&plclient::ParsePlayerJoined, 2000);
  }  // the connection closes without ClientLeave
  auto left = stay->Await(&plclient::ParsePlayerLeft, 2000);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->player_byte, 2);
  EXPECT_EQ(left->reason, 0);
  EXPECT_TRUE(stay->ExpectSilence(200));
  EXPECT_TRUE(pltest::WaitUntil([&] { return server.server().clients().Count() == 1; }));
}

// The peer sends a burst of frames and closes at once: the frames still buffered when the close
// is seen must not keep the departure from being handled.
TEST(Departure, APeerThatClosesRightAfterABurstIsStillRemovedAndAnnounced) {
  TestServer server;
  pltest::Member stay = server.Join("Stay");
  {
    pltest::Member burst = server.Join("Burst");
    std::vector<uint8_t> frames;
    for (int i = 0; i < 20; ++i) {
      std::vector<uint8_t> frame = plclient::ClientChangeRoomFrame(static_cast<uint8_t>(1 + i % 3));
      frames.insert(frames.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(burst->Send(frames));
  }
  auto left = stay->ReadUntil(
      [](const Frame& f) { return plclient::ParsePlayerLeft(f).has_value(); }, 3000);
  ASSERT_TRUE(left);
  EXPECT_TRUE(pltest::WaitUntil([&] { return server.server().clients().Count() == 1; }));
}

}  // namespace
