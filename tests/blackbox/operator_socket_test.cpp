// Black-box tests of the operator socket with the real server binary: every command, bad
// requests, the socket's mode and life, bans kept across a restart, several operators at once,
// a watcher that does not read, and a full server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "blackbox/server_fixture.h"
#include "platform/local_socket.h"
#include "protoclient/protocol_client.h"
#include "protoclient/voice_datagrams.h"
#include "support/addresses.h"
#include "support/operator_client.h"
#include "support/test_server.h"

namespace pltest {
namespace {

class OperatorSocketTest : public ServerFixture {
 protected:
  std::string SocketPath() const { return work_dir_.File("plserver.sock"); }

  std::unique_ptr<ServerProcess> Start(const std::string& extra = "", bool with_socket = true) {
    auto server = StartOnFreePorts([&](int port) {
      pltest::WriteFile(IniPath(), CurrentIni(port, extra) +
                                       "[Channels]\r\n0=Lobby\r\n1=Music\r\n"
                                       "[Passwords]\r\nAdminPassword=secret\r\n");
    });
    if (server && with_socket) {
      EXPECT_TRUE(OperatorClient::WaitUntilServed(SocketPath()));
    }
    return server;
  }
  // The socket comes up just after the start line: it is waited for, within a time limit.
  std::unique_ptr<OperatorClient> Operator() {
    std::unique_ptr<OperatorClient> client;
    if (pltest::WaitUntil(
            [&] { return (client = OperatorClient::Connect(SocketPath())) != nullptr; }, 10000))
      return client;
    ADD_FAILURE() << "no operator socket at " << SocketPath();
    return nullptr;
  }
  // Whether the server's output shows `text` within 10 s (the operator's line comes just
  // after the start line).
  static bool OutputShows(ServerProcess& server, const std::string& text) {
    return pltest::WaitUntil([&] { return server.Output().find(text) != std::string::npos; },
                             10000);
  }
  static OpJson Ok(const OpJson& answer) {
    EXPECT_TRUE(answer.is_object() && answer.value("ok", false)) << answer.dump();
    return answer.is_object() ? answer.value("result", OpJson()) : OpJson();
  }
  static std::string ErrorCode(const OpJson& answer) {
    EXPECT_TRUE(answer.is_object() && answer.contains("ok") && !answer["ok"].get<bool>())
        << answer.dump();
    return answer.is_object() ? answer.value("error", OpJson::object()).value("code", "") : "";
  }
};

TEST_F(OperatorSocketTest, EveryCommandAnswersThroughTheSocket) {
  auto server = Start();
  ASSERT_TRUE(server);
  auto op = Operator();
  ASSERT_TRUE(op);
  auto alice = Player("alice");
  ASSERT_TRUE(alice);

  OpJson status = Ok(op->Call({{"id", 1}, {"command", "status"}}));
  EXPECT_EQ(status["players"], 1);
  EXPECT_EQ(status["rooms"], 2);
  EXPECT_EQ(status["version"], "v1.2.0 Win32 Service");
  EXPECT_EQ(status["counters"].size(), 8u);
  EXPECT_TRUE(status["drops"].contains("voice_queue"));
  EXPECT_TRUE(status["drops"].contains("voice_rate_limit"));

  OpJson list = Ok(op->Call({{"id", "two"}, {"command", "list"}}));
  ASSERT_EQ(list["rooms"].size(), 2u);
  EXPECT_EQ(list["rooms"][1]["name"], "Music");
  ASSERT_EQ(list["players"].size(), 1u);
  EXPECT_EQ(list["players"][0]["name"], "alice");
  EXPECT_EQ(list["players"][0]["number"], 1);
  EXPECT_EQ(list["players"][0]["admin"], false);
  EXPECT_EQ(list["players"][0]["tcp_address"], alice->Local().ToString());
  EXPECT_TRUE(list["players"][0]["udp_address"].is_null());

  EXPECT_EQ(Ok(op->Call({{"command", "player"}, {"player", "alice"}}))["number"], 1);
  OpJson stats = Ok(op->Call({{"command", "player"}, {"player", 1}}));
  EXPECT_EQ(stats["name"], "alice");
  EXPECT_EQ(stats["counters"].size(), 8u);
  EXPECT_EQ(ErrorCode(op->Call({{"command", "player"}, {"player", 9}})), "not-found");

  OpJson created = Ok(op->Call({{"command", "room"}, {"action", "create"}, {"name", "Quiet"}}));
  EXPECT_EQ(created["number"], 3);
  ASSERT_TRUE(alice->Await(plclient::ParseRoomCreated, 3000));
  EXPECT_EQ(ErrorCode(op->Call({{"command", "room"}, {"action", "create"}, {"name", "quiet"}})),
            "exists");
  Ok(op->Call({{"command", "room"}, {"action", "delete"}, {"room", 3}}));
  ASSERT_TRUE(alice->Await(plclient::ParseRoomDeleted, 3000));
  EXPECT_EQ(ErrorCode(op->Call({{"command", "room"}, {"action", "delete"}, {"room", 3}})),
            "not-found");

  Ok(op->Call({{"command", "password"}, {"which", "server"}, {"password", "door"}}));
  EXPECT_TRUE(Player("nobody") == nullptr);  // no server password now refused
  plclient::ClientOptions options;
  auto bob = plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_), options);
  ASSERT_TRUE(bob);
  EXPECT_TRUE(bob->Login("bob", "door").accepted);
  Ok(op->Call({{"command", "password"}, {"which", "admin"}, {"password", "n3w"}}));
  EXPECT_EQ(ErrorCode(op->Call({{"command", "password"}, {"which", "admin"}, {"password", ""}})),
            "bad-argument");
  Ok(op->Call({{"command", "save-rooms"}}));
  const std::string ini = pltest::ReadFile(IniPath());
  EXPECT_NE(ini.find("ServerPassword=door"), std::string::npos) << ini;
  EXPECT_NE(ini.find("AdminPassword=n3w"), std::string::npos) << ini;
  EXPECT_NE(ini.find("1=Music"), std::string::npos) << ini;

