// ReadConfiguration against real files: the settings and rooms it reads, and when and how it
// brings a file up to the current version.
#include "core/configuration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "support/blackbox.h"

namespace {

using pltest::ReadFile;
using pltest::TempDir;
using pltest::WriteFile;

constexpr char kCurrentFileForDefaults[] =
    "[Version]\r\nServerVersion=v1.2.0\r\n"
    "[Passwords]\r\nServerPassword=\r\nAdminPassword=rivet\r\n"
    "[General]\r\nServername=Parlowind Server\r\nMaxClients=16\r\n"
    "[Networking]\r\nTCPPort=8765\r\nIP=\r\n"
    "[Ping]\r\nMaxPingTries=3\r\nPingWaitTime=15000\r\nIdleTimeBeforePing=5000\r\n"
    "[WebStatus]\r\nActive=0\r\nParlowindSite_Active=0\r\nParlowindSite_DisplayInWebList=0\r\n"
    "WebPostURL=\r\n";

class ReadConfigurationTest : public ::testing::Test {
 protected:
  ReadConfigurationTest() { settings_.ProgramDir = dir_.path() + "/"; }

  std::string IniPath() const { return settings_.ConfigurationPath(); }
  void Read() { core::ReadConfiguration(settings_, passwords_, rooms_); }

  std::vector<std::string> RoomNames() {
    std::vector<std::string> names;
    auto lock = rooms_.Acquire();
    for (const auto& room : rooms_.Entries(lock)) names.push_back(room->Name);
    return names;
  }

