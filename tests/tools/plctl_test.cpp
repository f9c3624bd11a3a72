// Black-box tests of the plctl binary against an in-process server on loopback: every command,
// its refusals and exit codes, and the JSON output.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "platform/tcp_listener.h"
#include "protoclient/client_frames.h"
#include "protoclient/voice_datagrams.h"
#include "support/json_reader.h"
#include "support/test_server.h"
#include "support/tool_runner.h"
#include "wire/global_types.h"

namespace {

using pltest::JsonNode;
using pltest::ToolResult;

pltest::IniKeys Keys() {
  return pltest::IniKeys().Set("Channels", "0", "Lobby").Set("Channels", "1", "Music");
}

JsonNode ParsedJson(const std::string& text) {
  std::optional<JsonNode> node = pltest::ParseJson(text);
  EXPECT_TRUE(node) << "not JSON: " << text;
  return node.value_or(JsonNode{});
}

class PlctlTest : public ::testing::Test {
 protected:
  ToolResult Plctl(std::vector<std::string> arguments, pltest::ToolOptions options = {}) {
    arguments.insert(arguments.begin(), {"--host", "127.0.0.1", "--port",
                                         std::to_string(server_.tcp_port()), "--timeout", "2"});
    return pltest::RunTool(PLCTL_BINARY, arguments, options);
  }
  static pltest::ToolOptions AdminEnvironment(const std::string& password = "rivet") {
    pltest::ToolOptions options;
    options.environment["PLCTL_ADMIN_PASSWORD"] = password;
    return options;
  }

  pltest::TestServer server_{Keys()};
};

TEST(PlctlUsageTest, HelpForTheToolAndEveryCommandAndBadUsageIsExitTwo) {
  ToolResult help = pltest::RunTool(PLCTL_BINARY, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--socket PATH"), std::string::npos) << help.out;
  for (const char* command : {"status", "list", "player", "admin-login", "room", "kick", "password",
                              "save-rooms", "voice-check", "watch"}) {
    EXPECT_NE(help.out.find(std::string("  ") + command), std::string::npos) << command;
    ToolResult own = pltest::RunTool(PLCTL_BINARY, {command, "--help"});
    EXPECT_EQ(own.exit_code, 0) << command;
    EXPECT_NE(own.out.find(std::string("Usage: plctl ") + command), std::string::npos) << own.out;
    // The global options are described once, in plctl --help.
    EXPECT_EQ(own.out.find("--socket PATH"), std::string::npos) << own.out;
  }
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {},
           {"frobnicate"},
           {"status", "--bogus"},
           {"--port", "seventy", "status"},
           {"--timeout", "-1", "status"},
           {"room", "create"},
           {"room", "rename", "a"},
           {"kick", "0"},
           {"password", "root", "x"},
           {"voice-check", "--count", "0"},
       }) {
    ToolResult result = pltest::RunTool(PLCTL_BINARY, bad);
    EXPECT_EQ(result.exit_code, 2) << ::testing::PrintToString(bad) << ": " << result.err;
  }
}

