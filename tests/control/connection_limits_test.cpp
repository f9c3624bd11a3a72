// Connections that never log in are limited in time and in number; logged-in clients are not.
#include <gtest/gtest.h>

#include "support/manual_clock.h"
#include "support/test_server.h"

namespace {

using pltest::IniKeys;
using pltest::TestServer;

TEST(ConnectionLimits, ASilentConnectionIsClosedAfterTheLoginTimeoutAndAClientStays) {
  // Also across the wrap of the tick count: there the deadline lies past 0.
  for (uint32_t start : {1000u, 0xFFFFFFFFu - 500}) {
    SCOPED_TRACE(start);
    pltest::ManualClock clock(start);
    TestServer server(IniKeys().Set("Security", "LoginTimeout", "1"), clock);
    auto silent = server.Connect();
    auto client = server.LoggedIn("Stays");
    // Both connections are admitted, so both deadlines are set, before the clock moves.
    ASSERT_TRUE(pltest::WaitUntil([&] { return server.server().tcp().ConnectionCount() == 2; }));
    clock.Advance(999);
    EXPECT_FALSE(silent->WaitForClose(100));
    clock.Advance(1);
    EXPECT_TRUE(silent->WaitForClose(3000));
    // The logged-in client outlives the timeout and still gets answers.
    clock.Advance(5000);
    ASSERT_TRUE(client->SendServerStatsReq());
    EXPECT_TRUE(client->Await(plclient::ParseServerStats, 2000).has_value());
  }
}

TEST(ConnectionLimits, AtTheLimitTheOldestConnectionWithoutAClientMakesRoom) {
  TestServer server(IniKeys().Set("Security", "MaxPendingConnections", "3"));
  std::vector<std::unique_ptr<plclient::ProtocolClient>> waiting;
  for (int i = 0; i < 3; ++i) waiting.push_back(server.Connect());
  ASSERT_TRUE(pltest::WaitUntil([&] { return server.server().tcp().ConnectionCount() == 3; }));
  // The newcomer stays; the oldest waiting one is closed to make room for it.
  auto newcomer = server.Connect();
  EXPECT_TRUE(waiting[0]->WaitForClose(2000));
  EXPECT_FALSE(waiting[1]->WaitForClose(0));
  EXPECT_TRUE(newcomer->Login("Newcomer").accepted);
  // A waiting connection that logs in frees its place.
  ASSERT_TRUE(waiting[1]->Login("First").accepted);
  auto admitted = server.Connect();
  EXPECT_FALSE(admitted->WaitForClose(300));
  EXPECT_TRUE(admitted->Login("Second").accepted);
  // Logged-in clients never count against the limit.
  auto third = server.Connect();
  EXPECT_FALSE(third->WaitForClose(300));
  EXPECT_FALSE(waiting[2]->WaitForClose(0));
}

}  // namespace
