// The client library's voice datagrams, checked against known values.
#include <gtest/gtest.h>

#include <string>

#include "protoclient/voice_datagrams.h"

namespace {

TEST(VoiceDatagrams, RoomDatagramIsSealedOverTheWholeDatagram) {
  const std::vector<uint8_t> payload = {1, 2, 3, 4, 5};
  std::vector<uint8_t> datagram = plclient::VoiceDatagramForRoom(0x0102, 7, payload, 9);
  ASSERT_EQ(datagram.size(), 21u);
  EXPECT_EQ(std::vector<uint8_t>(datagram.begin(), datagram.begin() + 12),
            (std::vector<uint8_t>{0xBA, 0xB0, 0x02, 0x01, 21, 0, 0, 9, 7, 0, 0, 0}));
  EXPECT_TRUE(plclient::VoiceCrcValid(datagram));
  for (size_t bit = 0; bit < datagram.size() * 8; bit += 13) {
    std::vector<uint8_t> damaged = datagram;
    damaged[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    EXPECT_FALSE(plclient::VoiceCrcValid(damaged)) << "bit " << bit;
  }
}

TEST(VoiceDatagrams, PlayerListDatagramCarriesCountListAndPayload) {
  const std::vector<uint8_t> players = {2, 5, 5};
  const std::vector<uint8_t> payload(100, 0xAB);
  std::vector<uint8_t> datagram = plclient::VoiceDatagramForPlayers(3, 1, players, payload);
  ASSERT_EQ(datagram.size(), 120u);
  EXPECT_EQ(datagram[4], 120);
  EXPECT_EQ(datagram[6], 1);
  EXPECT_EQ(datagram[16], 3);
  EXPECT_EQ(datagram[18], 5);
  EXPECT_EQ(datagram[20], 0xAB);
  EXPECT_TRUE(plclient::VoiceCrcValid(datagram));
}

TEST(VoiceDatagrams, KeepAliveLayout) {
  EXPECT_EQ(plclient::KeepAliveDatagram(0x0102, 1, 200),
            (std::vector<uint8_t>{0xBB, 0xAA, 0x02, 0x01, 0x0C, 0x00, 0x01, 0xC8, 0xFF, 0xEE, 0x00,
                                  0x00}));
  auto parsed = plclient::ParseKeepAlive(plclient::KeepAliveDatagram(9, 2, 3));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->id, 9);
  EXPECT_EQ(parsed->type, 2);
  EXPECT_EQ(parsed->marker, 3);
  EXPECT_FALSE(plclient::ParseKeepAlive(plclient::VoiceDatagramForRoom(9, 1, {})));
}

TEST(VoicePeer, SendsAndReceivesOnLoopback) {
  auto receiver = plclient::VoicePeer::Open(1);
  ASSERT_TRUE(receiver);
  auto sender = plclient::VoicePeer::Open(receiver->Local().port);
  ASSERT_TRUE(sender);
  std::vector<uint8_t> ping = plclient::KeepAliveDatagram(4, 1, 200);
  ASSERT_TRUE(sender->Send(ping));
  auto got = receiver->Receive(2000);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, ping);
  EXPECT_FALSE(receiver->Receive(50));
}

}  // namespace