  OpJson kicked = Ok(op->Call({{"command", "kick"}, {"player", "alice"}}));
  EXPECT_EQ(kicked["name"], "alice");
  std::optional<plclient::PlayerLeft> left = alice->Await(plclient::ParsePlayerLeft, 3000);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->reason, 4);
  EXPECT_TRUE(alice->WaitForClose(3000));

  OpJson banned = Ok(op->Call({{"command", "ban"},
                               {"action", "add"},
                               {"address", "192.0.2.0/24"},
                               {"duration", 3600},
                               {"reason", "test"}}));
  EXPECT_EQ(banned["address"], "192.0.2.0/24");
  OpJson bans = Ok(op->Call({{"command", "ban"}, {"action", "list"}}))["bans"];
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0]["kind"], "manual");
  EXPECT_EQ(bans[0]["reason"], "test");
  EXPECT_TRUE(bans[0]["until"].is_string());
  Ok(op->Call({{"command", "ban"}, {"action", "remove"}, {"address", "192.0.2.0/24"}}));
  EXPECT_EQ(
      ErrorCode(op->Call({{"command", "ban"}, {"action", "remove"}, {"address", "192.0.2.0/24"}})),
      "not-found");
  EXPECT_TRUE(Ok(op->Call({{"command", "ban"}, {"action", "list"}}))["bans"].empty());
  // Without a duration a ban has an end (a day); a block wider than a /16 (for IPv6 a /32)
  // needs "force".
  EXPECT_TRUE(
      Ok(op->Call({{"command", "ban"}, {"action", "add"}, {"address", "192.0.2.9"}}))["until"]
          .is_string());
  const OpJson wide = {{"command", "ban"}, {"action", "add"}, {"address", "10.0.0.0/8"}};
  EXPECT_EQ(ErrorCode(op->Call(wide)), "bad-argument");
  OpJson forced = wide;
  forced["force"] = true;
  EXPECT_EQ(Ok(op->Call(forced))["address"], "10.0.0.0/8");
  EXPECT_EQ(
      ErrorCode(op->Call({{"command", "ban"}, {"action", "add"}, {"address", "2001:db8::/31"}})),
      "bad-argument");
  EXPECT_EQ(Ok(op->Call(
                {{"command", "ban"}, {"action", "add"}, {"address", "2001:DB8::/32"}}))["address"],
            "2001:db8::/32");
}