TEST(PlctlUsageTest, NoServerOnThePortIsExitTwoNamingTheAddress) {
  ToolResult result = pltest::RunTool(
      PLCTL_BINARY, {"--host", "127.0.0.1", "--port", "1", "--timeout", "1", "status"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.err.find("cannot connect to 127.0.0.1:1"), std::string::npos) << result.err;
  ToolResult json =
      pltest::RunTool(PLCTL_BINARY, {"--host", "127.0.0.1", "--port", "1", "--json", "list"});
  EXPECT_EQ(json.exit_code, 2);
  EXPECT_EQ(ParsedJson(json.out)["error"]["kind"].text, "connect");
}

TEST_F(PlctlTest, StatusShowsVersionUptimeAndCountersInTextAndJson) {
  ToolResult text = Plctl({"status"});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("v1.2.0"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("TCP received"), std::string::npos) << text.out;

  ToolResult json = Plctl({"status", "--json"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  JsonNode status = ParsedJson(json.out);
  EXPECT_EQ(status["name"].text, "Parlowind Server");
  EXPECT_EQ(status["version"].text.rfind("v1.2.0", 0), 0u);
  EXPECT_EQ(status["rooms"].number, 2);
  EXPECT_EQ(status["players"].number, 0);  // the tool itself is not counted
  // The first run's login, lists and stats requests have been counted by now.
  EXPECT_GE(status["counters"]["tcp_packets_received"].number, 3);
  EXPECT_EQ(status["counters"]["udp_packets_received"].number, 0);
}

TEST_F(PlctlTest, ListShowsRoomsAndPlayersButNotTheToolItself) {
  pltest::Member alice = server_.Join("alice");
  ASSERT_TRUE(alice->SendChangeRoom(2));
  ASSERT_TRUE(alice->Await(&plclient::ParsePlayerMoved, 2000));
  pltest::Member boss = server_.JoinAsAdmin("boss");

  ToolResult result = Plctl({"--json", "list"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  JsonNode lists = ParsedJson(result.out);
  ASSERT_EQ(lists["rooms"].elements.size(), 2u);
  EXPECT_EQ(lists["rooms"].elements[0]["name"].text, "Lobby");
  EXPECT_EQ(lists["rooms"].elements[1]["number"].number, 2);
  EXPECT_EQ(lists["rooms"].elements[1]["name"].text, "Music");
  ASSERT_EQ(lists["players"].elements.size(), 2u);
  const JsonNode& first = lists["players"].elements[0];
  EXPECT_EQ(first["name"].text, "alice");
  EXPECT_EQ(first["number"].number, alice.player_byte);
  EXPECT_EQ(first["room"].number, 2);
  EXPECT_FALSE(first["admin"].boolean);
  EXPECT_TRUE(lists["players"].elements[1]["admin"].boolean);

  ToolResult text = Plctl({"list"});
  EXPECT_NE(text.out.find("2 Music"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("plctl"), std::string::npos) << text.out;
}

TEST_F(PlctlTest, PlayerStatisticsByNameOrNumberAndTheAddressOnlyForAnAdministrator) {
  pltest::Member alice = server_.Join("alice", "1.3.7");
  auto voice = plclient::VoicePeer::Open(server_.udp_port());
  ASSERT_TRUE(voice &&
              voice->Send(plclient::KeepAliveDatagram(alice.id, plclient::kKeepAlivePing, 1)));
  ASSERT_TRUE(voice->Receive(2000));  // the pong: the server knows alice's UDP address now

  ToolResult plain = Plctl({"--json", "player", "alice"});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  JsonNode stats = ParsedJson(plain.out);
  EXPECT_EQ(stats["number"].number, alice.player_byte);
  EXPECT_EQ(stats["version"].text, "1.3.7");
  EXPECT_EQ(stats["address"].kind, JsonNode::Kind::kNull);
  EXPECT_EQ(stats["counters"]["udp_packets_received"].number, 1);

  ToolResult admin =
      Plctl({"--json", "player", "--admin", std::to_string(alice.player_byte)}, AdminEnvironment());
  ASSERT_EQ(admin.exit_code, 0) << admin.err;
  JsonNode seen = ParsedJson(admin.out);
  EXPECT_EQ(seen["address"].text, "127.0.0.1");
  EXPECT_EQ(seen["port"].number, voice->Local().port);

  ToolResult unknown_number = Plctl({"player", "77"});
  EXPECT_EQ(unknown_number.exit_code, 1);
  EXPECT_NE(unknown_number.err.find("refused: no such player (-60)"), std::string::npos)
      << unknown_number.err;
  ToolResult unknown_name = Plctl({"player", "zed"});
  EXPECT_EQ(unknown_name.exit_code, 1);
  EXPECT_NE(unknown_name.err.find("no player named \"zed\""), std::string::npos)
      << unknown_name.err;
}

TEST_F(PlctlTest, AdministratorPasswordFromOptionOrEnvironmentAndItsRefusal) {
  EXPECT_EQ(Plctl({"admin-login", "--admin-password", "rivet"}).exit_code, 0);
  EXPECT_EQ(Plctl({"admin-login"}, AdminEnvironment()).exit_code, 0);

  ToolResult wrong = Plctl({"admin-login", "--admin-password", "nope"});
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_NE(wrong.err.find("refused: wrong administrator password (-101)"), std::string::npos)
      << wrong.err;
  ToolResult wrong_json = Plctl({"--json", "room", "create", "X"}, AdminEnvironment("nope"));
  EXPECT_EQ(wrong_json.exit_code, 1);
  JsonNode error = ParsedJson(wrong_json.out)["error"];
  EXPECT_EQ(error["kind"].text, "refused");
  EXPECT_EQ(error["result"].number, -101);
  EXPECT_EQ(error["refusal"].text, "wrong administrator password");

  // Standard input is not a terminal here, so there is nobody to ask.
  ToolResult none = Plctl({"admin-login"});
  EXPECT_EQ(none.exit_code, 2);
  EXPECT_NE(none.err.find("no administrator password"), std::string::npos) << none.err;
}

TEST_F(PlctlTest, RoomsAreCreatedAndDeletedWithTheirRefusals) {
  pltest::Member alice = server_.Join("alice");
  ToolResult created = Plctl({"--json", "room", "create", "Quiet Corner"}, AdminEnvironment());
  ASSERT_EQ(created.exit_code, 0) << created.err;
  EXPECT_EQ(ParsedJson(created.out)["done"]["room_created"].number, 3);
  auto notice = alice->Await(&plclient::ParseRoomCreated, 2000);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->name, "Quiet Corner");

  ToolResult duplicate = Plctl({"room", "create", "quiet CORNER"}, AdminEnvironment());
  EXPECT_EQ(duplicate.exit_code, 1);
  EXPECT_NE(duplicate.err.find("(-111)"), std::string::npos) << duplicate.err;

  ToolResult deleted = Plctl({"room", "delete", "music"}, AdminEnvironment());  // by name, any case
  ASSERT_EQ(deleted.exit_code, 0) << deleted.err;
  auto gone = alice->Await(&plclient::ParseRoomDeleted, 2000);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->room_byte, 2);

  ToolResult missing = Plctl({"room", "delete", "99"}, AdminEnvironment());
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("refused: no such room (-120)"), std::string::npos) << missing.err;
  EXPECT_EQ(Plctl({"room", "delete", "Nowhere"}, AdminEnvironment()).exit_code, 1);
}

TEST_F(PlctlTest, KickDisconnectsThePlayerAndAnUnknownPlayerIsRefused) {
  pltest::Member alice = server_.Join("alice");
  ToolResult kicked = Plctl({"kick", "alice"}, AdminEnvironment());
  ASSERT_EQ(kicked.exit_code, 0) << kicked.err;
  auto left = alice->Await(&plclient::ParsePlayerLeft, 2000);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->player_byte, alice.player_byte);
  EXPECT_EQ(left->reason, 4);
  EXPECT_TRUE(alice->WaitForClose(2000));

  ToolResult unknown = Plctl({"kick", "200"}, AdminEnvironment());
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_NE(unknown.err.find("refused: no such player (-130)"), std::string::npos) << unknown.err;
}

TEST_F(PlctlTest, PasswordsChangeInMemoryAndInTheConfigurationFile) {
  ASSERT_EQ(Plctl({"password", "server", "hush"}, AdminEnvironment()).exit_code, 0);
  // The server confirms before it writes the file.
  auto ini_has = [&](const std::string& line) {
    return pltest::WaitUntil([&] { return server_.ReadIni().find(line) != std::string::npos; });
  };
  EXPECT_TRUE(ini_has("ServerPassword=hush")) << server_.ReadIni();
  ToolResult locked_out = Plctl({"status"});
  EXPECT_EQ(locked_out.exit_code, 1);
  EXPECT_NE(locked_out.err.find("refused: wrong server password (-2)"), std::string::npos)
      << locked_out.err;
  EXPECT_EQ(Plctl({"--server-password", "hush", "status"}).exit_code, 0);

  ASSERT_EQ(Plctl({"--server-password", "hush", "password", "admin", "sesame"}, AdminEnvironment())
                .exit_code,
            0);
  EXPECT_TRUE(ini_has("AdminPassword=sesame")) << server_.ReadIni();
  EXPECT_EQ(Plctl({"--server-password", "hush", "admin-login"}, AdminEnvironment()).exit_code, 1);
  EXPECT_EQ(
      Plctl({"--server-password", "hush", "admin-login"}, AdminEnvironment("sesame")).exit_code, 0);
}

TEST_F(PlctlTest, SaveRoomsWritesTheCurrentRoomsAsDefaults) {
  ASSERT_EQ(Plctl({"room", "create", "Garage"}, AdminEnvironment()).exit_code, 0);
  ToolResult saved = Plctl({"save-rooms"}, AdminEnvironment());
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  EXPECT_NE(saved.out.find("3 rooms saved"), std::string::npos) << saved.out;
  const std::string ini = server_.ReadIni();
  EXPECT_NE(ini.find("0=Lobby"), std::string::npos) << ini;
  EXPECT_NE(ini.find("2=Garage"), std::string::npos) << ini;
}

TEST_F(PlctlTest, VoiceCheckReportsPongsAndTheRelayedDatagram) {
  pltest::Member bystander = server_.Join("bystander");
  ToolResult result = Plctl({"--json", "voice-check", "--count", "6"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  JsonNode check = ParsedJson(result.out);
  EXPECT_TRUE(check["ok"].boolean);
  EXPECT_EQ(check["udp_port"].number, server_.udp_port());
  EXPECT_EQ(check["ping"]["answered"].number, 6);
  EXPECT_GE(check["ping"]["rtt_ms"]["max"].number, check["ping"]["rtt_ms"]["min"].number);
  EXPECT_TRUE(check["relay"]["relayed"].boolean);
  EXPECT_TRUE(check["relay"]["intact"].boolean);

  ToolResult ping_only = Plctl({"voice-check", "--no-relay", "--count", "1"});
  EXPECT_EQ(ping_only.exit_code, 0) << ping_only.err;
  EXPECT_NE(ping_only.out.find("1 of 1 pings answered"), std::string::npos) << ping_only.out;
  // The server counted the pongs it sent: 6 + 1, plus the echo client's one and one relayed copy.
  ToolResult status = Plctl({"--json", "status"});
  EXPECT_EQ(ParsedJson(status.out)["counters"]["udp_packets_sent"].number, 9);
}

// How many events of `kind` the JSON lines of a watch hold.
int CountEvents(const std::string& out, const std::string& kind) {
  int count = 0;
  for (size_t at = 0; (at = out.find("\"kind\":\"" + kind + "\"", at)) != std::string::npos; ++at)
    ++count;
  return count;
}

TEST_F(PlctlTest, WatchPrintsNotificationsUntilInterrupted) {
  pltest::Member observer = server_.Join("observer");
  pltest::ToolProcess watch(
      PLCTL_BINARY, {"--host", "127.0.0.1", "--port", std::to_string(server_.tcp_port()), "--name",
                     "watcher", "--json", "watch"});
  ASSERT_TRUE(watch.started());
  // The watcher has its lists and reads notifications from now on.
  ASSERT_TRUE(watch.WaitForOutput(
      [](const std::string&, const std::string& err) {
        return err.find("watching") != std::string::npos;
      },
      5000));
  {
    pltest::Member bob = server_.Join("bob");
    ASSERT_TRUE(bob->SendChangeRoom(2));
    ASSERT_TRUE(bob->Await(&plclient::ParsePlayerMoved, 2000));
    ASSERT_TRUE(bob->SendLeave());
  }
  ASSERT_EQ(Plctl({"room", "create", "Attic"}, AdminEnvironment()).exit_code, 0);
  // The admin's own session leaves last: once the watcher has printed that, it has seen all.
  ASSERT_TRUE(watch.WaitForOutput(
      [](const std::string& out, const std::string&) { return CountEvents(out, "left") >= 2; },
      5000));
  watch.Signal(SIGINT);
  ToolResult result = watch.Finish();
  EXPECT_EQ(result.exit_code, 0) << result.err;

  std::vector<std::string> kinds;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    JsonNode event = ParsedJson(line)["event"];
    kinds.push_back(event["kind"].text);
    if (event["kind"].text == "moved") {
      EXPECT_EQ(event["name"].text, "bob");
      EXPECT_EQ(event["room"].number, 2);
    }
  }
  auto count = [&](const std::string& kind) {
    return std::count(kinds.begin(), kinds.end(), kind);
  };
  EXPECT_EQ(count("joined"), 2) << result.out;  // bob and the admin session
  EXPECT_EQ(count("moved"), 1) << result.out;
  EXPECT_EQ(count("room-created"), 1) << result.out;
  EXPECT_EQ(count("admin"), 1) << result.out;
  EXPECT_EQ(count("left"), 2) << result.out;
}

// A server on loopback that follows a fixed script, so that a notification always arrives
// between the tool's login and its lists: LoginAccepted is followed at once by a PlayerJoined,
// and the lists request is answered only after that.
class ScriptedWatchServer {
 public:
  ScriptedWatchServer() {
    listener_.AddBinding({0x7F000001, 0});
    listener_.SetHandler([this](plat::TcpConnection& connection) { Serve(connection); });
    started_ = listener_.Activate().ok();
  }
  ~ScriptedWatchServer() { listener_.Deactivate(2000); }
  bool started() const { return started_; }
  uint16_t port() const { return listener_.BoundPort(); }

 private:
  static constexpr uint16_t kId = 7;

  static std::vector<uint8_t> Frame(int16_t code, size_t size) {
    std::vector<uint8_t> frame(size, 0);
    wire::StoreU16(&frame[0], wire::kFrameMagic);
    wire::StoreU16(&frame[2], kId);
    wire::StoreU16(&frame[4], static_cast<uint16_t>(size));
    wire::StoreU16(&frame[6], static_cast<uint16_t>(code));
    return frame;
  }
  static void PutText(std::vector<uint8_t>& frame, size_t at, const std::string& text) {
    frame[at] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), frame.begin() + static_cast<std::ptrdiff_t>(at + 1));
  }
  static void Write(plat::TcpConnection& connection, const std::vector<uint8_t>& frame) {
    connection.Write(frame.data(), frame.size());
  }

  void Answer(plat::TcpConnection& connection, int16_t code) {
    if (code == wire::kClientLogin) {
      std::vector<uint8_t> accepted = Frame(wire::kLoginAccepted, plclient::kLoginAcceptedSize);
      PutText(accepted, 8, "Scripted");
      Write(connection, accepted);
      std::vector<uint8_t> joined = Frame(wire::kPlayerJoined, 41);
      joined[8] = 2;  // player byte
      joined[9] = 1;  // room byte
      PutText(joined, 10, "early");
      Write(connection, joined);
    } else if (code == wire::kClientListsReq) {
      // One room, and the watcher (player 1) and the early player (2) in it.
      const size_t players_at = 12 + plclient::kRoomRecordSize;
      std::vector<uint8_t> lists =
          Frame(wire::kServerListsNewer, players_at + 2 * plclient::kNewerPlayerRecordSize);
      lists[8] = 1;
      lists[9] = 2;
      wire::StoreU16(&lists[10], 1);
      lists[12] = 1;
      PutText(lists, 13, "Lobby");
      for (uint8_t player = 1; player <= 2; ++player) {
        size_t at = players_at + (player - 1u) * plclient::kNewerPlayerRecordSize;
        lists[at] = player;
        lists[at + 1] = 1;
        PutText(lists, at + 3, player == 1 ? "watcher" : "early");
      }
      Write(connection, lists);
    } else if (code == wire::kClientLeave) {
      connection.RequestClose();
    }
  }

  void Serve(plat::TcpConnection& connection) {
    if (!connection.WaitForData()) {
      connection.Close();
      return;
    }
    uint8_t chunk[4096];
    size_t got = connection.Take(chunk, sizeof chunk);
    input_.insert(input_.end(), chunk, chunk + got);
    while (input_.size() >= wire::kHeaderSize) {
      const uint16_t length = wire::ReadU16(input_, wire::kOffsetLength);
      if (length < wire::kHeaderSize || input_.size() < length) break;
      const int16_t code = wire::ReadI16(input_, wire::kOffsetCode);
      input_.erase(input_.begin(), input_.begin() + length);
      Answer(connection, code);
    }
  }

  plat::TcpListener listener_;
  std::vector<uint8_t> input_;  // the one connection's thread only
  bool started_ = false;
};

TEST(PlctlWatchTest, ShowsANotificationThatArrivesBetweenItsLoginAndItsLists) {
  ScriptedWatchServer server;
  ASSERT_TRUE(server.started());
  pltest::ToolProcess watch(PLCTL_BINARY, {"--host", "127.0.0.1", "--port",
                                           std::to_string(server.port()), "--json", "watch"});
  ASSERT_TRUE(watch.started());
  const bool shown = watch.WaitForOutput(
      [](const std::string& out, const std::string&) { return CountEvents(out, "joined") == 1; },
      5000);
  watch.Signal(SIGINT);
  ToolResult result = watch.Finish();
  EXPECT_TRUE(shown) << result.out << result.err;
  EXPECT_NE(result.out.find("\"name\":\"early\""), std::string::npos) << result.out;
  EXPECT_EQ(result.exit_code, 0) << result.err;
}

TEST_F(PlctlTest, WatchEndsByItselfAfterItsDuration) {
  ToolResult result = Plctl({"watch", "--duration", "0.3"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.err.find("0 events"), std::string::npos) << result.err;
}

}  // namespace
