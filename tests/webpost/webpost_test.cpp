// The web status poster against real HTTP listeners on loopback, inside an in-process server.
#include "webpost/webpostthread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/http_recorder.h"
#include "support/manual_clock.h"
#include "support/status_check.h"
#include "support/test_server.h"
#include "support/webpost_fixture.h"

namespace {

using pltest::HttpRecorder;
using pltest::ScopedEnvironmentVariable;
using pltest::WebPostConfig;
using pltest::WebPostFixture;

constexpr int kWaitMs = 3000;

std::string LoopbackAddress(uint16_t port) {
  return "127.0.0.1:" + std::to_string(port);
}

std::string ExpectedRequest(const std::string& target, const std::string& host) {
  return "POST " + target + " HTTP/1.0\r\n" + "Host: " + host + "\r\n" +
         "Accept: text/html, */*\r\n" + "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n" +
         "\r\n";
}

// The request line's query, from "?" after the path to " HTTP/1.0".
std::string QueryOf(const std::string& request, const std::string& path) {
  size_t start = request.find(path + "?");
  size_t end = request.find(" HTTP/1.0\r\n");
  if (start == std::string::npos || end == std::string::npos)
    return "<no query in " + request + ">";
  start += path.size() + 1;
  return request.substr(start, end - start);
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

ptrdiff_t IndexOf(const std::vector<std::string>& lines, const std::string& text) {
  auto found = std::find(lines.begin(), lines.end(), text);
  return found == lines.end() ? -1 : found - lines.begin();
}

TEST(WebPoster, FirstCyclePostsTheStatusToBothListServersInOrder) {
  HttpRecorder recorder;
  ScopedEnvironmentVariable list_server(webpost::kListServerVariable,
                                        LoopbackAddress(recorder.port()));
  WebPostFixture fixture;
  WebPostConfig config;
  config.site_active = true;
  config.display_in_web_list = true;
  config.servername = "A B & C";
  config.server_password = "secret";
  config.max_clients = 24;
  // Without a scheme and with a query of its own: the reader puts "http://" in front and the
  // poster still adds its own "?".
  config.web_post_url = LoopbackAddress(recorder.port()) + "/list/post.php?id=7";
  ASSERT_TRUE(fixture.Start(config));

  auto requests = recorder.WaitForRequests(2, kWaitMs);
  ASSERT_EQ(requests.size(), 2u);
  const std::string query = "serverport=" + std::to_string(fixture.tcp_port()) +
                            "&servername=A%20B%20&%20C&clients=0&maxclients=24"
                            "&serverversion=v1.2.0%20Win32%20Service&passwordprotected=1&public=1";
  const std::string host = LoopbackAddress(recorder.port());
  EXPECT_EQ(requests[0].bytes, ExpectedRequest("/webpost.php?" + query, host));
  EXPECT_EQ(requests[1].bytes, ExpectedRequest("/list/post.php?id=7?" + query, host));
  // One cycle only: the next is 175 seconds away.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(recorder.Accepted(), 2u);
}

TEST(WebPoster, QueryFollowsTheClientsAndThePasswordInForceAtEachCycle) {
  HttpRecorder recorder;
  WebPostFixture fixture;
  WebPostConfig config;
  config.active = false;  // the test drives the cycles itself
  config.web_post_url = "http://" + LoopbackAddress(recorder.port()) + "/s";
  ASSERT_TRUE(fixture.Start(config));
  core::TParlowindServer& server = *fixture.server();
  webpost::TWebPoster poster(fixture.PosterParts());
  const std::string head =
      "serverport=" + std::to_string(fixture.tcp_port()) + "&servername=Test%20Server&clients=";
  const std::string tail = "&maxclients=16&serverversion=v1.2.0%20Win32%20Service";

  poster.PostStatus();
  ASSERT_TRUE(fixture.LoginClient("one"));
  server.passwords().SetServerPassword("now set");
  poster.PostStatus();
  server.passwords().SetServerPassword("");
  poster.PostStatus();

  auto requests = recorder.WaitForRequests(3, kWaitMs);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(QueryOf(requests[0].bytes, "/s"), head + "0" + tail);
  EXPECT_EQ(QueryOf(requests[1].bytes, "/s"), head + "1" + tail + "&passwordprotected=1");
  EXPECT_EQ(QueryOf(requests[2].bytes, "/s"), head + "1" + tail);
}

TEST(WebPoster, AnUnreachableListServerDoesNotKeepTheOtherFromItsPost) {
  HttpRecorder recorder;
  const std::string url = "http://" + LoopbackAddress(recorder.port()) + "/other";
  for (const std::string& built_in :
       {LoopbackAddress(pltest::ClosedPort()), std::string("no host:x")}) {
    SCOPED_TRACE(built_in);
    ScopedEnvironmentVariable list_server(webpost::kListServerVariable, built_in);
    WebPostFixture fixture;
    WebPostConfig config;
    config.active = false;
    config.site_active = true;
    config.web_post_url = url;
    ASSERT_TRUE(fixture.Start(config));
    size_t before = recorder.Requests().size();
    webpost::TWebPoster(fixture.PosterParts()).PostStatus();
    auto requests = recorder.WaitForRequests(before + 1, kWaitMs);
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back().bytes.rfind("POST /other?serverport=", 0), 0u)
        << requests.back().bytes;
  }
}

TEST(WebPoster, AListServerThatNeverAnswersHoldsACycleOnlyForTheTimeLimit) {
  pltest::StalledListener stalled;
  ASSERT_TRUE(stalled.stalled());
  HttpRecorder recorder;
  ScopedEnvironmentVariable list_server(webpost::kListServerVariable,
                                        LoopbackAddress(stalled.port()));
  WebPostFixture fixture;
  WebPostConfig config;
  config.active = false;
  config.site_active = true;
  config.web_post_url = "http://" + LoopbackAddress(recorder.port()) + "/after";
  ASSERT_TRUE(fixture.Start(config));
  webpost::TWebPoster poster(fixture.PosterParts());
  poster.SetRequestTimeLimit(300);
  poster.PostStatus();  // returns: the stalled connect is given up after 300 ms
  EXPECT_EQ(recorder.WaitForRequests(1, kWaitMs).size(), 1u);
}

TEST(WebPoster, BindsItsConnectionsToTheConfiguredAddress) {
  HttpRecorder recorder;
  WebPostFixture fixture;
  WebPostConfig config;
  config.ip = "127.0.0.2";
  config.web_post_url = "http://" + LoopbackAddress(recorder.port()) + "/";
  ASSERT_TRUE(fixture.Start(config));
  auto requests = recorder.WaitForRequests(1, kWaitMs);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].peer_ip, "127.0.0.2");
}

