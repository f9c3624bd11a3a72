#include "wire/crc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/datagrams.h"

namespace {

uint32_t BitwiseCrc32(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

TEST(Crc32, MatchesTheStandardCheckValueAndABitwiseReference) {
  const std::string check = "123456789";
  EXPECT_EQ(wire::Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  EXPECT_EQ(wire::Crc32(nullptr, 0), 0u);
  const uint8_t zero = 0;
  EXPECT_EQ(wire::Crc32(&zero, 1), 0xD202EF8Du);
  std::vector<uint8_t> bytes;
  for (size_t length = 0; length < 300; ++length) {
    EXPECT_EQ(wire::Crc32(bytes.data(), bytes.size()), BitwiseCrc32(bytes)) << length;
    bytes.push_back(static_cast<uint8_t>(length * 37 + 11));
  }
}

TEST(Crc32, LengthLimits) {
  std::vector<uint8_t> block(wire::kMaxCrcLength + 1, 0x5A);
  EXPECT_EQ(wire::Crc32(block.data(), 0), 0u);
  std::vector<uint8_t> largest(block.begin(), block.end() - 1);
  EXPECT_EQ(wire::Crc32(largest.data(), largest.size()), BitwiseCrc32(largest));
  EXPECT_EQ(wire::Crc32(block.data(), block.size()), 0xFFFFFFFFu);
  // Beyond the limit the data is not even read.
  EXPECT_EQ(wire::Crc32(nullptr, 1 << 20), 0xFFFFFFFFu);
}

std::vector<uint8_t> VoiceDatagram(size_t payload) {
  std::vector<uint8_t> datagram(wire::kVoiceHeaderSize + payload);
  for (size_t i = 0; i < datagram.size(); ++i) datagram[i] = static_cast<uint8_t>(i * 7);
  return datagram;
}

TEST(Datagrams, ASealedDatagramPassesItsCheckAndAnyFlippedBitFailsIt) {
  std::vector<uint8_t> sealed = VoiceDatagram(40);
  wire::Seal(sealed.data(), sealed.size());
  std::vector<uint8_t> copy = sealed;
  EXPECT_TRUE(wire::CheckAndClearCrc(copy.data(), copy.size()));
  EXPECT_EQ(wire::ReadU32(copy, wire::kOffsetCrc), 0u);  // the field stays 0
  for (size_t bit = 0; bit < sealed.size() * 8; ++bit) {
    std::vector<uint8_t> damaged = sealed;
    damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_FALSE(wire::CheckAndClearCrc(damaged.data(), damaged.size())) << "bit " << bit;
  }
}

TEST(Datagrams, KeepAliveLayoutAndClassification) {
  uint8_t ping[wire::kKeepAliveSize];
  wire::BuildKeepAlive(ping, 0x0102, wire::kTypePing, wire::kServerPingMarker);
  const std::vector<uint8_t> expected = {0xBB, 0xAA, 0x02, 0x01, 0x0C, 0x00,
                                         0x01, 0xC8, 0xFF, 0xEE, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(ping, ping + sizeof ping), expected);

  using wire::KeepAliveKind;
  EXPECT_EQ(wire::ClassifyKeepAlive(1, 5), KeepAliveKind::kPong);
  EXPECT_EQ(wire::ClassifyKeepAlive(1, 4), KeepAliveKind::kPing);
  EXPECT_EQ(wire::ClassifyKeepAlive(1, 200), KeepAliveKind::kPong);
  EXPECT_EQ(wire::ClassifyKeepAlive(2, 0), KeepAliveKind::kPong);
  EXPECT_EQ(wire::ClassifyKeepAlive(3, 0), KeepAliveKind::kIgnored);
}

TEST(Datagrams, ListFitsOnlyWhenCountAndListLieWithinTheDatagram) {
  std::vector<uint8_t> datagram(17, 0);
  EXPECT_TRUE(wire::ListFits(datagram));  // count 0
  datagram[wire::kOffsetListCount] = 3;
  EXPECT_FALSE(wire::ListFits(datagram));
  datagram.resize(20);
  EXPECT_TRUE(wire::ListFits(datagram));
  datagram.resize(16);
  EXPECT_FALSE(wire::ListFits(datagram));
}

}  // namespace
