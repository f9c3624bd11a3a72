// Connections that never log in are limited in time and in number; logged-in clients are not.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/test_server.h"

namespace {

using pltest::IniKeys;
using pltest::TestServer;

TEST(ConnectionLimits, ASilentConnectionIsClosedAfterTheLoginTimeoutAndAClientStays) {
  TestServer server(IniKeys().Set("Security", "LoginTimeout", "1"));
  auto silent = server.Connect();
  auto client = server.LoggedIn("Stays");
  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(silent->WaitForClose(3000));
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  EXPECT_GE(waited.count(), 700);
  // The logged-in client outlives the timeout and still gets answers.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  ASSERT_TRUE(client->SendServerStatsReq());
  EXPECT_TRUE(client->Await(plclient::ParseServerStats, 2000).has_value());
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
