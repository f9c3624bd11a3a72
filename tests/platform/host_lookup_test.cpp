#include "platform/host_lookup.h"

#include <gtest/gtest.h>

#include "platform/client_socket.h"
#include "support/addresses.h"

namespace {

// "localhost" comes from the hosts file, so these need no name server.
TEST(HostLookup, FindsLocalhostThroughTheResolver) {
  plat::HostLookup lookup = plat::LookUpHost("localhost");
  ASSERT_TRUE(lookup.ip.has_value()) << lookup.reason;
  EXPECT_EQ(*lookup.ip >> 24, 127u);
  EXPECT_TRUE(lookup.reason.empty());
}

TEST(HostLookup, ClientHostsTakeAddressLiteralsWithoutALookup) {
  using Found = std::vector<plat::IpAddress>;
  std::string error;
  EXPECT_EQ(plat::ResolveHost("127.0.0.9", &error), Found{pltest::V4(0x7F000009)});
  EXPECT_EQ(plat::ResolveHost("localhost", &error), Found{pltest::V4(0x7F000001)});
  EXPECT_EQ(plat::ResolveHost("[::1]", &error), Found{pltest::Ip("::1")});
  EXPECT_EQ(plat::ResolveHost("2001:db8::7", &error), Found{pltest::Ip("2001:db8::7")});
  EXPECT_TRUE(error.empty());
}

// A name with a byte no resolver accepts fails at once, and the message names the host.
TEST(HostLookup, AFailedLookupNamesTheHostAndTheReason) {
  std::string error;
  EXPECT_TRUE(plat::ResolveHost("", &error).empty());
  EXPECT_EQ(error.rfind(": ", 0), 0u) << error;
  EXPECT_GT(error.size(), 2u);
}

}  // namespace
