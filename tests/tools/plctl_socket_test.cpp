// plctl through the operator socket, against the real server binary: a full server, names that
// hold terminal escape sequences, JSON that always parses, passwords off the command line.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "blackbox/server_fixture.h"
#include "platform/local_socket.h"
#include "protoclient/protocol_client.h"
#include "support/operator_client.h"
#include "support/test_server.h"
#include "support/tool_runner.h"

namespace pltest {
namespace {

using Json = nlohmann::json;

class PlctlSocketTest : public ServerFixture {
 protected:
  std::unique_ptr<ServerProcess> Start() {
    auto server = StartOnFreePorts([&](int port) {
      pltest::WriteFile(IniPath(), CurrentIni(port) + "[Passwords]\r\nAdminPassword=secret\r\n");
    });
    if (server) {
      EXPECT_TRUE(pltest::OperatorClient::WaitUntilServed(work_dir_.File("plserver.sock")));
    }
    return server;
  }
  ToolResult Plctl(std::vector<std::string> arguments, pltest::ToolOptions options = {}) {
    options.environment["PLCTL_SOCKET"] = work_dir_.File("plserver.sock");
    return pltest::RunTool(PLCTL_BINARY, arguments, options);
  }
  // Parses plctl's JSON output: valid JSON (and so valid UTF-8) with "ok".
  static Json Parsed(const ToolResult& result) {
    Json document = Json::parse(result.out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << result.out;
    EXPECT_TRUE(document.is_object() && document.contains("ok")) << result.out;
    return document;
  }
};

TEST_F(PlctlSocketTest, FullServerListKickBanWithoutTheToolEverJoining) {
  auto server = Start();
  ASSERT_TRUE(server);
  constexpr uint32_t kWatcherIp = 0x7F000008;  // 127.0.0.8
  constexpr uint32_t kBotsIp = 0x7F000007;     // 127.0.0.7
  auto watcher = Player("watcher", kWatcherIp);
  ASSERT_TRUE(watcher);
  std::vector<std::unique_ptr<plclient::ProtocolClient>> bots;
  for (int i = 0; i < 15; ++i) {
    bots.push_back(Player("bot" + std::to_string(i), kBotsIp));
    ASSERT_TRUE(bots.back()) << "bot " << i;
  }
  // Full: a seventeenth player is refused.
  EXPECT_FALSE(Player("late", 0x7F000009));
  // The bots' joins have reached the watcher; from now on it must see no join at all.
  int joins = 0;
  while (std::optional<plclient::Frame> frame = watcher->ReadFrame(500))
    joins += plclient::ParsePlayerJoined(*frame).has_value();
  EXPECT_EQ(joins, 15);

  ToolResult list = Plctl({"--json", "list"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_EQ(Parsed(list)["players"].size(), 16u);

  ToolResult kick = Plctl({"kick", "bot0"});
  ASSERT_EQ(kick.exit_code, 0) << kick.err;
  EXPECT_NE(kick.out.find("kicked"), std::string::npos);
  ASSERT_TRUE(bots[0]->WaitForClose(3000));

  ToolResult ban = Plctl({"ban", "add", "127.0.0.7", "--reason", "bots"});
  ASSERT_EQ(ban.exit_code, 0) << ban.err;
  for (size_t i = 1; i < bots.size(); ++i) EXPECT_TRUE(bots[i]->WaitForClose(3000)) << i;
  // The bots' address cannot come back.
  plclient::ClientOptions options;
  options.local_ip = kBotsIp;
  auto again =
      plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_), options);
  if (again) {
    EXPECT_FALSE(again->Login("bot-again").accepted);
  }

  ToolResult status = Plctl({"--json", "status"});
  ASSERT_EQ(status.exit_code, 0) << status.err;
  EXPECT_EQ(Parsed(status)["players"], 1);

  // What the watcher saw: the bots leaving (reason 4), never the tool joining or leaving.
  int left = 0;
  while (std::optional<plclient::Frame> frame = watcher->ReadFrame(500)) {
    EXPECT_FALSE(plclient::ParsePlayerJoined(*frame)) << "a join reached the watcher";
    if (auto leave = plclient::ParsePlayerLeft(*frame)) {
      EXPECT_EQ(leave->reason, 4);
      ++left;
    }
  }
  EXPECT_EQ(left, 15);
}

TEST_F(PlctlSocketTest, NamesWithEscapeSequencesPrintHarmlessAndEveryJsonOutputParses) {
  auto server = Start();
  ASSERT_TRUE(server);
  const std::string evil =
      "\x1b]0;pwned\x07\x1b[2K\x9b"
      "31m\xe9";
  auto player = Player(evil, 0x7F000001);
  ASSERT_TRUE(player);

  for (std::vector<std::string> command : std::vector<std::vector<std::string>>{
           {"list"}, {"player", "1"}, {"status"}, {"ban", "list"}}) {
    ToolResult text = Plctl(command);
    ASSERT_EQ(text.exit_code, 0) << text.err;
    for (char c : text.out) {
      const unsigned char byte = static_cast<unsigned char>(c);
      EXPECT_TRUE(byte >= 0x20 || byte == '\n')
          << "control byte " << int(byte) << " in " << text.out;
      EXPECT_NE(byte, 0x7F);
    }
    if (command[0] != "status" && command[0] != "ban") {
      EXPECT_NE(text.out.find("\\x1b]0;pwned\\x07\\x1b[2K"), std::string::npos) << text.out;
    }
    command.insert(command.begin(), "--json");
    ToolResult json = Plctl(command);
    ASSERT_EQ(json.exit_code, 0) << json.err;
    Json document = Parsed(json);
    EXPECT_TRUE(document["ok"].get<bool>());
    if (command[1] == "list") {
      // The byte that is not UTF-8 reads as Latin-1.
      EXPECT_EQ(document["players"][0]["name"],
                "\x1b]0;pwned\x07\x1b[2K\xc2\x9b"
                "31m\xc3\xa9");
    }
  }
  // Failures are JSON with ok false too.
  for (std::vector<std::string> command : std::vector<std::vector<std::string>>{
           {"--json", "kick", "99"},
           {"--json", "ban", "remove", "10.1.2.3"},
           {"--json", "--socket", work_dir_.File("nowhere.sock"), "status"}}) {
    ToolResult failed = Plctl(command);
    EXPECT_NE(failed.exit_code, 0);
    Json document = Parsed(failed);
    EXPECT_FALSE(document["ok"].get<bool>()) << failed.out;
  }
  ToolResult version = Plctl({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_NE(version.out.find("plctl 1.2.0"), std::string::npos) << version.out;
}

TEST_F(PlctlSocketTest, BanAddLastsADayUnlessPermanentAndAWideBlockNeedsForce) {
  auto server = Start();
  ASSERT_TRUE(server);
  ToolResult day = Plctl({"ban", "add", "192.0.2.1"});
  ASSERT_EQ(day.exit_code, 0) << day.err;
  EXPECT_NE(day.out.find("banned until"), std::string::npos) << day.out;
  ToolResult permanent = Plctl({"ban", "add", "192.0.2.2", "--permanent"});
  ASSERT_EQ(permanent.exit_code, 0) << permanent.err;
  EXPECT_NE(permanent.out.find("banned permanently"), std::string::npos) << permanent.out;

  ToolResult too_long = Plctl({"ban", "add", "192.0.2.3", "--duration", "30d"});
  EXPECT_EQ(too_long.exit_code, 2);
  EXPECT_NE(too_long.err.find("at most 24d"), std::string::npos) << too_long.err;
  EXPECT_NE(too_long.err.find("--permanent"), std::string::npos) << too_long.err;

  ToolResult wide = Plctl({"ban", "add", "127.0.0.0/8"});
  EXPECT_EQ(wide.exit_code, 2);
  EXPECT_NE(wide.err.find("--force"), std::string::npos) << wide.err;
  auto player = Player("still-here", 0x7F000001);
  ASSERT_TRUE(player);
  EXPECT_EQ(Plctl({"ban", "add", "10.0.0.0/8", "--force"}).exit_code, 0);
  EXPECT_EQ(Parsed(Plctl({"--json", "ban", "list"}))["bans"].size(), 3u);
}

TEST_F(PlctlSocketTest, WatchPrintsTheServersOwnLinesAndNoLibraryMessageEver) {
  auto server = Start();
  ASSERT_TRUE(server);
  for (const char* format : {"text", "json"}) {
    std::vector<std::string> arguments = {"watch"};
    if (std::string(format) == "json") arguments.insert(arguments.begin(), "--json");
    pltest::ToolOptions options;
    options.environment["PLCTL_SOCKET"] = work_dir_.File("plserver.sock");
    pltest::ToolProcess watch(PLCTL_BINARY, arguments, options);
    ASSERT_TRUE(watch.started());
    ASSERT_TRUE(watch.WaitForOutput(
        [](const std::string&, const std::string& err) {
          return err.find("watching") != std::string::npos;
        },
        10000));
    // A player named in Latin-1: the server's lines show the byte in their own way.
    const std::string name = std::string("caf\xe9-") + format;
    auto player = Player(name, 0x7F000001);
    ASSERT_TRUE(player);
    const std::string tail = std::string("-") + format + "\"";
    ASSERT_TRUE(watch.WaitForOutput(
        [&](const std::string& out, const std::string&) {
          const size_t at = out.find(tail);
          return at != std::string::npos && out.find('\n', at) != std::string::npos;
        },
        10000));
    watch.Signal(SIGINT);
    ToolResult result = watch.Finish();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const size_t at = result.out.find(tail);
    const size_t previous_end = result.out.rfind('\n', at);
    const size_t begin = previous_end == std::string::npos ? 0 : previous_end + 1;
    const std::string line = result.out.substr(begin, result.out.find('\n', at) + 1 - begin);
    if (std::string(format) == "text") {
      EXPECT_NE(line.find(" info join "), std::string::npos) << line;
      EXPECT_NE(line.find("name=\"caf\\xe9-text\""), std::string::npos) << line;
      EXPECT_TRUE(pltest::WaitUntil(
          [&] { return server->Output().find(line) != std::string::npos; }, 10000))
          << line;
    } else {
      Json event = Json::parse(line);
      EXPECT_EQ(event["event"], "join");
      EXPECT_EQ(event["level"], "info");
      EXPECT_EQ(event["name"], "caf\xef\xbf\xbd-json");
      EXPECT_FALSE(event.contains("ok"));
    }
  }
  // A name that is not UTF-8 cannot go through the socket: refused in plctl's own words, the
  // byte as an escape.
  ToolResult latin1 = Plctl({"room", "create", "Caf\xe9"});
  EXPECT_EQ(latin1.exit_code, 2);
  EXPECT_NE(latin1.err.find("Caf\\xe9"), std::string::npos) << latin1.err;
  EXPECT_EQ(latin1.err.find("json.exception"), std::string::npos) << latin1.err;
}

TEST_F(PlctlSocketTest, AForgedNameStaysInsideItsQuotesInWatchAndKick) {
  auto server = Start();
  ASSERT_TRUE(server);
  pltest::ToolOptions options;
  options.environment["PLCTL_SOCKET"] = work_dir_.File("plserver.sock");
  pltest::ToolProcess watch(PLCTL_BINARY, {"watch"}, options);
  ASSERT_TRUE(watch.started());
  ASSERT_TRUE(watch.WaitForOutput(
      [](const std::string&, const std::string& err) {
        return err.find("watching") != std::string::npos;
      },
      5000));
  // A quote, a line break that starts a forged field, a right-to-left override.
  const std::string forged = "a\"b\naddr=6.6.6.6 \xe2\x80\xae";
  auto player = Player(forged);
  ASSERT_TRUE(player);
  ToolResult kick = Plctl({"kick", "1"});
  ASSERT_EQ(kick.exit_code, 0) << kick.err;
  EXPECT_EQ(kick.out, "player 1 \"a\\\"b\\naddr=6.6.6.6 \\xe2\\x80\\xae\" kicked\n");
  ASSERT_TRUE(watch.WaitForOutput(
      [](const std::string& out, const std::string&) {
        return out.find(" leave ") != std::string::npos;
      },
      5000));
  watch.Signal(SIGINT);
  ToolResult watched = watch.Finish();
  EXPECT_EQ(watched.out.find("\xe2\x80\xae"), std::string::npos);
  // Every line is one event of its own with one address: the name forged neither.
  size_t start = 0, events = 0;
  for (size_t end; (end = watched.out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = watched.out.substr(start, end - start);
    EXPECT_TRUE(line.rfind("20", 0) == 0) << line;
    size_t addresses = 0;
    for (size_t at = line.find(" addr="); at != std::string::npos; at = line.find(" addr=", at + 1))
      ++addresses;
    EXPECT_LE(addresses, 1u) << line;
    ++events;
  }
  EXPECT_GE(events, 3u);  // join, kick, leave
}

TEST_F(PlctlSocketTest, PasswordsComeFromAFileOrTheEnvironmentNeverTheCommandLine) {
  auto server = Start();
  ASSERT_TRUE(server);
  pltest::WriteFile(work_dir_.File("new-password"), "from-a-file\n");
  ToolResult by_file =
      Plctl({"password", "server", "--password-file", work_dir_.File("new-password")});
  ASSERT_EQ(by_file.exit_code, 0) << by_file.err;
  EXPECT_NE(pltest::ReadFile(IniPath()).find("ServerPassword=from-a-file"), std::string::npos);

  pltest::ToolOptions environment;
  environment.environment["PLCTL_NEW_PASSWORD"] = "from-the-environment";
  ToolResult by_environment = Plctl({"password", "admin"}, environment);
  ASSERT_EQ(by_environment.exit_code, 0) << by_environment.err;
  EXPECT_NE(pltest::ReadFile(IniPath()).find("AdminPassword=from-the-environment"),
            std::string::npos);
  // Without a terminal, a file or the variable there is nothing to ask: a usage failure.
  ToolResult none = Plctl({"password", "admin"});
  EXPECT_EQ(none.exit_code, 2);

  // The public protocol still works with --host, taking the administrator password from the
  // environment.
  pltest::ToolOptions admin;
  admin.environment["PLCTL_ADMIN_PASSWORD"] = "from-the-environment";
  admin.environment["PLCTL_SERVER_PASSWORD"] = "from-a-file";
  ToolResult over_protocol = Plctl(
      {"--host", "localhost", "--port", std::to_string(port_), "--json", "admin-login"}, admin);
  EXPECT_EQ(over_protocol.exit_code, 0) << over_protocol.err;
  EXPECT_TRUE(Parsed(over_protocol)["ok"].get<bool>());
}

TEST_F(PlctlSocketTest, ReloadPutsAHandEditInForceAndRefusesABadFileWhole) {
  auto server = Start();
  ASSERT_TRUE(server);
  EXPECT_NE(Plctl({"status"}).out.find("as loaded"), std::string::npos);
  // The server's own write keeps the file in step with what is in force.
  pltest::ToolOptions new_password;
  new_password.environment["PLCTL_NEW_PASSWORD"] = "fresh";
  ASSERT_EQ(Plctl({"password", "server"}, new_password).exit_code, 0);
  EXPECT_NE(Plctl({"status"}).out.find("as loaded"), std::string::npos);
  ToolResult unchanged = Plctl({"reload"});
  ASSERT_EQ(unchanged.exit_code, 0) << unchanged.err;
  EXPECT_NE(unchanged.out.find("changed: nothing"), std::string::npos) << unchanged.out;

  const std::string port_line = "TCPPort=" + std::to_string(port_) + "\r\n";
  std::string edited = pltest::ReadFile(IniPath()) +
                       "[General]\r\nMaxClients=3\r\n[Operator]\r\nSocketMode=0660\r\n";
  edited.replace(edited.find(port_line), port_line.size(), port_line + "IP=127.0.0.1\r\n");
  pltest::WriteFile(IniPath(), edited);
  EXPECT_NE(Plctl({"status"}).out.find("changed on disk"), std::string::npos);
  ToolResult reloaded = Plctl({"--json", "reload"});
  ASSERT_EQ(reloaded.exit_code, 0) << reloaded.err;
  const Json result = Parsed(reloaded);
  EXPECT_EQ(result["changed"], Json::array({"General.MaxClients", "Operator.SocketMode"}))
      << reloaded.out;
  EXPECT_EQ(plat::LocalSocketMode(work_dir_.File("plserver.sock")), 0660u);
  EXPECT_EQ(result["needs_restart"], Json::array({"Networking.IP"})) << reloaded.out;
  const Json status = Parsed(Plctl({"--json", "status"}));
  EXPECT_EQ(status["max_players"], 3);
  EXPECT_EQ(status["config_changed"], false);

  pltest::WriteFile(IniPath(), edited + "[Metrics]\r\nListen=nowhere\r\n");
  ToolResult refused = Plctl({"reload"});
  EXPECT_EQ(refused.exit_code, 1) << refused.out << refused.err;
  EXPECT_NE(refused.err.find("[Metrics] Listen \"nowhere\""), std::string::npos) << refused.err;
  EXPECT_EQ(Parsed(Plctl({"--json", "status"}))["max_players"], 3);
}

TEST_F(PlctlSocketTest, ReloadPutsTheFilesBansInForceAndLiftsTheOnesGone) {
  auto server = Start();
  ASSERT_TRUE(server);
  constexpr uint32_t kBanned = 0x7F000005;  // 127.0.0.5
  auto player = Player("eve", kBanned);
  ASSERT_TRUE(player);
  const std::string without = pltest::ReadFile(IniPath());
  pltest::WriteFile(IniPath(), without + "[Bans]\r\n127.0.0.5=permanent; from the file\r\n");
  ToolResult banned = Plctl({"reload"});
  ASSERT_EQ(banned.exit_code, 0) << banned.err;
  EXPECT_NE(banned.out.find("changed: Bans"), std::string::npos) << banned.out;
  EXPECT_TRUE(player->WaitForClose(3000));
  EXPECT_NE(Plctl({"ban", "list"}).out.find("from the file"), std::string::npos);

  pltest::WriteFile(IniPath(), without);
  ASSERT_EQ(Plctl({"reload"}).exit_code, 0);
  EXPECT_TRUE(Player("eve", kBanned));
}

}  // namespace
}  // namespace pltest