TEST_F(OperatorSocketTest, WatchStreamsEventsWithoutJoiningAsAPlayer) {
  auto server = Start();
  ASSERT_TRUE(server);
  auto watcher = Operator();
  ASSERT_TRUE(watcher);
  OpJson started = watcher->Call({{"id", 7}, {"command", "watch"}});
  EXPECT_EQ(started["id"], 7);
  EXPECT_TRUE(started["ok"].get<bool>());

  auto alice = Player("alice");
  ASSERT_TRUE(alice);
  auto op = Operator();
  Ok(op->Call({{"command", "kick"}, {"player", 1}}));
  ASSERT_TRUE(alice->WaitForClose(3000));
  Ok(op->Call({{"command", "ban"}, {"action", "add"}, {"address", "192.0.2.1"}}));
  auto mallory = Player("mallory");
  ASSERT_TRUE(mallory);
  ASSERT_TRUE(mallory->SendAdminLogin("not-the-password"));
  ASSERT_TRUE(mallory->Await(plclient::ParseResult, 3000));

  std::vector<std::string> seen;
  for (const char* wanted : {"join", "admin", "leave", "ban", "admin-login-failed"}) {
    bool found = false;
    while (!found) {
      std::optional<std::string> line = watcher->ReadLine(5000);
      ASSERT_TRUE(line) << "no " << wanted << " event; seen: " << ::testing::PrintToString(seen);
      OpJson message = OpJson::parse(*line);
      EXPECT_EQ(message["id"], 7);
      EXPECT_TRUE(message["ok"].get<bool>());
      seen.push_back(message["event"]["event"].get<std::string>());
      found = seen.back() == wanted;
      if (seen.back() == "leave") {
        EXPECT_EQ(message["event"]["reason"], "kicked");
      }
      // Beside the JSON form comes the very line the server prints.
      const std::string text = message["line"].get<std::string>();
      EXPECT_TRUE(OutputShows(*server, text + "\n")) << text;
    }
  }
  // The watcher is nobody on the list: mallory is the only player.
  OpJson players = Ok(op->Call({{"command", "list"}}))["players"];
  ASSERT_EQ(players.size(), 1u);
  EXPECT_EQ(players[0]["name"], "mallory");
}

