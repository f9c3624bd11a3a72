#include "platform/ip_address.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/socket_address.h"

namespace {

using plat::IpAddress;
using plat::ParseIpAddress;
using plat::ParseIpPrefix;

std::string Shown(const std::string& text) {
  std::optional<IpAddress> address = ParseIpAddress(text);
  return address ? address->Text() : "(refused)";
}

TEST(IpAddress, TextsReadBackInTheirShortestFormAndMappedIpv4IsDotted) {
  EXPECT_EQ(Shown("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(Shown("::1"), "::1");
  EXPECT_EQ(Shown("::"), "::");
  EXPECT_EQ(Shown("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
  EXPECT_EQ(Shown("2001:db8:0:0:1:0:0:1"), "2001:db8::1:0:0:1");  // the first of equal runs
  EXPECT_EQ(Shown("2001:db8:0:1:1:1:1:1"), "2001:db8:0:1:1:1:1:1");  // one zero group stays
  EXPECT_EQ(Shown("fe80::"), "fe80::");
  EXPECT_EQ(Shown("::ffff:10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(Shown("64:ff9b::192.0.2.33"), "64:ff9b::c000:221");
  EXPECT_EQ(ParseIpAddress("::ffff:7f00:1"), IpAddress::FromIpv4(0x7F000001));
  EXPECT_EQ(ParseIpAddress("::ffff:7f00:1")->Ipv4(), 0x7F000001u);
  EXPECT_EQ(ParseIpAddress("::1")->Ipv4(), 0u);
}

TEST(IpAddress, AnythingButAnAddressIsRefused) {
  for (const char* text :
       {"", ":", ":::", "1:::2", "1::2::3", ":1::2", "1:2:3:4:5:6:7", "1:2:3:4:5:6:7:8:9",
        "1:2:3:4:5:6:7::8:9", "12345::", "g::", "::1%eth0", "[::1]", "1.2.3.4::", "::1.2.3",
        "1:2:3:4:5:6:7:1.2.3.4", "256.0.0.1", " ::1", "::1 "}) {
    EXPECT_FALSE(ParseIpAddress(text)) << text;
  }
}

TEST(IpAddress, PrefixesAndTheGroupsTheLimitsCountBy) {
  std::optional<plat::IpPrefix> v6 = ParseIpPrefix("2001:db8:ffff::1/48");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->Text(), "2001:db8:ffff::/48");
  EXPECT_TRUE(v6->Contains(*ParseIpAddress("2001:db8:ffff:1234::9")));
  EXPECT_FALSE(v6->Contains(*ParseIpAddress("2001:db8:fffe::1")));
  std::optional<plat::IpPrefix> v4 = ParseIpPrefix("10.1.200.7/16");
  ASSERT_TRUE(v4);
  EXPECT_EQ(v4->Text(), "10.1.0.0/16");
  EXPECT_TRUE(v4->Contains(IpAddress::FromIpv4(0x0A01FFFF)));
  EXPECT_FALSE(v4->Contains(*ParseIpAddress("::a01:0")));
  EXPECT_EQ(ParseIpPrefix("::1")->Text(), "::1");
  for (const char* text : {"10.0.0.0/33", "::/129", "::/", "::/-1", "::/0x", "10.0.0.0/8/8"})
    EXPECT_FALSE(ParseIpPrefix(text)) << text;

  EXPECT_EQ(plat::AddressGroup(*ParseIpAddress("2001:db8:1:2:aaaa::1")),
            plat::AddressGroup(*ParseIpAddress("2001:db8:1:2:bbbb::2")));
  EXPECT_NE(plat::AddressGroup(*ParseIpAddress("2001:db8:1:2::1")),
            plat::AddressGroup(*ParseIpAddress("2001:db8:1:3::1")));
  EXPECT_NE(plat::AddressGroup(IpAddress::FromIpv4(0x0A000001)),
            plat::AddressGroup(IpAddress::FromIpv4(0x0A000002)));
}

// A peer of a dual-stack socket comes IPv4-mapped: it is the same endpoint, with the same text,
// as the peer of an IPv4 socket; IPv6 endpoints are written and read in brackets.
TEST(Endpoint, MappedPeersEqualIpv4OnesAndIpv6EndpointsUseBrackets) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = htonl(0x7F000001);
  in.sin_port = htons(8765);
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  const uint8_t bytes[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
  std::memcpy(&mapped.sin6_addr, bytes, 16);
  mapped.sin6_port = htons(8765);
  const plat::Endpoint from_v4 = plat::FromSockaddr(reinterpret_cast<const sockaddr*>(&in));
  EXPECT_EQ(plat::FromSockaddr(reinterpret_cast<const sockaddr*>(&mapped)), from_v4);
  EXPECT_EQ(from_v4.ToString(), "127.0.0.1:8765");

  const std::optional<plat::Endpoint> v6 = plat::ParseEndpoint("[2001:DB8::1]:80");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->ToString(), "[2001:db8::1]:80");
  EXPECT_EQ(plat::ParseEndpoint("127.0.0.1:9766")->ToString(), "127.0.0.1:9766");
  for (const char* text : {"2001:db8::1:80", "[127.0.0.1]:80", "[::1]", "[::1]:", "[::1]:65536"})
    EXPECT_FALSE(plat::ParseEndpoint(text)) << text;
}

}  // namespace
