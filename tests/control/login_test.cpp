// Logging in over real loopback connections: the accepted frame, the refusals, the allocation
// of player numbers and Ids, and who hears of a new player.
#include <gtest/gtest.h>

#include <set>

#include "support/test_server.h"

namespace {

using plclient::Frame;
using pltest::IniKeys;
using pltest::TestServer;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int value : values) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

TEST(Login, AcceptedFrameIsTheFirstFrameByteForByte) {
  TestServer server(IniKeys().Set("General", "Servername", "Test Hall"));
  auto client = server.Connect();
  ASSERT_TRUE(client->SendLogin("Ann", "", "1.3.0"));
  std::optional<Frame> frame = client->ReadFrame(2000);
  ASSERT_TRUE(frame);
  std::vector<uint8_t> expected = Bytes({0xBA, 0xB0, 0, 0, 43, 0, 1, 0, 9});
  for (char c : std::string("Test Hall")) expected.push_back(static_cast<uint8_t>(c));
  expected.resize(39, 0);
  for (int tail : {0, 2, 1, 2}) expected.push_back(static_cast<uint8_t>(tail));
  EXPECT_EQ(frame->bytes, expected);
}

TEST(Login, ServerFullIsRefusedWithIdZeroAndTheConnectionClosed) {
  TestServer server(IniKeys().Set("General", "MaxClients", "1"));
  auto first = server.LoggedIn("First");
  auto second = server.Connect();
  ASSERT_TRUE(second->SendLogin("Second", "", "1.3.0"));
  std::optional<Frame> refusal = second->ReadFrame(2000);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->bytes, Bytes({0xBA, 0xB0, 0, 0, 8, 0, 0xFF, 0xFF}));
  EXPECT_TRUE(second->WaitForClose(2000));
  EXPECT_TRUE(first->ExpectSilence(100)) << "the refused login must not be announced";
}

TEST(Login, WrongServerPasswordIsRefusedCaseSensitively) {
  TestServer server(IniKeys().Set("Passwords", "ServerPassword", "Secret"));
  for (const char* wrong : {"secret", "", "Secret "}) {
    auto client = server.Connect();
    ASSERT_TRUE(client->SendLogin("Guest", wrong, "1.3.0"));
    std::optional<Frame> refusal = client->ReadFrame(2000);
    ASSERT_TRUE(refusal) << wrong;
    EXPECT_EQ(refusal->bytes, Bytes({0xBA, 0xB0, 0, 0, 8, 0, 0xFE, 0xFF})) << wrong;
    EXPECT_TRUE(client->WaitForClose(2000)) << wrong;
  }
  EXPECT_TRUE(server.Connect()->Login("Guest", "Secret").accepted);
}

TEST(Login, AnyPasswordIsAcceptedWithoutAServerPassword) {
  TestServer server;
  EXPECT_TRUE(server.Connect()->Login("Guest", "whatever").accepted);
}

TEST(Login, PlayerNumbersAreTheLowestFreeAndReusedAfterALeave) {
  TestServer server;
  pltest::Member a = server.Join("A");
  pltest::Member b = server.Join("B");
  pltest::Member c = server.Join("C");
  EXPECT_EQ(a.player_byte, 1);
  EXPECT_EQ(b.player_byte, 2);
  EXPECT_EQ(c.player_byte, 3);
  ASSERT_TRUE(b->SendLeave());
  ASSERT_TRUE(b->WaitForClose(2000));
  ASSERT_TRUE(pltest::WaitUntil([&] { return server.server().clients().Count() == 2; }));
  pltest::Member d = server.Join("D");
  EXPECT_EQ(d.player_byte, 2);
}

TEST(Login, IdsAreUniqueAndInRangeAndCarriedByEveryLaterFrame) {
  TestServer server(IniKeys().Set("General", "MaxClients", "40"));
  std::vector<pltest::Member> members;
  std::set<uint16_t> ids;
  for (int i = 0; i < 30; ++i) {
    members.push_back(server.Join("P" + std::to_string(i)));
    uint16_t id = members.back().id;
    EXPECT_GE(id, 1);
    EXPECT_LE(id, 50000);
    EXPECT_TRUE(ids.insert(id).second) << "Id " << id << " given twice";
  }
  // A notification addressed to the first member carries the first member's Id.
  ASSERT_TRUE(members[1]->SendChangeRoom(2));
  auto moved = members[0]->Await(&plclient::ParsePlayerMoved, 2000);
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->id, members[0].id);
}

TEST(Login, PlayerJoinedReachesTheOthersOnly) {
  TestServer server;
  pltest::Member first = server.Join("First");
  auto second = server.Connect();
  ASSERT_TRUE(second->Login("Second").accepted);
  std::optional<Frame> joined = first->ReadFrame(2000);
  ASSERT_TRUE(joined);
  std::vector<uint8_t> expected =
      Bytes({0xBA, 0xB0, first.id & 0xFF, first.id >> 8, 41, 0, 11, 0, 2, 1, 6});
  for (char c : std::string("Second")) expected.push_back(static_cast<uint8_t>(c));
  expected.resize(41, 0);
  EXPECT_EQ(joined->bytes, expected);
  EXPECT_TRUE(second->ExpectSilence(150)) << "the new player hears nothing of itself";
}

TEST(Login, ASecondLoginOnOneConnectionIsIgnoredAndTheConnectionStays) {
  TestServer server;
  pltest::Member member = server.Join("Once");
  ASSERT_TRUE(member->SendLogin("Twice", "", "1.3.0"));
  EXPECT_TRUE(member->ExpectSilence(150));
  ASSERT_TRUE(member->SendListsReq());
  auto lists = member->Await(&plclient::ParseServerLists, 2000);
  ASSERT_TRUE(lists);
  EXPECT_EQ(lists->players.size(), 1u);
}

TEST(Login, AnyOtherFrameBeforeLoginClosesTheConnection) {
  TestServer server;
  auto client = server.Connect();
  ASSERT_TRUE(client->SendChangeRoom(1));
  EXPECT_TRUE(client->WaitForClose(2000));
}

// More than 255 registered clients do not fit the one-byte player number: with MaxClients
// above that, the 256th login is refused as if the server were full.
TEST(Login, TheLoginAfter255ClientsIsRefusedWhateverMaxClientsSays) {
  TestServer server(IniKeys().Set("General", "MaxClients", "300"));
  std::vector<std::unique_ptr<plclient::ProtocolClient>> clients;
  for (int i = 0; i < 255; ++i) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Login("N" + std::to_string(i)).accepted) << "login " << i + 1;
    clients.push_back(std::move(client));
  }
  auto extra = server.Connect();
  plclient::LoginOutcome outcome = extra->Login("Extra");
  ASSERT_TRUE(outcome.refused);
  EXPECT_EQ(outcome.refused->value, -1);
  EXPECT_EQ(outcome.refused->id, 0);
  EXPECT_TRUE(extra->WaitForClose(2000));
  EXPECT_EQ(server.server().clients().Count(), 255u);
}

}  // namespace
