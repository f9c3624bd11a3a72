// Event lines on standard output, with the real binary: a scripted session's events appear in
// order with their fields, a hostile name arrives escaped, no password appears on standard
// output or in the log, the JSON form gives one object per line and Events=0 silences them.
#include <signal.h>

#include <filesystem>
#include <thread>

#include "blackbox/server_fixture.h"
#include "protoclient/protocol_client.h"
#include "support/addresses.h"
#include "support/tool_runner.h"

namespace pltest {
namespace {

constexpr char kAdminPassword[] = "Adm1n-Secret";
constexpr char kServerPassword[] = "Srv-Secret9";
constexpr char kWrongAdmin[] = "Wrong-Guess7";
constexpr char kWrongServer[] = "Bad-Srv-Pw";
// A name that would recolour a terminal and start a new, forged line.
constexpr char kHostileName[] = "b\x1b[31mob\n2026 info join";

class EventLinesTest : public ServerFixture {
 protected:
  std::unique_ptr<ServerProcess> Start(const std::string& logging) {
    return StartOnFreePorts([&](int port) {
      pltest::WriteFile(
          IniPath(), CurrentIni(port, std::string("[Passwords]\r\nAdminPassword=") +
                                          kAdminPassword + "\r\nServerPassword=" + kServerPassword +
                                          "\r\n[Channels]\r\n0=Lobby\r\n1=Music\r\n" + logging));
    });
  }
  std::unique_ptr<plclient::ProtocolClient> Connect(const std::string& host = "127.0.0.1") {
    std::string error;
    auto client = plclient::ProtocolClient::Connect(host, static_cast<uint16_t>(port_), {}, &error);
    EXPECT_TRUE(client) << error;
    return client;
  }
  // Stops the server and returns what it wrote.
  std::string Stop(ServerProcess& server) {
    server.Signal(SIGTERM);
    EXPECT_TRUE(server.WaitForExit(15s).has_value());
    return server.Output();
  }
};

// Positions of each wanted text in order; fails at the first one missing or out of order.
void ExpectInOrder(const std::string& output, const std::vector<std::string>& wanted) {
  size_t at = 0;
  for (const std::string& text : wanted) {
    size_t found = output.find(text, at);
    ASSERT_NE(found, std::string::npos) << "missing after position " << at << ": " << text << "\n"
                                        << output;
    at = found + text.size();
  }
}

TEST_F(EventLinesTest, AScriptedSessionAppearsInOrderWithoutPasswordsOrRawControlBytes) {
  auto server = Start("");
  ASSERT_TRUE(server);
  auto alice = Connect();
  ASSERT_TRUE(alice && alice->Login("alice", kServerPassword).accepted);
  auto bob = Connect();
  ASSERT_TRUE(bob && bob->Login(kHostileName, kServerPassword).accepted);
  ASSERT_TRUE(alice->SendChangeRoom(2));
  ASSERT_TRUE(alice->SendAdminLogin(kAdminPassword));
  ASSERT_TRUE(alice->Await(&plclient::ParsePlayerIsAdmin, 3000));
  ASSERT_TRUE(alice->SendAdminKickPlayer(2));
  EXPECT_TRUE(bob->WaitForClose(5000));
  auto mallory = Connect();
  ASSERT_TRUE(mallory);
  EXPECT_TRUE(mallory->Login("mallory", kWrongServer).refused);
  auto carol = Connect();
  ASSERT_TRUE(carol && carol->Login("carol", kServerPassword).accepted);
  ASSERT_TRUE(carol->SendAdminLogin(kWrongAdmin));
  ASSERT_TRUE(carol->Await(&plclient::ParseResult, 3000));
  ASSERT_TRUE(carol->SendLeave());
  EXPECT_TRUE(carol->WaitForClose(5000));
  // Its leave line is written before its connection closes; the server's own thread closes it.
  const std::string output = Stop(*server);

  ExpectInOrder(output, {
                            " info start version=\"v1.2.0 Win32 Service\" tcp=0.0.0.0:" +
                                std::to_string(port_) + " udp=0.0.0.0:" + std::to_string(port_ + 1),
                            " info join player=1 name=\"alice\" addr=127.0.0.1 room=1",
                            " info join player=2 name=\"b\\x1b[31mob\\n2026 info join\" "
                            "addr=127.0.0.1 room=1",
                            " info move player=1 name=\"alice\" addr=127.0.0.1 from=1 room=2",
                            " info admin-login player=1 name=\"alice\" addr=127.0.0.1",
                            " info admin action=kick result=ok by=1 by_name=\"alice\" "
                            "addr=127.0.0.1 player=2",
                            " info leave player=2 name=\"b\\x1b[31mob\\n2026 info join\" "
                            "addr=127.0.0.1 reason=kicked",
                            " warning login-failed addr=127.0.0.1 name=\"mallory\" "
                            "reason=wrong-server-password",
                            " warning admin-login-failed addr=127.0.0.1 player=2 name=\"carol\"",
                            " info leave player=2 name=\"carol\" addr=127.0.0.1 reason=left",
                            " info stop",
                        });
  // The time stamp: ISO 8601 with its offset.
  EXPECT_TRUE(output.size() > 25 && output[4] == '-' && output[10] == 'T' &&
              (output[19] == '+' || output[19] == '-') && output[22] == ':')
      << output;
  EXPECT_EQ(output.find('\x1b'), std::string::npos) << "a raw escape byte reached the output";
  const std::string log = pltest::ReadFile(LogPath());
  for (const char* secret : {kAdminPassword, kServerPassword, kWrongAdmin, kWrongServer}) {
    EXPECT_EQ(output.find(secret), std::string::npos) << secret;
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
  }
  // The log keeps its lifecycle lines only.
  EXPECT_EQ(log.find("join"), std::string::npos);
}

TEST_F(EventLinesTest, JsonGivesOneObjectPerLineAndEventsZeroGivesNone) {
  for (const char* logging : {"[Logging]\r\nFormat=json\r\n", "[Logging]\r\nEvents=0\r\n"}) {
    SCOPED_TRACE(logging);
    auto server = Start(logging);
    ASSERT_TRUE(server);
    auto client = Connect();
    ASSERT_TRUE(client && client->Login(kHostileName, kServerPassword).accepted);
    ASSERT_TRUE(client->SendLeave());
    EXPECT_TRUE(client->WaitForClose(5000));
    const std::string output = Stop(*server);
    if (std::string(logging).find("json") != std::string::npos) {
      ExpectInOrder(output,
                    {"{\"time\":\"", "\"level\":\"info\",\"event\":\"start\"",
                     "\"event\":\"join\",\"player\":1,"
                     "\"name\":\"b\\u001b[31mob\\n2026 info join\",\"addr\":\"127.0.0.1\"",
                     "\"event\":\"leave\"", "\"reason\":\"left\"}\n", "\"event\":\"stop\"}\n"});
      // Every line of standard output is one object.
      size_t start = 0;
      for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_EQ(output[start], '{') << output.substr(start, end - start);
        EXPECT_EQ(output[end - 1], '}') << output.substr(start, end - start);
      }
    } else {
      EXPECT_EQ(output, "");
    }
    std::remove(LogPath().c_str());
  }
}

#ifdef PL_SOURCE_DIR
// The shipped fail2ban filter, run by fail2ban's own fail2ban-regex on the server's real lines
// in both forms, as written (time stamp first) and as the journal gives them ("host
// plserver[pid]: " first): it finds exactly the failed logins, from IPv4 and IPv6 addresses,
// and no text inside a player's name makes a line match.
TEST_F(EventLinesTest, TheFail2banFilterMatchesFailedLoginsInBothFormsAndNothingInsideNames) {
  if (!pltest::FileExists("/usr/bin/fail2ban-regex"))
    GTEST_SKIP() << "fail2ban is not installed (scripts/test.sh installs it)";
  const std::string filter = std::string(PL_SOURCE_DIR) + "/packaging/fail2ban/plserver.conf";
  for (const std::string format : {"text", "json"}) {
    SCOPED_TRACE(format);
    std::remove(LogPath().c_str());  // the start is seen in a fresh log
    auto server = Start("[Logging]\r\nFormat=" + format + "\r\n");
    ASSERT_TRUE(server);
    auto forger = Connect();
    ASSERT_TRUE(forger &&
                forger->Login(" warning login-failed addr=192.0.2.66 ", kServerPassword).accepted);
    auto json_forger = Connect();
    ASSERT_TRUE(
        json_forger &&
        json_forger->Login("\",\"event\":\"login-failed\",\"addr\":\"192.0.2.68", kServerPassword)
            .accepted);
    auto guesser = Connect();
    ASSERT_TRUE(guesser &&
                guesser->Login("warning login-failed addr=192.0.2.67", kWrongServer).refused);
    const bool ipv6 = HasIpv6Loopback();
    if (ipv6) {
      auto guesser6 = Connect("::1");
      ASSERT_TRUE(guesser6 && guesser6->Login("six", kWrongServer).refused);
    }
    ASSERT_TRUE(forger->SendAdminLogin(kWrongAdmin));
    ASSERT_TRUE(forger->Await(&plclient::ParseResult, 3000));
    const std::string output = Stop(*server);
    pltest::WriteFile(work_dir_.File("lines.txt"), output);
    std::string journal;
    for (size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos;
         start = end + 1)
      journal += "host plserver[4242]: " + output.substr(start, end + 1 - start);
    pltest::WriteFile(work_dir_.File("journal.txt"), journal);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-v", "--print-no-missed", work_dir_.File("lines.txt"), filter},
          std::vector<std::string>{"-v", "--print-no-missed", "-d", "{NONE}",
                                   work_dir_.File("journal.txt"), filter}}) {
      SCOPED_TRACE(arguments[2]);
      pltest::ToolResult result =
          pltest::RunTool("/usr/bin/fail2ban-regex", arguments, {{}, "", 60000});
      ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
      EXPECT_NE(result.out.find(ipv6 ? "Failregex: 3 total" : "Failregex: 2 total"),
                std::string::npos)
          << result.out;
      if (ipv6) {
        EXPECT_NE(result.out.find("  ::1  "), std::string::npos) << result.out;
      }
      EXPECT_EQ(result.out.find("192.0.2."), std::string::npos) << result.out;
    }
  }
}