  TempDir dir_;
  core::Settings settings_;
  core::PasswordStore passwords_;
  clients::ClientList clients_;
  clients::RoomList rooms_{clients_};
};

TEST_F(ReadConfigurationTest, MissingFileIsCreatedWithEveryDefault) {
  Read();
  EXPECT_EQ(ReadFile(IniPath()), kCurrentFileForDefaults);
  EXPECT_EQ(RoomNames(), std::vector<std::string>{"Default"});
  EXPECT_EQ(settings_.UdpPort, 8766);
  EXPECT_EQ(passwords_.AdminPassword(), "rivet");
  EXPECT_EQ(passwords_.ServerPassword(), "");
}

TEST_F(ReadConfigurationTest, CurrentFileIsOnlyRead) {
  // Keys missing on purpose: they take their defaults and stay missing in the file.
  const std::string contents =
      "[Version]\nServerVersion=v1.2.0\n[General]\nMaxClients=0x20\nServername=Den\n"
      "[Networking]\nTCPPort=9000\n[WebStatus]\nActive=2\nWebPostURL=lists.example/post.php\n";
  WriteFile(IniPath(), contents);
  const long long mtime = pltest::ModificationTimeNs(IniPath());
  // A write within the file system's time resolution would not show in the mtime otherwise.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  Read();
  EXPECT_EQ(ReadFile(IniPath()), contents);
  EXPECT_EQ(pltest::ModificationTimeNs(IniPath()), mtime);
  EXPECT_EQ(pltest::DirectoryEntries(dir_.path()), std::vector<std::string>{"plserver.ini"});

  EXPECT_EQ(settings_.MaxClients, 32);
  EXPECT_EQ(settings_.Servername, "Den");
  EXPECT_EQ(settings_.TCPPort, 9000);
  EXPECT_EQ(settings_.UdpPort, 9001);
  EXPECT_TRUE(settings_.WebStatusActive);
  EXPECT_EQ(settings_.WebPostURL, "http://lists.example/post.php");
  EXPECT_EQ(settings_.MaxPingTries, 3);
  EXPECT_EQ(settings_.PingWaitTime, 15000);
  EXPECT_EQ(settings_.IdleTimeBeforePing, 5000);
  EXPECT_EQ(passwords_.AdminPassword(), "rivet");
}

TEST_F(ReadConfigurationTest, RoomsStopAtTheFirstEmptyName) {
  WriteFile(IniPath(), "[Version]\nServerVersion=v1.2.0\n[Channels]\n0=Lobby\n1=\n2=Music\n");
  Read();
  EXPECT_EQ(RoomNames(), std::vector<std::string>{"Lobby"});
}

TEST_F(ReadConfigurationTest, RoomsWithoutKeyZeroGiveDefault) {
  WriteFile(IniPath(), "[Version]\nServerVersion=v1.2.0\n[channels]\n1=Music\n2=Talk\n");
  Read();
  EXPECT_EQ(RoomNames(), std::vector<std::string>{"Default"});
}

TEST_F(ReadConfigurationTest, RoomsInKeyOrder) {
  WriteFile(IniPath(), "[Version]\nServerVersion=v1.2.0\n[Channels]\n1=Second\n0=First\n2=Third\n");
  Read();
  EXPECT_EQ(RoomNames(), (std::vector<std::string>{"First", "Second", "Third"}));
}

TEST_F(ReadConfigurationTest, AsManyRoomsAsTheRegistryHolds) {
  std::string contents = "[Version]\nServerVersion=v1.2.0\n[Channels]\n";
  for (int i = 0; i < 255; ++i) contents += std::to_string(i) + "=Room " + std::to_string(i) + "\n";
  WriteFile(IniPath(), contents);
  Read();
  EXPECT_EQ(RoomNames().size(), 255u);
}

TEST_F(ReadConfigurationTest, MoreRoomsThanTheRegistryHoldsFail) {
  std::string contents = "[Version]\nServerVersion=v1.2.0\n[Channels]\n";
  for (int i = 0; i < 256; ++i) contents += std::to_string(i) + "=Room " + std::to_string(i) + "\n";
  WriteFile(IniPath(), contents);
  EXPECT_ANY_THROW(Read());
}

TEST_F(ReadConfigurationTest, TcpPortWhoseSuccessorOverflowsFails) {
  WriteFile(IniPath(), "[Version]\nServerVersion=v1.2.0\n[Networking]\nTCPPort=2147483647\n");
  EXPECT_THROW(Read(), core::ConfigurationError);
}

TEST_F(ReadConfigurationTest, UnwritableRewriteFails) {
  // The directory of the file does not exist, so nothing can be renamed into it.
  settings_.IniFileName = "sub/plserver.ini";
  EXPECT_THROW(Read(), core::ConfigurationError);
}

TEST_F(ReadConfigurationTest, UnreadableFileFails) {
  settings_.IniFileName = "plserver.ini/";
  WriteFile(dir_.File("plserver.ini"), "[Version]\nServerVersion=v1.2.0\n");
  EXPECT_THROW(Read(), core::ConfigurationError);
}

// A UTF-16 file's text reaches the protocol as one byte per character (Windows-1252), and the
// version rewrite stores those bytes so that they read back the same.
TEST_F(ReadConfigurationTest, Utf16TextIsWindows1252ForTheProtocolAndSurvivesTheRewrite) {
  WriteFile(IniPath(), pltest::Utf16Le(u"[Version]\r\nServerVersion=v1.1\r\n"
                                       u"[Passwords]\r\nServerPassword=\u00e9t\u00e9\r\n"
                                       u"[General]\r\nServername=B\u00fchne Nord\r\n"
                                       u"[Channels]\r\n0=Caf\u00e9\r\n1=\u266b\r\n"));
  const core::SettingWarnings warnings =
      core::ReadConfiguration(settings_, passwords_, rooms_).warnings;
  EXPECT_EQ(settings_.Servername, "B\xFChne Nord");
  EXPECT_EQ(passwords_.ServerPassword(), "\xE9t\xE9");
  EXPECT_EQ(RoomNames(), (std::vector<std::string>{"Caf\xE9", "?"}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].section + " " + warnings[0].key + " " + warnings[0].used, "Channels 1 ?");
  const std::string rewritten = ReadFile(IniPath());
  EXPECT_EQ(rewritten.substr(0, 2), "\xFF\xFE");
  for (const std::u16string& line : {std::u16string(u"ServerPassword=\u00e9t\u00e9\r\n"),
                                     std::u16string(u"Servername=B\u00fchne Nord\r\n")})
    EXPECT_NE(rewritten.find(pltest::Utf16Le(line).substr(2)), std::string::npos);
}

class OutdatedVersionTest : public ReadConfigurationTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(OutdatedVersionTest, IsRewrittenWithValuesInForceAndForeignContentIntact) {
  const std::string version_line = GetParam();
  const std::string head = "; Parlowind server settings\r\n[Custom]\r\nanswer=42\r\n\r\n";
  const std::string channels = "[Channels]\r\n0=Lobby\r\n1=Music\r\n";
  WriteFile(IniPath(), head + "[Version]\r\n" + version_line +
                           "[Passwords]\r\nServerPassword=secret\r\n"
                           "AdminPassword=boss\r\n[General]\r\nMaxClients=0x20\r\nLegacyKey=1\r\n" +
                           channels +
                           "[WebStatus]\r\nActive=2\r\nWebPostURL=HTTP://lists.example\r\n");
  Read();
  EXPECT_EQ(ReadFile(IniPath()),
            head + channels +
                "[Version]\r\nServerVersion=v1.2.0\r\n"
                "[Passwords]\r\nServerPassword=secret\r\nAdminPassword=boss\r\n"
                "[General]\r\nServername=Parlowind Server\r\nMaxClients=32\r\n"
                "[Networking]\r\nTCPPort=8765\r\nIP=\r\n"
                "[Ping]\r\nMaxPingTries=3\r\nPingWaitTime=15000\r\nIdleTimeBeforePing=5000\r\n"
                "[WebStatus]\r\nActive=1\r\nParlowindSite_Active=0\r\n"
                "ParlowindSite_DisplayInWebList=0\r\nWebPostURL=HTTP://lists.example\r\n");
  EXPECT_EQ(RoomNames(), (std::vector<std::string>{"Lobby", "Music"}));
  EXPECT_EQ(passwords_.ServerPassword(), "secret");
  EXPECT_EQ(pltest::DirectoryEntries(dir_.path()), std::vector<std::string>{"plserver.ini"});
}

std::string VersionCaseName(const ::testing::TestParamInfo<const char*>& info) {
  static const char* const kNames[] = {"LetterCase", "Win32Suffix", "Older", "Missing"};
  return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(Versions, OutdatedVersionTest,
                         ::testing::Values("ServerVersion=V1.2.0\r\n",
                                           "ServerVersion=v1.2.0 Win32\r\n",
                                           "ServerVersion=v1.1.9\r\n", ""),
                         VersionCaseName);

TEST(WebPostUrl, GetsTheSchemeOnlyWhenItHasNone) {
  EXPECT_EQ(core::NormaliseWebPostUrl(""), "");
  EXPECT_EQ(core::NormaliseWebPostUrl("lists.example/webpost.php"),
            "http://lists.example/webpost.php");
  EXPECT_EQ(core::NormaliseWebPostUrl("http://lists.example/"), "http://lists.example/");
  EXPECT_EQ(core::NormaliseWebPostUrl("xHtTp://odd"), "xHtTp://odd");
  // Only the plain scheme counts.
  EXPECT_EQ(core::NormaliseWebPostUrl("https://lists.example/"), "http://https://lists.example/");
}

}  // namespace