TEST_F(OperatorSocketTest, BadRequestsAreAnsweredAndTheConnectionStaysUsable) {
  auto server = Start();
  ASSERT_TRUE(server);
  auto op = Operator();
  ASSERT_TRUE(op);
  struct Case {
    std::string line;
    std::string code;
  };
  const std::vector<Case> cases = {
      {"this is not json", "bad-json"},
      {"[1,2,3]", "bad-request"},
      {"{\"id\":1}", "bad-argument"},
      {"{\"id\":1,\"command\":42}", "bad-argument"},
      {"{\"id\":1,\"command\":\"reboot\"}", "unknown-command"},
      {"{\"id\":1,\"command\":\"kick\",\"player\":true}", "bad-argument"},
      {"{\"id\":1,\"command\":\"room\",\"action\":\"create\",\"name\":\"a\\nb\"}", "bad-argument"},
      {"{\"id\":1,\"command\":\"ban\",\"action\":\"add\",\"address\":\"10.0.0.300\"}",
       "bad-argument"},
      {"{\"id\":1,\"command\":\"ban\",\"action\":\"add\",\"address\":\"10.0.0.1\",\"duration\":"
       "\"soon\"}",
       "bad-argument"},
      {"{\"id\":1,\"command\":\"ban\",\"action\":\"add\",\"address\":\"10.0.0.1\",\"duration\":"
       "99999999}",
       "bad-argument"},
      {"{\"id\":1,\"command\":\"status\"" + std::string(20000, ' ') + "}", "too-long"},
      {"\xff\xfe{}", "bad-json"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(op->SendLine(c.line));
    std::optional<std::string> answer = op->ReadLine();
    ASSERT_TRUE(answer) << c.line.substr(0, 80);
    EXPECT_EQ(ErrorCode(OpJson::parse(*answer)), c.code) << c.line.substr(0, 80);
  }
  // A line far past the limit, sent in pieces, is answered once and skipped.
  ASSERT_TRUE(op->SendLine(std::string(200000, 'x')));
  EXPECT_EQ(ErrorCode(OpJson::parse(op->ReadLine().value_or("null"))), "too-long");
  EXPECT_EQ(Ok(op->Call({{"id", 99}, {"command", "status"}}))["players"], 0);
}

TEST_F(OperatorSocketTest, SocketIsOwnerOnlyReplacesAStaleOneAndGoesAtShutdown) {
  // A socket file left by a process that was killed: nobody listens on it.
  {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  ASSERT_TRUE(plat::LocalSocketMode(SocketPath()));
  auto server = Start();
  ASSERT_TRUE(server);
  EXPECT_EQ(plat::LocalSocketMode(SocketPath()), 0600u);
  auto op = Operator();
  ASSERT_TRUE(op);
  Ok(op->Call({{"command", "status"}}));
  EXPECT_TRUE(OutputShows(*server, "operator socket=")) << server->Output();

  // A second server in the same place does not take the live socket away.
  auto second = Spawn();
  std::optional<int> code = second->WaitForExit(3s);
  (void)code;
  Ok(op->Call({{"command", "status"}}));

  server->Signal(SIGTERM);
  ASSERT_EQ(server->WaitForExit(15s), 0);
  EXPECT_FALSE(plat::LocalSocketMode(SocketPath()));
}

TEST_F(OperatorSocketTest, EmptySocketSettingTurnsTheInterfaceOff) {
  auto server = Start("[Operator]\r\nSocket=\r\n", false);
  ASSERT_TRUE(server);
  EXPECT_FALSE(plat::LocalSocketMode(SocketPath()));
  EXPECT_TRUE(OutputShows(*server, "operator-off")) << server->Output();
}

TEST_F(OperatorSocketTest, BanSurvivesARestartAndRefusesTheAddressBeforeAnyFrame) {
  constexpr uint32_t kBanned = 0x7F000005;  // 127.0.0.5
  constexpr uint32_t kOther = 0x7F000006;
  auto server = Start();
  ASSERT_TRUE(server);
  {
    auto op = Operator();
    Ok(op->Call({{"command", "ban"},
                 {"action", "add"},
                 {"address", "127.0.0.5"},
                 {"duration", nullptr},
                 {"reason", "bots"}}));
  }
  server->Signal(SIGTERM);
  ASSERT_EQ(server->WaitForExit(15s), 0);
  EXPECT_NE(pltest::ReadFile(IniPath()).find("[Bans]"), std::string::npos);

  server = Spawn();
  ASSERT_TRUE(server->WaitForLogText(LogPath(), kStarted, 10s));
  ASSERT_TRUE(OperatorClient::WaitUntilServed(SocketPath()));
  auto op = Operator();
  ASSERT_TRUE(op);
  OpJson bans = Ok(op->Call({{"command", "ban"}, {"action", "list"}}))["bans"];
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0]["address"], "127.0.0.5");
  EXPECT_TRUE(bans[0]["until"].is_null());
  EXPECT_EQ(bans[0]["reason"], "bots");

  plclient::ClientOptions options;
  options.local_ip = kBanned;
  auto refused =
      plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_), options);
  if (refused) {
    EXPECT_TRUE(refused->WaitForClose(3000));  // closed at accept, before any frame
  }
  EXPECT_TRUE(Player("welcome", kOther));
  EXPECT_GE(Ok(op->Call({{"command", "status"}}))["drops"]["banned_connections"], 1);
}

// The server listens on IPv6 too; an operator's ban of an IPv6 address closes its player and
// refuses its next connection at accept, while IPv4 players stay welcome.
TEST_F(OperatorSocketTest, AnIPv6BanRefusesItsAddress) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no ::1 on this host";
  auto server = Start();
  ASSERT_TRUE(server);
  auto op = Operator();
  ASSERT_TRUE(op);
  const uint16_t port = static_cast<uint16_t>(port_);
  auto before = plclient::ProtocolClient::Connect("::1", port);
  ASSERT_TRUE(before && before->Login("six").accepted);
  Ok(op->Call({{"command", "ban"}, {"action", "add"}, {"address", "::1"}}));
  EXPECT_TRUE(before->WaitForClose(3000));
  auto refused = plclient::ProtocolClient::Connect("::1", port);
  if (refused) {
    EXPECT_TRUE(refused->WaitForClose(3000));  // closed at accept, before any frame
  }
  EXPECT_TRUE(Player("four"));
  EXPECT_GE(Ok(op->Call({{"command", "status"}}))["drops"]["banned_connections"], 1);
}

