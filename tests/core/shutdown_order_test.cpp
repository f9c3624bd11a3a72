// The order of the shutdown lines: every stop request is in the log before the end line of the
// thread it stops. Many servers shut down at once, so the threads' wake-ups and the main
// thread's lines meet in every order the scheduler can produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "support/blackbox.h"
#include "support/test_server.h"

namespace {

constexpr int kShutdowns = 30;

size_t IndexOf(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
}

TEST(ShutdownOrder, EveryStopRequestIsLoggedBeforeTheEndLineOfItsThread) {
  std::vector<std::unique_ptr<pltest::TestServer>> servers;
  for (int i = 0; i < kShutdowns; ++i) {
    // The poster runs (it posts nowhere), so all three workers are stopped.
    servers.push_back(
        std::make_unique<pltest::TestServer>(pltest::IniKeys().Set("WebStatus", "Active", "1")));
    ASSERT_TRUE(servers.back()->started());
  }
  std::vector<std::thread> shutdowns;
  for (auto& server : servers) {
    shutdowns.emplace_back([&server] { server->server().Server_DeInit(); });
  }
  for (std::thread& shutdown : shutdowns) shutdown.join();

  const std::pair<const char*, const char*> kRequestAndEnd[] = {
      {"Server_DeInit -- pingpong term sent", "PingThread.Terminated"},
      {"Server_DeInit -- Web term sent", "WebPoster.Terminated"},
      {"Server_DeInit -- UDPThread term + event sent", "UDPSender.Terminated"},
  };
  int out_of_order = 0;
  for (auto& server : servers) {
    // The run that started (a start tried on a port pair that was taken ended its threads in the
    // same log before it).
    std::vector<std::string> texts;
    for (const std::string& line : pltest::ReadLogLines(server->directory() + "/plserver.log")) {
      texts.push_back(pltest::LogText(line));
      if (texts.back() == "Parlowind server started") texts.clear();
    }
    const size_t slept = IndexOf(texts, "Server_DeInit -- Slept 2 secs");
    ASSERT_LT(slept, texts.size()) << ::testing::PrintToString(texts);
    for (const auto& [request, end] : kRequestAndEnd) {
      const size_t request_at = IndexOf(texts, request);
      const size_t end_at = IndexOf(texts, end);
      ASSERT_LT(request_at, texts.size()) << request;
      ASSERT_LT(end_at, texts.size()) << end;
      if (end_at < request_at) {
        ++out_of_order;
        ADD_FAILURE() << end << " before " << request << ": " << ::testing::PrintToString(texts);
      }
    }
  }
  EXPECT_EQ(out_of_order, 0);
}

}  // namespace
