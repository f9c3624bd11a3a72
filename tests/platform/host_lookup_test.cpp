#include "platform/host_lookup.h"

#include <gtest/gtest.h>

#include "platform/client_socket.h"

namespace {

// "localhost" comes from the hosts file, so these need no name server.
TEST(HostLookup, FindsLocalhostThroughTheResolver) {
  plat::HostLookup lookup = plat::LookUpHost("localhost");
  ASSERT_TRUE(lookup.ip.has_value()) << lookup.reason;
  EXPECT_EQ(*lookup.ip >> 24, 127u);
  EXPECT_TRUE(lookup.reason.empty());
}

TEST(HostLookup, ClientHostsTakeDottedAddressesWithoutALookup) {
  std::string error;
  EXPECT_EQ(plat::ResolveHost("127.0.0.9", &error), 0x7F000009u);
  EXPECT_EQ(plat::ResolveHost("localhost", &error), 0x7F000001u);
  EXPECT_TRUE(error.empty());
}

// A name with a byte no resolver accepts fails at once, and the message names the host.
TEST(HostLookup, AFailedLookupNamesTheHostAndTheReason) {
  std::string error;
  EXPECT_EQ(plat::ResolveHost("", &error), std::nullopt);
  EXPECT_EQ(error.rfind(": ", 0), 0u) << error;
  EXPECT_GT(error.size(), 2u);
}

}  // namespace
