// The server side of a control connection, seen from threads other than its own.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "platform/connection_pair.h"

namespace {

// The guard of idle connections asks whether a connection has spoken before its own thread may
// have read anything: bytes still waiting in the socket count, or a login on its way would be
// closed as idle on a busy host.
TEST(TcpConnectionReceivedAny, CountsBytesStillWaitingInTheSocket) {
  std::optional<plat::ConnectionPair> pair = plat::MakeConnectionPair();
  ASSERT_TRUE(pair);
  EXPECT_FALSE(pair->server_side->ReceivedAny());
  const std::array<uint8_t, 3> login_start{1, 2, 3};
  ASSERT_EQ(pair->peer->Write(login_start), login_start.size());
  EXPECT_TRUE(pair->server_side->ReceivedAny());
  EXPECT_EQ(pair->server_side->Buffered(), 0u);  // nothing read yet
  pair->server_side->Close();
  EXPECT_FALSE(pair->server_side->ReceivedAny());  // unread, and the socket is gone
}

}  // namespace
