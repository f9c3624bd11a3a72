// plserver --check-config with the real binary: a clean file passes, each kind of bad value is
// named with its section, key, value read and value used, a missing file is reported and not
// created; the check binds no port and writes no file.
#include <signal.h>

#include "blackbox/server_fixture.h"

namespace pltest {
namespace {

class CheckConfigTest : public ServerFixture {
 protected:
  // Runs the check; its exit code and output.
  int Check(std::string* output, std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), "--check-config");
    auto process = Spawn(arguments);
    std::optional<int> code = process->WaitForExit(10s);
    *output = process->Output();
    EXPECT_TRUE(code.has_value()) << "still running";
    return code.value_or(-1);
  }
  static std::string Clean(int port, const std::string& extra = "") {
    return CurrentIni(port,
                      "[Passwords]\r\nAdminPassword=Xq7-long-secret\r\nServerPassword=pw-9\r\n"
                      "[General]\r\nServername=Home\r\n" +
                          extra);
  }
};

TEST_F(CheckConfigTest, ACleanFilePassesAndShowsPasswordsOnlyAsSetOrEmpty) {
  const std::string ini = Clean(18765, "[Logging]\r\nFormat=json\r\n[Channels]\r\n0=Lobby\r\n");
  pltest::WriteFile(IniPath(), ini);
  // A server elsewhere holding the port does not matter: the check binds nothing.
  pltest::PortHolder holder(true, 18765);
  std::string output;
  EXPECT_EQ(Check(&output), 0) << output;
  EXPECT_NE(output.find("no warnings"), std::string::npos) << output;
  EXPECT_NE(output.find("AdminPassword = set"), std::string::npos) << output;
  EXPECT_NE(output.find("ServerPassword = set"), std::string::npos) << output;
  EXPECT_NE(output.find("TCPPort = 18765"), std::string::npos) << output;
  EXPECT_NE(output.find("\"Lobby\""), std::string::npos) << output;
  EXPECT_NE(output.find("Format = json"), std::string::npos) << output;
  EXPECT_EQ(output.find("Xq7-long-secret"), std::string::npos) << output;
  EXPECT_EQ(output.find("pw-9"), std::string::npos) << output;
  // Nothing written: the file as it was, no log.
  EXPECT_EQ(pltest::ReadFile(IniPath()), ini);
  EXPECT_FALSE(pltest::FileExists(LogPath()));
}