// The shipped jail, read by fail2ban itself over Debian's configuration: it bans on the control
// port (TCP) and on the voice port (UDP).
TEST_F(EventLinesTest, TheFail2banJailBansTheControlAndTheVoicePort) {
  if (!pltest::FileExists("/usr/bin/fail2ban-client") ||
      !pltest::FileExists("/etc/fail2ban/jail.conf"))
    GTEST_SKIP() << "fail2ban is not installed (scripts/test.sh installs it)";
  const std::string conf = work_dir_.File("fail2ban");
  std::filesystem::copy("/etc/fail2ban", conf, std::filesystem::copy_options::recursive);
  const std::string packaging = std::string(PL_SOURCE_DIR) + "/packaging/fail2ban/";
  std::filesystem::copy_file(packaging + "plserver.conf", conf + "/filter.d/plserver.conf");
  std::filesystem::copy_file(packaging + "plserver.jail.local", conf + "/jail.d/plserver.local");
  pltest::ToolResult dump =
      pltest::RunTool("/usr/bin/fail2ban-client", {"-c", conf, "-d"}, {{}, "", 60000});
  ASSERT_EQ(dump.exit_code, 0) << dump.out << dump.err;
  EXPECT_NE(dump.out.find("['port', '8765'], ['protocol', 'tcp']"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("['port', '8766'], ['protocol', 'udp']"), std::string::npos) << dump.out;
}
#endif

}  // namespace
}  // namespace pltest
