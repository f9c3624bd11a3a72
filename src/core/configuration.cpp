#include "core/configuration.h"

#include <algorithm>
#include <limits>

#include "platform/ascii_case.h"
#include "platform/endpoint.h"
#include "platform/ini_file.h"

namespace core {
namespace {

// A limit of [Security] that cannot be negative (0 turns most of them off).
int32_t ReadLimit(const CheckedReader& read, const char* key, int32_t value,
                  int32_t hi = std::numeric_limits<int32_t>::max()) {
  return read.Ranged("Security", key, value, 0, hi);
}

void ReadAbuseLimits(const CheckedReader& read, Settings& settings) {
  settings.UdpFromAnyAddress =
      read.Bool("Security", "UdpFromAnyAddress", settings.UdpFromAnyAddress);
  settings.LoginTimeoutMs =
      read.Ranged("Security", "LoginTimeout", settings.LoginTimeoutMs / 1000, 1, 3600) * 1000;
  settings.MaxPendingConnections =
      read.Ranged("Security", "MaxPendingConnections", settings.MaxPendingConnections, 1,
                  std::numeric_limits<int32_t>::max());
  settings.MaxPendingPerAddress =
      ReadLimit(read, "MaxPendingPerAddress", settings.MaxPendingPerAddress);
  settings.MaxClientsPerAddress =
      ReadLimit(read, "MaxClientsPerAddress", settings.MaxClientsPerAddress);
  // Each tracked address keeps up to twice this many time stamps.
  settings.AuthFailuresBeforeBan =
      ReadLimit(read, "AuthFailuresBeforeBan", settings.AuthFailuresBeforeBan, 1000);
  // At least a second, at most a day: a ban's end stays well inside the tick count's range.
  settings.AuthBanSeconds =
      read.Ranged("Security", "AuthBanSeconds", settings.AuthBanSeconds, 1, 86400);
  // Rates beyond these are no limit in practice; capped so the buckets' arithmetic cannot overflow.
  settings.MaxFramesPerSecond =
      ReadLimit(read, "MaxFramesPerSecond", settings.MaxFramesPerSecond, 1000000);
  settings.MaxVoicePacketsPerSecond =
      ReadLimit(read, "MaxVoicePacketsPerSecond", settings.MaxVoicePacketsPerSecond, 1000000);
  settings.MaxVoiceBytesPerSecond =
      ReadLimit(read, "MaxVoiceBytesPerSecond", settings.MaxVoiceBytesPerSecond);
}

void ReadObservability(const CheckedReader& read, Settings& settings) {
  settings.LogEvents = read.Bool("Logging", "Events", settings.LogEvents);
  std::string format = read.Text("Logging", "Format", "text");
  std::string lower = plat::AsciiLower(format);
  if (lower != "text" && lower != "json") {
    read.Warn({"Logging", "Format", format, "text", "neither text nor json"});
    lower = "text";
  }
  settings.LogFormatJson = lower == "json";
  std::string listen = read.Text("Metrics", "Listen", "");
  if (!listen.empty() && !plat::ParseEndpoint(listen)) {
    read.Warn({"Metrics", "Listen", listen, "", "not an IPv4 address and port; no metrics"});
    listen.clear();
  }
  settings.MetricsListen = listen;
}

void ReadOperator(const CheckedReader& read, Settings& settings) {
  settings.OperatorSocket = read.Text("Operator", "Socket", settings.OperatorSocket);
  settings.OperatorMaxConnections =
      read.Ranged("Operator", "MaxConnections", settings.OperatorMaxConnections, 1, 64);
  // Octal, as file modes are written; only the owner, or the owner and the group, may connect.
  const std::string mode = read.Text("Operator", "SocketMode", "0600");
  if (mode == "0660" || mode == "660") {
    settings.OperatorSocketMode = 0660;
  } else {
    settings.OperatorSocketMode = 0600;
    if (mode != "0600" && mode != "600")
      read.Warn({"Operator", "SocketMode", mode, "0600", "neither 0600 nor 0660"});
  }
}

// Values the rules keep although they cannot work as meant.
void CheckKeptValues(const CheckedReader& read, const Settings& settings) {
  if (settings.MaxClients < 0)
    read.WarnKept("General", "MaxClients", settings.MaxClients, "negative: no player can log in");
  if (settings.TCPPort < 1 || settings.TCPPort > 65534)
    read.WarnKept("Networking", "TCPPort", settings.TCPPort,
                  "no port pair (TCP 1..65534, UDP the next): the server cannot start");
  for (auto [key, value] : {std::pair{"MaxPingTries", settings.MaxPingTries},
                            std::pair{"PingWaitTime", settings.PingWaitTime},
                            std::pair{"IdleTimeBeforePing", settings.IdleTimeBeforePing}}) {
    if (value < 0) read.WarnKept("Ping", key, value, "negative");
  }
}

}  // namespace

SettingWarnings ReadSettingsFrom(const plat::IniFile& ini, Settings& settings,
                                 PasswordStore& passwords) {
  SettingWarnings warnings;
  CheckedReader read(ini, warnings);
  passwords.SetServerPassword(ini.ReadString("Passwords", "ServerPassword", ""));
  passwords.SetAdminPassword(
      ini.ReadString("Passwords", "AdminPassword", passwords.AdminPassword()));
  settings.Servername = read.Text("General", "Servername", settings.Servername);
  settings.MaxClients = read.Integer("General", "MaxClients", settings.MaxClients);
  settings.TCPPort = read.Integer("Networking", "TCPPort", settings.TCPPort);
  settings.IP = read.Text("Networking", "IP", "");
  settings.MaxPingTries = read.Integer("Ping", "MaxPingTries", settings.MaxPingTries);
  settings.PingWaitTime = read.Integer("Ping", "PingWaitTime", settings.PingWaitTime);
  settings.IdleTimeBeforePing =
      read.Integer("Ping", "IdleTimeBeforePing", settings.IdleTimeBeforePing);
  settings.WebStatusActive = read.Bool("WebStatus", "Active", settings.WebStatusActive);
  settings.ParlowindSite_Active =
      read.Bool("WebStatus", "ParlowindSite_Active", settings.ParlowindSite_Active);
  settings.ParlowindSite_DisplayInWebList = read.Bool("WebStatus", "ParlowindSite_DisplayInWebList",
                                                      settings.ParlowindSite_DisplayInWebList);
  settings.WebPostURL = read.Text("WebStatus", "WebPostURL", settings.WebPostURL);
  settings.WebPostURL = NormaliseWebPostUrl(settings.WebPostURL);
  CheckKeptValues(read, settings);
  // Our own settings; the version rewrite leaves these sections alone.
  ReadAbuseLimits(read, settings);
  ReadObservability(read, settings);
  ReadOperator(read, settings);
  CheckUnknownKeys(ini, warnings);
  return warnings;
}

std::vector<std::string> ConfiguredRoomNames(const plat::IniFile& ini) {
  std::vector<std::string> names;
  for (int i = 0;; ++i) {
    std::string name = ini.ReadString("Channels", std::to_string(i), "");
    if (name.empty()) break;
    names.push_back(name);
  }
  if (names.empty()) names.push_back("Default");
  return names;
}

namespace {

void CreateConfiguredRooms(const plat::IniFile& ini, clients::RoomList& rooms) {
  for (const std::string& name : ConfiguredRoomNames(ini)) rooms.CreateRoom(name);
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
  if (plat::Status status = ini.Commit(); !status.ok()) throw ConfigurationError(status.message());
}

}  // namespace

std::string NormaliseWebPostUrl(const std::string& url) {
  if (url.empty()) return url;
  return plat::AsciiUpper(url).find("HTTP://") == std::string::npos ? "http://" + url : url;
}

void ReadConfiguration(Settings& settings, PasswordStore& passwords, clients::RoomList& rooms,
                       SettingWarnings* warnings) {
  std::string error;
  std::optional<plat::IniFile> ini = plat::IniFile::Open(settings.ConfigurationPath(), &error);
  if (!ini) throw ConfigurationError(error);
  SettingWarnings found = ReadSettingsFrom(*ini, settings, passwords);
  if (warnings) *warnings = std::move(found);
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