TEST(WebPoster, InactiveMeansNoThreadAndNoRequest) {
  HttpRecorder recorder;
  ScopedEnvironmentVariable list_server(webpost::kListServerVariable,
                                        LoopbackAddress(recorder.port()));
  WebPostFixture fixture;
  WebPostConfig config;
  config.active = false;
  config.site_active = true;
  config.web_post_url = "http://" + LoopbackAddress(recorder.port()) + "/";
  ASSERT_TRUE(fixture.Start(config));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(recorder.Accepted(), 0u);
  std::vector<std::string> lines = fixture.LogLines();
  EXPECT_EQ(CountOf(lines, "WebPoster.Execute"), 0u);
}

TEST(WebPoster, TerminateWhileWaitingEndsTheThreadPromptlyWithItsEndLine) {
  HttpRecorder recorder;
  WebPostFixture fixture;
  WebPostConfig config;
  config.active = false;
  config.web_post_url = "http://" + LoopbackAddress(recorder.port()) + "/";
  ASSERT_TRUE(fixture.Start(config));
  webpost::TWebPoster poster(fixture.PosterParts());
  poster.Start();
  ASSERT_EQ(recorder.WaitForRequests(1, kWaitMs).size(), 1u);
  auto started = std::chrono::steady_clock::now();
  poster.Terminate();
  poster.Join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  std::vector<std::string> lines = fixture.LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "WebPoster.Terminated");
  EXPECT_EQ(CountOf(lines, "WebPoster.Execute"), 1u);
}

