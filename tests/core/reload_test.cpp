// A reload in this process, where its effects can be seen from inside: the rooms follow the
// file but an occupied one stays, the metrics endpoint moves or stays where it was, and a poster
// comes when [WebStatus] Active does.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/http_recorder.h"
#include "support/test_server.h"

namespace {

using pltest::IniKeys;
using pltest::TestServer;

void Rewrite(TestServer& server, const IniKeys& keys) {
  pltest::WriteFile(server.ini_path(), keys.Render(server.tcp_port()));
}

std::vector<std::string> RoomNames(TestServer& server) {
  std::vector<std::string> names;
  clients::RoomList::Lock lock = server.server().rooms().Acquire();
  for (const auto& room : server.server().rooms().Entries(lock)) names.push_back(room->Name);
  return names;
}

bool Mentions(const std::vector<std::string>& texts, const std::string& part) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::string& text) { return text.find(part) != std::string::npos; });
}

TEST(Reload, RoomsFollowTheFileButAnOccupiedRoomStays) {
  TestServer server(IniKeys().Set("Channels", "0", "Lobby").Set("Channels", "1", "Busy").Set(
      "Channels", "2", "Empty"));
  pltest::Member ann = server.Join("ann");
  ASSERT_TRUE(ann->SendChangeRoom(2));
  ASSERT_TRUE(ann->Await(plclient::ParsePlayerMoved, 2000));

  Rewrite(server, IniKeys().Set("Channels", "0", "Lobby").Set("Channels", "1", "Fresh"));
  const core::ReloadOutcome outcome = server.server().Reload("test");
  ASSERT_TRUE(outcome.applied);
  EXPECT_EQ(outcome.changed, std::vector<std::string>{"Channels"});
  EXPECT_TRUE(Mentions(outcome.notes, "\"Busy\"")) << outcome.notes.size();
  EXPECT_EQ(RoomNames(server), (std::vector<std::string>{"Lobby", "Busy", "Fresh"}));
  auto created = ann->Await(plclient::ParseRoomCreated, 2000);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->name, "Fresh");
  auto deleted = ann->Await(plclient::ParseRoomDeleted, 2000);
  ASSERT_TRUE(deleted);
  EXPECT_EQ(deleted->room_byte, 3);
}

TEST(Reload, TheMetricsEndpointMovesOrStaysWhereItWas) {
  TestServer server(IniKeys().Set("Metrics", "Listen", "127.0.0.1:0"));
  const uint16_t first = server.server().MetricsPort();
  ASSERT_NE(first, 0);
  const int taken = pltest::PickFreePortPair();
  pltest::PortHolder holder(true, taken);
  ASSERT_TRUE(holder.holding());
  Rewrite(server, IniKeys().Set("Metrics", "Listen", "127.0.0.1:" + std::to_string(taken)));
  core::ReloadOutcome outcome = server.server().Reload("test");
  ASSERT_TRUE(outcome.applied);
  EXPECT_TRUE(Mentions(outcome.notes, "[Metrics] Listen")) << outcome.notes.size();
  EXPECT_TRUE(outcome.changed.empty());
  EXPECT_EQ(server.server().MetricsPort(), first);
  EXPECT_TRUE(pltest::TcpConnects(first));

  const int free_port = pltest::PickFreePortPair();
  Rewrite(server, IniKeys().Set("Metrics", "Listen", "127.0.0.1:" + std::to_string(free_port)));
  outcome = server.server().Reload("test");
  EXPECT_EQ(outcome.changed, std::vector<std::string>{"Metrics.Listen"});
  EXPECT_EQ(server.server().MetricsPort(), free_port);
  EXPECT_FALSE(pltest::TcpConnects(first));
}

TEST(Reload, APosterStartsWhenAnnouncingIsTurnedOn) {
  pltest::HttpRecorder recorder;
  TestServer server;
  const std::string url = "http://127.0.0.1:" + std::to_string(recorder.port()) + "/list";
  Rewrite(server, IniKeys().Set("WebStatus", "Active", "1").Set("WebStatus", "WebPostURL", url));
  ASSERT_TRUE(server.server().Reload("test").applied);
  const std::vector<pltest::RecordedRequest> requests = recorder.WaitForRequests(1, 5000);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].bytes.rfind("POST /list?serverport=", 0), 0u) << requests[0].bytes;
}

}  // namespace
