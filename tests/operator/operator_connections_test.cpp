// The operator socket's places: an operator that stays silent gives its place up after a minute,
// a watcher keeps it.
#include <gtest/gtest.h>

#include "operator/operator_server.h"
#include "operator/server_wiring.h"
#include "support/manual_clock.h"
#include "support/operator_client.h"
#include "support/test_server.h"

namespace pltest {
namespace {

TEST(OperatorConnections, AnIdleOperatorMakesRoomAfterAMinuteAWatcherStays) {
  ManualClock clock;
  TestServer server(IniKeys(), clock);
  const std::string path = server.directory() + "/operator.sock";
  oper::OperatorServer operators(oper::AccessTo(server.server()), {path, 2, 0600});
  ASSERT_TRUE(operators.Start().ok());
  auto watcher = OperatorClient::Connect(path);
  ASSERT_TRUE(watcher);
  ASSERT_TRUE(watcher->Call({{"command", "watch"}}).value("ok", false));
  auto idle = OperatorClient::Connect(path);
  ASSERT_TRUE(idle);
  ASSERT_TRUE(idle->Call({{"command", "status"}}).value("ok", false));
  auto busy = OperatorClient::Connect(path);
  ASSERT_TRUE(busy);
  EXPECT_EQ(OpJson::parse(busy->ReadLine().value_or("{}")).value("error", OpJson::object())
                .value("code", ""),
            "busy");

  clock.Advance(60000);
  auto late = OperatorClient::Connect(path);
  ASSERT_TRUE(late);
  EXPECT_TRUE(late->Call({{"command", "status"}}).value("ok", false));
  EXPECT_FALSE(idle->ReadLine(2000));
  EXPECT_TRUE(idle->Closed());
  server.Join("Player");
  EXPECT_TRUE(watcher->ReadLine(2000).has_value()) << "the watcher is still served";
}

}  // namespace
}  // namespace pltest