TEST_F(OperatorSocketTest, TwoOperatorsAtOnceAndABusyThird) {
  auto server = Start("[Operator]\r\nMaxConnections=2\r\n");
  ASSERT_TRUE(server);
  auto first = Operator();
  auto second = Operator();
  ASSERT_TRUE(first && second);
  // Interleaved: each answer goes to its own asker, with its own id.
  ASSERT_TRUE(first->SendLine(R"({"id":"a1","command":"status"})"));
  ASSERT_TRUE(second->SendLine(R"({"id":"b1","command":"list"})"));
  ASSERT_TRUE(first->SendLine(R"({"id":"a2","command":"list"})"));
  EXPECT_EQ(OpJson::parse(second->ReadLine().value_or("{}")).value("id", OpJson()), "b1");
  EXPECT_EQ(OpJson::parse(first->ReadLine().value_or("{}")).value("id", OpJson()), "a1");
  EXPECT_EQ(OpJson::parse(first->ReadLine().value_or("{}")).value("id", OpJson()), "a2");

  auto third = Operator();
  ASSERT_TRUE(third);
  EXPECT_EQ(ErrorCode(OpJson::parse(third->ReadLine().value_or("null"))), "busy");
  EXPECT_FALSE(third->ReadLine(3000));
  EXPECT_TRUE(third->Closed());
  // Once one goes, another may come.
  first.reset();
  const bool served = pltest::WaitUntil(
      [&] {
        auto again = Operator();
        return again && again->Call({{"command", "status"}}).value("ok", false);
      },
      5000);
  EXPECT_TRUE(served) << "no room for a new operator after one left";
}

TEST_F(OperatorSocketTest, AStalledWatcherDelaysNeitherVoiceNorOtherOperators) {
  auto server = Start();
  ASSERT_TRUE(server);
  auto stalled = Operator();
  ASSERT_TRUE(stalled->SendLine(R"({"id":1,"command":"watch"})"));
  // The watcher never reads again. Many events pile up for it.
  auto op = Operator();
  for (int i = 0; i < 3000; ++i) {
    OpJson created = op->Call(
        {{"command", "room"}, {"action", "create"}, {"name", "room-" + std::to_string(i)}});
    ASSERT_TRUE(created.value("ok", false)) << created.dump();
    ASSERT_TRUE(
        op->Call({{"command", "room"}, {"action", "delete"}, {"room", created["result"]["number"]}})
            .value("ok", false));
  }
  // Voice still goes from one player to another.
  auto speaker = Player("speaker");
  auto listener = Player("listener");
  ASSERT_TRUE(speaker && listener);
  OpJson players = Ok(op->Call({{"command", "list"}}))["players"];
  ASSERT_EQ(players.size(), 2u);
  auto speaker_udp = plclient::VoicePeer::Open(static_cast<uint16_t>(port_ + 1));
  auto listener_udp = plclient::VoicePeer::Open(static_cast<uint16_t>(port_ + 1));
  ASSERT_TRUE(speaker_udp && listener_udp);
  // Ids from the login answers' lists are not needed: the server names each by the list.
  speaker->SendListsReq();
  listener->SendListsReq();
  auto speaker_lists = speaker->Await(plclient::ParseServerLists, 3000);
  auto listener_lists = listener->Await(plclient::ParseServerLists, 3000);
  ASSERT_TRUE(speaker_lists && listener_lists);
  ASSERT_TRUE(listener_udp->Send(plclient::KeepAliveDatagram(listener_lists->id, 9, 0)));
  bool relayed = false;
  for (uint32_t packet = 1; packet <= 50 && !relayed; ++packet) {
    std::vector<uint8_t> payload(40, static_cast<uint8_t>(packet));
    ASSERT_TRUE(
        speaker_udp->Send(plclient::VoiceDatagramForRoom(speaker_lists->id, packet, payload)));
    relayed = listener_udp->Receive(200).has_value();
  }
  EXPECT_TRUE(relayed);
  EXPECT_EQ(Ok(op->Call({{"command", "status"}}))["players"], 2);
}

}  // namespace
}  // namespace pltest