TEST(WebPoster, ACycleStartsOnePeriodAfterTheLastOneEndedOnTheClock) {
  HttpRecorder recorder;
  WebPostFixture fixture;
  WebPostConfig config;
  config.active = false;  // the test runs a poster of its own, on its own clock
  config.web_post_url = "http://" + LoopbackAddress(recorder.port()) + "/p";
  ASSERT_TRUE(fixture.Start(config));
  pltest::ManualClock clock;
  webpost::PosterParts parts = fixture.PosterParts();
  webpost::TWebPoster poster(webpost::PosterParts{
      parts.settings, parts.client_count, parts.password_protected, clock, parts.write_line});
  ASSERT_TRUE(pltest::Succeeded(poster.Start()));
  ASSERT_EQ(recorder.WaitForRequests(1, kWaitMs).size(), 1u);
  for (size_t cycle = 2; cycle <= 3; ++cycle) {
    // The wait's start is read once the posts are done, and then the clock again at each step:
    // two reads after the request arrived mean the wait has begun.
    const uint64_t reads = clock.Reads();
    ASSERT_TRUE(pltest::WaitUntil([&] { return clock.Reads() >= reads + 2; }, kWaitMs));
    clock.Advance(webpost::TWebPoster::kPeriodMs - 1);
    EXPECT_EQ(recorder.WaitForRequests(cycle, 2 * webpost::TWebPoster::kWaitStepMs).size(),
              cycle - 1);
    clock.Advance(1);
    ASSERT_EQ(recorder.WaitForRequests(cycle, kWaitMs).size(), cycle);
  }
  poster.Terminate();
  poster.Join();
}

// Shutdown pauses one second after telling the workers to end; the poster's end line must come
// within that pause, even while it is stuck on a list server.
void ExpectPosterEndsDuringShutdownPause(WebPostFixture& fixture) {
  auto started = std::chrono::steady_clock::now();
  fixture.server()->Server_DeInit();
  EXPECT_LT(std::chrono::steady_clock::now() - started,
            std::chrono::milliseconds(1000 + webpost::TWebPoster::kRequestTimeLimitMs));
  std::vector<std::string> lines = fixture.LogLines();
  // The poster may wake and write its line before shutdown writes "Web term sent".
  ptrdiff_t entered = IndexOf(lines, "Server_DeInit -- enter");
  ptrdiff_t terminated = IndexOf(lines, "WebPoster.Terminated");
  ptrdiff_t slept = IndexOf(lines, "Server_DeInit -- Slept 2 secs");
  ASSERT_GE(entered, 0);
  ASSERT_GE(IndexOf(lines, "Server_DeInit -- Web term sent"), 0);
  EXPECT_GT(terminated, entered);
  EXPECT_LT(terminated, slept);
  EXPECT_EQ(CountOf(lines, "WebPoster.Terminated"), 1u);
}

TEST(WebPoster, ShutdownWhileWaitingEndsThePosterBeforeTheListenersStop) {
  HttpRecorder recorder;
  ScopedEnvironmentVariable list_server(webpost::kListServerVariable,
                                        LoopbackAddress(recorder.port()));
  WebPostFixture fixture;
  WebPostConfig config;
  config.site_active = true;
  ASSERT_TRUE(fixture.Start(config));
  ASSERT_EQ(recorder.WaitForRequests(1, kWaitMs).size(), 1u);
  ExpectPosterEndsDuringShutdownPause(fixture);
}

TEST(WebPoster, AListServerThatNeverAcceptsDoesNotHoldShutdown) {
  pltest::StalledListener stalled;
  ASSERT_TRUE(stalled.stalled());
  ScopedEnvironmentVariable list_server(webpost::kListServerVariable,
                                        LoopbackAddress(stalled.port()));
  WebPostFixture fixture;
  WebPostConfig config;
  config.site_active = true;
  config.web_post_url = "http://" + LoopbackAddress(stalled.port()) + "/too";
  ASSERT_TRUE(fixture.Start(config));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the poster is connecting now
  ExpectPosterEndsDuringShutdownPause(fixture);
}

TEST(WebPoster, AListServerThatAcceptsAndNeverReadsDoesNotHoldShutdown) {
  pltest::SilentListener silent;
  ScopedEnvironmentVariable list_server(webpost::kListServerVariable,
                                        LoopbackAddress(silent.port()));
  WebPostFixture fixture;
  WebPostConfig config;
  config.site_active = true;
  ASSERT_TRUE(fixture.Start(config));
  ASSERT_TRUE(pltest::WaitUntil([&] { return silent.Accepted() > 0; }, 3000));
  ASSERT_EQ(silent.Accepted(), 1u);
  ExpectPosterEndsDuringShutdownPause(fixture);
}

}  // namespace
