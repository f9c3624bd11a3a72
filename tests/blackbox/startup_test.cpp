// The real binary at start-up: the configuration file it creates or rewrites, and each way a
// start can fail with its fatal log line and exit code 1.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>

#include "blackbox/server_fixture.h"
#include "protoclient/protocol_client.h"
#include "support/addresses.h"
#include "support/operator_client.h"
#include "support/tool_runner.h"

namespace pltest {
namespace {

constexpr char kCreatedIni[] =
    "[Version]\r\nServerVersion=v1.2.0\r\n"
    "[Passwords]\r\nServerPassword=\r\nAdminPassword=rivet\r\n"
    "[General]\r\nServername=Parlowind Server\r\nMaxClients=16\r\n"
    "[Networking]\r\nTCPPort=8765\r\nIP=\r\n"
    "[Ping]\r\nMaxPingTries=3\r\nPingWaitTime=15000\r\nIdleTimeBeforePing=5000\r\n"
    "[WebStatus]\r\nActive=0\r\nParlowindSite_Active=0\r\nParlowindSite_DisplayInWebList=0\r\n"
    "WebPostURL=\r\n";

using StartupTest = ServerFixture;

// The last log line is `message` with a proper time stamp, and the server never said it started.
void ExpectFatalLog(const std::string& log_path, const std::string& message) {
  const std::string contents = ReadFile(log_path);
  EXPECT_TRUE(pltest::LogWellFormed(contents)) << contents;
  std::vector<std::string> lines = pltest::ReadLogLines(log_path);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(pltest::LogText(lines.back()), message) << contents;
  EXPECT_EQ(contents.find(kStarted), std::string::npos) << contents;
}

TEST_F(StartupTest, WithoutIniFileCreatesItAndServesOnTheDefaultPorts) {
  const bool defaults_free = pltest::TcpPortFree(8765) && pltest::UdpPortFree(8766);
  auto server = Spawn();
  const bool started = server->WaitForLogText(LogPath(), kStarted, 10s);
  // The file is written before the listeners start, so it exists whether or not they could bind.
  EXPECT_EQ(ReadFile(IniPath()), kCreatedIni);
  EXPECT_FALSE(pltest::FileExists(program_dir_.File("plserver.log")));
  // The file holds the passwords: its owner alone may read it. The log is for the group too.
  struct stat info;
  ASSERT_EQ(stat(IniPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(LogPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  const std::vector<std::string> texts = LogTexts();
  const bool clash = !texts.empty() && texts.back() == kFatalCommunication;
  if (!started && (!defaults_free || clash)) {
    GTEST_SKIP() << "port 8765 or 8766 is in use on this machine";
  }
  ASSERT_TRUE(started) << server->Output();
  EXPECT_TRUE(pltest::TcpConnects(8765));
  EXPECT_FALSE(pltest::UdpPortFree(8766)) << "the voice port is not bound";
  // Nothing here is about the shutdown, which has tests of its own.
  server->Signal(SIGKILL);
}

class PortInUseTest : public ServerFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(PortInUseTest, EndsStartUpWithCommunicationFailure) {
  const bool tcp = GetParam();
  const int port = pltest::PickFreePortPair();
  pltest::PortHolder holder(tcp, tcp ? port : port + 1);
  ASSERT_TRUE(holder.holding());
  WriteFile(IniPath(), CurrentIni(port));
  std::string output;
  EXPECT_EQ(RunToFailure({}, false, &output), 1);
  ExpectFatalLog(LogPath(), kFatalCommunication);
  // The log keeps the fixed line; the operator learns the reason on standard error.
  EXPECT_NE(output.find("bind(0.0.0.0:" + std::to_string(tcp ? port : port + 1) +
                        "): Address already in use"),
            std::string::npos)
      << output;
}

INSTANTIATE_TEST_SUITE_P(TcpOrUdp, PortInUseTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

TEST_F(StartupTest, AddressThisMachineDoesNotHaveFailsAtActivation) {
  // Only a bind is attempted: nothing is sent to the address.
  WriteFile(IniPath(), CurrentIni(pltest::PickFreePortPair(), "IP=10.255.255.1\r\n"));
  EXPECT_EQ(RunToFailure(), 1);
  ExpectFatalLog(LogPath(), kFatalCommunication);
}

TEST_F(StartupTest, AddressThatIsNoAddressFailsAtTheBindings) {
  WriteFile(IniPath(), CurrentIni(pltest::PickFreePortPair(), "IP=not-an-ip\r\n"));
  std::string output;
  EXPECT_EQ(RunToFailure({}, false, &output), 1);
  ExpectFatalLog(LogPath(), kFatalBind);
  EXPECT_NE(output.find("\"not-an-ip\" is no IPv4 or IPv6 address"), std::string::npos) << output;
}

// IP takes an IPv6 literal: the listeners are on that address alone and the start line names it
// in brackets.
TEST_F(StartupTest, AnIPv6AddressIsServedAlone) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no ::1 on this host";
  const int port = pltest::PickFreePortPair();
  WriteFile(IniPath(), CurrentIni(port, "IP=::1\r\n"));
  auto server = Spawn();
  ASSERT_TRUE(server->WaitForLogText(LogPath(), kStarted, 10s)) << server->Output();
  auto player = plclient::ProtocolClient::Connect("::1", static_cast<uint16_t>(port));
  ASSERT_TRUE(player);
  EXPECT_TRUE(player->Login("six").accepted);
  EXPECT_FALSE(pltest::TcpConnects(port)) << "127.0.0.1 is not the address asked for";
  server->Signal(SIGTERM);
  ASSERT_EQ(server->WaitForExit(15s), 0);
  EXPECT_NE(server->Output().find("tcp=[::1]:" + std::to_string(port) + " "), std::string::npos)
      << server->Output();
}

TEST_F(StartupTest, UnwritableLogAndUnreadableConfigurationNameTheirPathOnStandardError) {
  std::string output;
  EXPECT_EQ(RunToFailure({"-LOG=" + work_dir_.File("missing/plserver.log")}, false, &output), 1);
  EXPECT_NE(output.find(work_dir_.File("missing/plserver.log") + "): No such file or directory"),
            std::string::npos)
      << output;
  // A directory where the configuration file should be cannot be read as one.
  ASSERT_EQ(mkdir(IniPath("dir.ini").c_str(), 0755), 0);
  EXPECT_EQ(RunToFailure({"-INI=dir.ini"}, false, &output), 1);
  ExpectFatalLog(LogPath(), kFatalConfig);
  EXPECT_NE(output.find(IniPath("dir.ini")), std::string::npos) << output;
  EXPECT_NE(output.find("Is a directory"), std::string::npos) << output;
}

TEST_F(StartupTest, ReadOnlyConfigurationFileIsNotRewrittenEvenInAWritableDirectory) {
  const int port = pltest::PickFreePortPair();
  const std::string outdated =
      "[Version]\r\nServerVersion=v1.1.0\r\n[Networking]\r\nTCPPort=" + std::to_string(port) +
      "\r\n";
  WriteFile(IniPath(), outdated);
  chmod(IniPath().c_str(), 0444);
  chmod(program_dir_.path().c_str(), 0777);  // the rename alone would be allowed
  std::string output;
  EXPECT_EQ(RunToFailure({}, /*unprivileged=*/true, &output), 1);
  ExpectFatalLog(LogPath(), kFatalConfig);
  EXPECT_EQ(ReadFile(IniPath()), outdated);
  EXPECT_EQ(pltest::DirectoryEntries(program_dir_.path()),
            (std::vector<std::string>{"plserver", "plserver.ini"}));
  EXPECT_NE(output.find(IniPath() + "): Permission denied"), std::string::npos) << output;
  chmod(program_dir_.path().c_str(), 0755);
}

TEST_F(StartupTest, ReadOnlyConfigurationFileRefusesTheAdministrationCommandsAtRunTime) {
  chmod(program_dir_.path().c_str(), 0777);
  auto server = StartOnFreePorts(
      [&](int port) {
        chmod(IniPath().c_str(), 0644);
        WriteFile(IniPath(), CurrentIni(port, "[Channels]\r\n0=Lobby\r\n"));
        chmod(IniPath().c_str(), 0444);
      },
      {}, "plserver.log", /*unprivileged=*/true);
  ASSERT_NE(server, nullptr);
  const std::string before = ReadFile(IniPath());
  std::string error;
  auto admin =
      plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_), {}, &error);
  ASSERT_TRUE(admin) << error;
  ASSERT_TRUE(admin->Login("Admin", "", "plctl").accepted);
  ASSERT_TRUE(admin->SendAdminLogin("rivet"));
  ASSERT_TRUE(admin->Await(&plclient::ParsePlayerIsAdmin, 2000));
  for (const auto& [send, refusal] : std::vector<std::pair<std::function<bool()>, int16_t>>{
           {[&] { return admin->SendAdminChangeServerPassword("new"); }, -140},
           {[&] { return admin->SendAdminChangeAdminPassword("new"); }, -160},
           {[&] { return admin->SendAdminSaveAsDefaultChannels(); }, -150}}) {
    ASSERT_TRUE(send());
    auto result = admin->Await(&plclient::ParseResult, 2000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->value, refusal);
  }
  EXPECT_EQ(ReadFile(IniPath()), before);
  // Nothing changed in memory either.
  auto late =
      plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_), {}, &error);
  ASSERT_TRUE(late) << error;
  EXPECT_TRUE(late->Login("Late", "").accepted);
  server->Signal(SIGKILL);
  chmod(program_dir_.path().c_str(), 0755);
}

TEST_F(StartupTest, TooManyChannelsFail) {
  std::string ini = CurrentIni(pltest::PickFreePortPair(), "[Channels]\r\n");
  for (int i = 0; i < 256; ++i) ini += std::to_string(i) + "=Room " + std::to_string(i) + "\r\n";
  WriteFile(IniPath(), ini);
  EXPECT_EQ(RunToFailure(), 1);
  ExpectFatalLog(LogPath(), kFatalConfig);
}

TEST_F(StartupTest, RewriteIntoMissingDirectoryFails) {
  // sub/ does not exist: the file reads as missing, and the rewrite has nowhere to go.
  EXPECT_EQ(RunToFailure({"-INI=sub/plserver.ini"}), 1);
  ExpectFatalLog(LogPath(), kFatalConfig);
  EXPECT_FALSE(pltest::FileExists(program_dir_.File("sub")));
}

TEST_F(StartupTest, ReadOnlyLocationFailsOnlyWhenARewriteIsNeeded) {
  // The program directory is made read-only. Root ignores directory permissions, so when the
  // tests run as root the server runs as the unprivileged user "nobody" (dropped after fork,
  // before exec); that is the situation of a real operator, and unlike chattr +i or a read-only
  // mount it needs no file system support and leaves nothing behind when a test dies.
  const int port = pltest::PickFreePortPair();
  const std::string outdated =
      "[Version]\r\nServerVersion=v1.1.0\r\n[Networking]\r\nTCPPort=" + std::to_string(port) +
      "\r\n[Channels]\r\n0=Lobby\r\n";
  WriteFile(IniPath(), outdated);
  chmod(program_dir_.path().c_str(), 0555);

  EXPECT_EQ(RunToFailure({}, /*unprivileged=*/true), 1);
  ExpectFatalLog(LogPath(), kFatalConfig);
  EXPECT_EQ(ReadFile(IniPath()), outdated);
  EXPECT_EQ(pltest::DirectoryEntries(program_dir_.path()),
            (std::vector<std::string>{"plserver", "plserver.ini"}))
      << "a temporary was left behind";

  // The same file, brought up to date by hand, starts normally in the same place.
  chmod(program_dir_.path().c_str(), 0755);
  std::string current = outdated;
  current.replace(current.find("v1.1.0"), 6, "v1.2.0");
  WriteFile(IniPath(), current);
  chmod(program_dir_.path().c_str(), 0555);
  std::remove(LogPath().c_str());
  auto server = Spawn({}, /*unprivileged=*/true);
  EXPECT_TRUE(server->WaitForLogText(LogPath(), kStarted, 10s)) << server->Output();
  EXPECT_EQ(ReadFile(IniPath()), current);
  server->Signal(SIGKILL);
}

#ifdef PL_SOURCE_DIR
// A server started from a checkout (as scripts/run.sh starts it, the checkout its current
// directory) leaves nothing there that git would offer to commit: its log and its operator
// socket are ignored.
TEST_F(StartupTest, ARunFromTheCheckoutLeavesNothingForGit) {
  if (!pltest::FileExists("/usr/bin/git")) GTEST_SKIP() << "git is not installed";
  std::filesystem::copy_file(std::string(PL_SOURCE_DIR) + "/.gitignore",
                             work_dir_.File(".gitignore"));
  ASSERT_EQ(pltest::RunTool("/usr/bin/git", {"init", "-q", work_dir_.path()}).exit_code, 0);
  auto server = StartOnFreePorts([&](int port) { pltest::WriteFile(IniPath(), CurrentIni(port)); });
  ASSERT_TRUE(server);
  ASSERT_TRUE(OperatorClient::WaitUntilServed(work_dir_.File("plserver.sock")));
  pltest::ToolResult status = pltest::RunTool(
      "/usr/bin/git", {"-C", work_dir_.path(), "status", "--porcelain", "--untracked-files=all"});
  EXPECT_EQ(status.out, "?? .gitignore\n") << status.err;
}
#endif

}  // namespace
}  // namespace pltest
