// plctl through the operator socket, against the real server binary: a full server, names that
// hold terminal escape sequences, JSON that always parses, passwords off the command line.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "blackbox/server_fixture.h"
#include "protoclient/protocol_client.h"
#include "support/operator_client.h"
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

}  // namespace
}  // namespace pltest
