#include "core/configuration.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "platform/ini_file.h"

namespace core {
namespace {

// A limit of [Security] that cannot be negative (0 turns most of them off).
int32_t ReadLimit(const plat::IniFile& ini, const char* key, int32_t value) {
  return std::max(0, ini.ReadInteger("Security", key, value));
}

void ReadAbuseLimits(const plat::IniFile& ini, Settings& settings) {
  settings.MaxPendingPerAddress =
      ReadLimit(ini, "MaxPendingPerAddress", settings.MaxPendingPerAddress);
  settings.MaxClientsPerAddress =
      ReadLimit(ini, "MaxClientsPerAddress", settings.MaxClientsPerAddress);
  // Each tracked address keeps up to twice this many time stamps.
  settings.AuthFailuresBeforeBan =
      std::min(ReadLimit(ini, "AuthFailuresBeforeBan", settings.AuthFailuresBeforeBan), 1000);
  // At least a second, at most a day: a ban's end stays well inside the tick count's range.
  settings.AuthBanSeconds =
      std::clamp(ReadLimit(ini, "AuthBanSeconds", settings.AuthBanSeconds), 1, 86400);
  // Rates beyond these are no limit in practice; capped so the buckets' arithmetic cannot overflow.
  settings.MaxFramesPerSecond =
      std::min(ReadLimit(ini, "MaxFramesPerSecond", settings.MaxFramesPerSecond), 1000000);
  settings.MaxVoicePacketsPerSecond = std::min(
      ReadLimit(ini, "MaxVoicePacketsPerSecond", settings.MaxVoicePacketsPerSecond), 1000000);
  settings.MaxVoiceBytesPerSecond =
      ReadLimit(ini, "MaxVoiceBytesPerSecond", settings.MaxVoiceBytesPerSecond);
}

void ReadSettings(const plat::IniFile& ini, Settings& settings, PasswordStore& passwords) {
  passwords.SetServerPassword(ini.ReadString("Passwords", "ServerPassword", ""));
  passwords.SetAdminPassword(
      ini.ReadString("Passwords", "AdminPassword", passwords.AdminPassword()));
  settings.Servername = ini.ReadString("General", "Servername", settings.Servername);
  settings.MaxClients = ini.ReadInteger("General", "MaxClients", settings.MaxClients);
  settings.TCPPort = ini.ReadInteger("Networking", "TCPPort", settings.TCPPort);
  settings.IP = ini.ReadString("Networking", "IP", "");
  settings.MaxPingTries = ini.ReadInteger("Ping", "MaxPingTries", settings.MaxPingTries);
  settings.PingWaitTime = ini.ReadInteger("Ping", "PingWaitTime", settings.PingWaitTime);
  settings.IdleTimeBeforePing =
      ini.ReadInteger("Ping", "IdleTimeBeforePing", settings.IdleTimeBeforePing);
  settings.WebStatusActive = ini.ReadBool("WebStatus", "Active", settings.WebStatusActive);
  settings.ParlowindSite_Active =
      ini.ReadBool("WebStatus", "ParlowindSite_Active", settings.ParlowindSite_Active);
  settings.ParlowindSite_DisplayInWebList = ini.ReadBool(
      "WebStatus", "ParlowindSite_DisplayInWebList", settings.ParlowindSite_DisplayInWebList);
  settings.WebPostURL = ini.ReadString("WebStatus", "WebPostURL", settings.WebPostURL);
  settings.WebPostURL = NormaliseWebPostUrl(settings.WebPostURL);
  // Our own limits; the version rewrite leaves this section alone.
  settings.UdpFromAnyAddress =
      ini.ReadBool("Security", "UdpFromAnyAddress", settings.UdpFromAnyAddress);
  int32_t login_timeout_s =
      ini.ReadInteger("Security", "LoginTimeout", settings.LoginTimeoutMs / 1000);
  settings.LoginTimeoutMs = std::clamp(login_timeout_s, 1, 3600) * 1000;
  settings.MaxPendingConnections = std::max(
      1, ini.ReadInteger("Security", "MaxPendingConnections", settings.MaxPendingConnections));
  ReadAbuseLimits(ini, settings);
}

void CreateConfiguredRooms(const plat::IniFile& ini, clients::RoomList& rooms) {
  int created = 0;
  for (int i = 0;; ++i) {
    std::string name = ini.ReadString("Channels", std::to_string(i), "");
    if (name.empty()) break;
    rooms.CreateRoom(name);
    ++created;
  }
  if (created == 0) rooms.CreateRoom("Default");
}

void RewriteForCurrentVersion(plat::IniFile& ini, const Settings& settings,
                              const PasswordStore& passwords) {
  for (const char* section :
       {"Passwords", "Version", "General", "Networking", "Ping", "WebStatus"}) {
    ini.EraseSection(section);
  }
  ini.WriteString("Version", "ServerVersion", kServerVersion);
  // The password in force: a rewrite must not lock out or open up the next start.
  ini.WriteString("Passwords", "ServerPassword", passwords.ServerPassword());
  ini.WriteString("Passwords", "AdminPassword", passwords.AdminPassword());
  ini.WriteString("General", "Servername", settings.Servername);
  ini.WriteInteger("General", "MaxClients", settings.MaxClients);
  ini.WriteInteger("Networking", "TCPPort", settings.TCPPort);
  ini.WriteString("Networking", "IP", settings.IP);
  ini.WriteInteger("Ping", "MaxPingTries", settings.MaxPingTries);
  ini.WriteInteger("Ping", "PingWaitTime", settings.PingWaitTime);
  ini.WriteInteger("Ping", "IdleTimeBeforePing", settings.IdleTimeBeforePing);
  ini.WriteBool("WebStatus", "Active", settings.WebStatusActive);
  ini.WriteBool("WebStatus", "ParlowindSite_Active", settings.ParlowindSite_Active);
  ini.WriteBool("WebStatus", "ParlowindSite_DisplayInWebList",
                settings.ParlowindSite_DisplayInWebList);
  ini.WriteString("WebStatus", "WebPostURL", settings.WebPostURL);
  if (auto error = ini.Commit()) throw ConfigurationError(*error);
}

}  // namespace

std::string NormaliseWebPostUrl(const std::string& url) {
  if (url.empty()) return url;
  std::string upper = url;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper.find("HTTP://") == std::string::npos ? "http://" + url : url;
}

void ReadConfiguration(Settings& settings, PasswordStore& passwords, clients::RoomList& rooms) {
  std::string error;
  std::optional<plat::IniFile> ini = plat::IniFile::Open(settings.ConfigurationPath(), &error);
  if (!ini) throw ConfigurationError(error);
  ReadSettings(*ini, settings, passwords);
  CreateConfiguredRooms(*ini, rooms);
  if (ini->ReadString("Version", "ServerVersion", "") != settings.ServerVersion) {
    RewriteForCurrentVersion(*ini, settings, passwords);
  }
  int64_t udp_port = static_cast<int64_t>(settings.TCPPort) + 1;
  if (udp_port > std::numeric_limits<int32_t>::max())
    throw ConfigurationError("TCPPort + 1 overflows");
  settings.UdpPort = static_cast<int32_t>(udp_port);
}

}  // namespace core
