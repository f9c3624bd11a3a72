// The platform's outgoing request against real listeners on loopback.
#include "platform/http_post.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/http_recorder.h"
#include "support/status_check.h"

namespace {

using pltest::HttpRecorder;

plat::OutgoingRequest RequestTo(uint16_t port, std::string bytes) {
  plat::OutgoingRequest request;
  request.host = "127.0.0.1";
  request.port = port;
  request.bytes = std::move(bytes);
  return request;
}

TEST(SendRequest, DeliversEveryByteOnAConnectionOfItsOwn) {
  HttpRecorder recorder;
  const std::string big(100000, 'x');  // more than one socket buffer's worth
  EXPECT_TRUE(pltest::Succeeded(plat::SendRequest(RequestTo(recorder.port(), "first"))));
  EXPECT_TRUE(pltest::Succeeded(plat::SendRequest(RequestTo(recorder.port(), big))));
  auto requests = recorder.WaitForRequests(2, 3000);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].bytes, "first");
  EXPECT_EQ(requests[1].bytes, big);
}

TEST(SendRequest, ResolvesLocalhostByName) {
  HttpRecorder recorder;
  plat::OutgoingRequest request = RequestTo(recorder.port(), "by name");
  request.host = "localhost";
  EXPECT_TRUE(pltest::Succeeded(plat::SendRequest(request)));
  auto requests = recorder.WaitForRequests(1, 3000);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].bytes, "by name");
}

TEST(SendRequest, BindsTheLocalEndWhenAsked) {
  HttpRecorder recorder;
  plat::OutgoingRequest request = RequestTo(recorder.port(), "bound");
  request.local_ip = "127.0.0.2";
  EXPECT_TRUE(pltest::Succeeded(plat::SendRequest(request)));
  auto requests = recorder.WaitForRequests(1, 3000);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].peer_ip, "127.0.0.2");

  request.local_ip = "not an address";
  EXPECT_FALSE(plat::SendRequest(request).ok());
}

TEST(SendRequest, ReportsARefusedConnectionEvenWithNothingToSend) {
  EXPECT_FALSE(plat::SendRequest(RequestTo(pltest::ClosedPort(), "")).ok());
  EXPECT_FALSE(plat::SendRequest(RequestTo(pltest::ClosedPort(), "x")).ok());
}

TEST(SendRequest, GivesUpOnAListenerThatNeverAnswersAtItsTimeLimit) {
  pltest::StalledListener stalled;
  ASSERT_TRUE(stalled.stalled());
  plat::OutgoingRequest request = RequestTo(stalled.port(), "lost");
  request.time_limit_ms = 200;
  plat::Status error = plat::SendRequest(request);
  ASSERT_FALSE(error.ok());
  EXPECT_NE(error.message().find("timed out"), std::string::npos) << error.message();
}

TEST(SendRequest, StopsWaitingWhenAbandoned) {
  pltest::StalledListener stalled;
  ASSERT_TRUE(stalled.stalled());
  std::atomic<bool> give_up{false};
  plat::OutgoingRequest request = RequestTo(stalled.port(), "lost");
  request.time_limit_ms = 60000;
  request.abandon = [&] { return give_up.load(); };
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    give_up = true;
  });
  plat::Status error = plat::SendRequest(request);
  stopper.join();
  ASSERT_FALSE(error.ok());
  EXPECT_NE(error.message().find("canceled"), std::string::npos) << error.message();
}

TEST(SendRequest, AnAbandonedRequestStillReachesAListenerThatIsThere) {
  HttpRecorder recorder;
  plat::OutgoingRequest request = RequestTo(recorder.port(), "late");
  request.abandon = [] { return true; };
  EXPECT_TRUE(pltest::Succeeded(plat::SendRequest(request)));
  EXPECT_EQ(recorder.WaitForRequests(1, 3000).size(), 1u);
}

}  // namespace
