// Warnings about the values read: each names section, key, value read and value used; values
// the rules keep and clean values give none.
#include "core/setting_checks.h"

#include <gtest/gtest.h>

#include "core/configuration.h"

namespace core {
namespace {

SettingWarnings Read(const std::string& text, Settings* out = nullptr) {
  plat::IniFile ini = plat::IniFile::Parse("test.ini", text);
  FileSettings read = ReadFileSettings(ini, Settings());
  if (out) *out = read.settings;
  return read.warnings;
}

TEST(SettingChecksTest, CleanValuesAndHexadecimalGiveNoWarning) {
  Settings settings;
  EXPECT_TRUE(
      Read("[General]\nMaxClients=0x20\n[Networking]\nTCPPort=$2000\n[Security]\n"
           "loginTIMEOUT=30\n[Logging]\nFormat=JSON\nEvents=0\n[metrics]\nlisten=127.0.0.1:9766\n",
           &settings)
          .empty());
  EXPECT_EQ(settings.MaxClients, 32);
  EXPECT_EQ(settings.TCPPort, 0x2000);
  EXPECT_EQ(settings.LoginTimeoutMs, 30000);
  EXPECT_TRUE(settings.LogFormatJson);
  EXPECT_FALSE(settings.LogEvents);
  EXPECT_EQ(settings.MetricsListen, "127.0.0.1:9766");
}

TEST(SettingChecksTest, EachBadValueIsNamedWithWhatIsUsed) {
  struct Case {
    std::string text, section, key, read, used;
  };
  const Case cases[] = {
      {"[Networking]\nTCPPort=abc\n", "Networking", "TCPPort", "abc", "8765"},
      {"[Networking]\nTCPPort=70000\n", "Networking", "TCPPort", "70000", "70000"},
      {"[General]\nMaxClients=-5\n", "General", "MaxClients", "-5", "-5"},
      {"[General]\nMaxClients=99999999999\n", "General", "MaxClients", "99999999999", "16"},
      {"[Ping]\nPingWaitTime=-1\n", "Ping", "PingWaitTime", "-1", "-1"},
      {"[WebStatus]\nActive=on\n", "WebStatus", "Active", "on", "0"},
      {"[Security]\nLoginTimeout=4000\n", "Security", "LoginTimeout", "4000", "3600"},
      {"[Security]\nAuthBanSeconds=0\n", "Security", "AuthBanSeconds", "0", "1"},
      {"[Security]\nMaxPendingConnections=0\n", "Security", "MaxPendingConnections", "0", "1"},
      {"[Security]\nMaxVoiceBytesPerSecond=-9\n", "Security", "MaxVoiceBytesPerSecond", "-9", "0"},
      {"[Security]\nBanTime=5\n", "Security", "BanTime", "5", ""},
      {"[Operator]\nSockets=x\n", "Operator", "Sockets", "x", ""},
      {"[Operator]\nSocketMode=0666\n", "Operator", "SocketMode", "0666", "0600"},
      {"[Operator]\nMaxConnections=0\n", "Operator", "MaxConnections", "0", "1"},
      {"[Logging]\nFormat=yaml\n", "Logging", "Format", "yaml", "text"},
      {"[Metrics]\nListen=localhost:9766\n", "Metrics", "Listen", "localhost:9766", ""},
      {"[Metrics]\nListen=127.0.0.1:70000\n", "Metrics", "Listen", "127.0.0.1:70000", ""},
      {"[Metrics]\nPort=9766\n", "Metrics", "Port", "9766", ""},
      {"[Web]\nListen=0.0.0.0\n", "Web", "Listen", "0.0.0.0", ""},
      {"[Web]\nMaxStreams=0\n", "Web", "MaxStreams", "0", "1"},
      {"[Web]\nTheme=dark\n", "Web", "Theme", "dark", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SettingWarnings warnings = Read(c.text);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].section, c.section);
    EXPECT_EQ(warnings[0].key, c.key);
    EXPECT_EQ(warnings[0].read, c.read);
    EXPECT_EQ(warnings[0].used, c.used);
    EXPECT_FALSE(warnings[0].reason.empty());
  }
}

TEST(SettingChecksTest, ForeignSectionsAreNotChecked) {
  EXPECT_TRUE(Read("[Channels]\n0=Lobby\n[Vendor]\nAnything=1\n").empty());
}

}  // namespace
}  // namespace core