TEST_F(CheckConfigTest, EachKindOfBadValueIsNamedWithWhatIsUsedInstead) {
  struct Case {
    const char* lines;
    const char* expected;  // part of the warning line
  };
  const Case cases[] = {
      {"[Networking]\r\nTCPPort=abc\r\n",
       "section=Networking key=\"TCPPort\" value=\"abc\" used=\"8765\""},
      {"[General]\r\nMaxClients=-5\r\n",
       "section=General key=\"MaxClients\" value=\"-5\" used=\"-5\""},
      {"[Security]\r\nLoginTimeot=30\r\n",
       "section=Security key=\"LoginTimeot\" value=\"30\" used=\"\""},
      {"[Metrics]\r\nPort=9\r\n", "section=Metrics key=\"Port\""},
      {"[Logging]\r\nEvent=0\r\n", "section=Logging key=\"Event\""},
      {"[Operator]\r\nSockt=/x\r\n", "section=Operator key=\"Sockt\""},
      {"[Operator]\r\nSocketMode=777\r\n", "key=\"SocketMode\" value=\"777\" used=\"0600\""},
      {"[Security]\r\nLoginTimeout=99999\r\n",
       "key=\"LoginTimeout\" value=\"99999\" used=\"3600\""},
      {"[Security]\r\nLoginTimeout=0\r\n", "key=\"LoginTimeout\" value=\"0\" used=\"1\""},
      {"[Security]\r\nMaxFramesPerSecond=-1\r\n",
       "key=\"MaxFramesPerSecond\" value=\"-1\" used=\"0\""},
      {"[WebStatus]\r\nActive=yes\r\n", "key=\"Active\" value=\"yes\" used=\"0\""},
      {"[Logging]\r\nFormat=xml\r\n", "key=\"Format\" value=\"xml\" used=\"text\""},
      // What the reading rules pass over without a word, and what would stop start-up.
      {"[General]\r\nMaxClient=20\r\n", "section=General key=\"MaxClient\" value=\"20\""},
      {"[General]\r\nMaxClients=5\r\nmaxclients=6\r\n", "only the first is read\" line=7"},
      {"[Security\r\n", "without its closing ']'; the line is skipped"},
      {"[Logging]\r\nEvents 0\r\n", "neither a key (name=value)"},
      {"[Channels]\r\n0=Lobby\r\n2=Music\r\n", "key=\"2\" value=\"Music\""},
      {"[Networking]\r\nIP=0.0.0.0:8765\r\n", "key=\"IP\" value=\"0.0.0.0:8765\""},
      {"[Networking]\r\nIP=127.0.0.300\r\n", "the server cannot start"},
      {"[Networking]\r\nIP=192.0.2.77\r\n", "no address of this machine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    // The bad line comes after the clean ones, so it is the one read.
    std::string ini = "[Version]\r\nServerVersion=v1.2.0\r\n[Passwords]\r\nAdminPassword=Xq7\r\n";
    pltest::WriteFile(IniPath(), ini + c.lines);
    std::string output;
    EXPECT_EQ(Check(&output), 1) << output;
    EXPECT_NE(output.find(std::string("warning setting ") + ""), std::string::npos) << output;
    EXPECT_NE(output.find(c.expected), std::string::npos) << output;
    EXPECT_NE(output.find("1 warning(s)"), std::string::npos) << output;
  }
}

TEST_F(CheckConfigTest, AnAbsoluteIniPathIsUsedAsGiven) {
  const std::string elsewhere = work_dir_.File("elsewhere.ini");
  pltest::WriteFile(elsewhere, Clean(18765));
  std::string output;
  EXPECT_EQ(Check(&output, {"-INI=" + elsewhere}), 0) << output;
  EXPECT_NE(output.find("configuration file \"" + elsewhere + "\""), std::string::npos) << output;
}

TEST_F(CheckConfigTest, TheDefaultAdministratorPasswordIsAWarning) {
  pltest::WriteFile(IniPath(), CurrentIni(18765));
  std::string output;
  EXPECT_EQ(Check(&output), 1) << output;
  EXPECT_NE(output.find("warning default-admin-password"), std::string::npos) << output;
  EXPECT_NE(output.find("set (the well-known default)"), std::string::npos) << output;
}

TEST_F(CheckConfigTest, AMissingFileIsReportedAndNotCreated) {
  std::string output;
  EXPECT_EQ(Check(&output, {"-INI=other.ini"}), 1) << output;
  EXPECT_NE(output.find("other.ini\" does not exist"), std::string::npos) << output;
  EXPECT_FALSE(pltest::FileExists(IniPath("other.ini")));
  EXPECT_FALSE(pltest::FileExists(LogPath()));
}

TEST_F(CheckConfigTest, StartUpGivesTheSameWarningsAsEventLines) {
  auto server = StartOnFreePorts([&](int port) {
    pltest::WriteFile(IniPath(), Clean(port, "[Ping]\r\nMaxPingTries=zz\r\n"));
  });
  ASSERT_TRUE(server);
  server->Signal(SIGTERM);
  ASSERT_TRUE(server->WaitForExit(15s).has_value());
  EXPECT_NE(server->Output().find("warning setting section=Ping key=\"MaxPingTries\" "
                                  "value=\"zz\" used=\"3\""),
            std::string::npos)
      << server->Output();
}

}  // namespace
}  // namespace pltest
