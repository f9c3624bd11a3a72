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
  settings.MaxLoginsPerAddress =
      ReadLimit(read, "MaxLoginsPerAddress", settings.MaxLoginsPerAddress, 1000000);
  settings.MaxBroadcastFramesPerAddress = ReadLimit(read, "MaxBroadcastFramesPerAddress",
                                                    settings.MaxBroadcastFramesPerAddress, 1000000);
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
  read.Record("Logging", "Format", lower);
  settings.EventFile = read.Text("Logging", "File", "");
  std::string listen = read.Text("Metrics", "Listen", "");
  if (!listen.empty() && !plat::ParseEndpoint(listen)) {
    read.Warn({"Metrics", "Listen", listen, "",
               "not an address and port (a.b.c.d:port or [IPv6]:port); no metrics"});
    listen.clear();
  }
  settings.MetricsListen = listen;
  read.Record("Metrics", "Listen", listen);
}

void ReadVoice(const CheckedReader& read, Settings& settings) {
  settings.VoiceDscp = read.Ranged("Voice", "DSCP", settings.VoiceDscp, 0, 63);
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
  read.Record("Operator", "SocketMode", settings.OperatorSocketMode == 0660 ? "0660" : "0600");
}

void ReadWeb(const CheckedReader& read, Settings& settings) {
  std::string listen = read.Text("Web", "Listen", "");
  if (!listen.empty() && !plat::ParseEndpoint(listen)) {
    read.Warn({"Web", "Listen", listen, "",
               "not an address and port (a.b.c.d:port or [IPv6]:port); no web view"});
    listen.clear();
  }
  settings.WebListen = listen;
  read.Record("Web", "Listen", listen);
  settings.WebShowPlayers = read.Bool("Web", "ShowPlayers", settings.WebShowPlayers);
  // Each stream holds a thread and a descriptor while it is open.
  settings.WebMaxStreams = read.Ranged("Web", "MaxStreams", settings.WebMaxStreams, 1, 1024);
  settings.WebMaxStreamsPerAddress =
      read.Ranged("Web", "MaxStreamsPerAddress", settings.WebMaxStreamsPerAddress, 1, 1024);
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

std::vector<std::string> RoomNamesIn(const plat::IniFile& ini) {
  std::vector<std::string> names;
  for (int i = 0;; ++i) {
    std::string name = ini.ReadString("Channels", std::to_string(i), "");
    if (name.empty()) break;
    names.push_back(name);
  }
  return names;
}

}  // namespace

FileSettings ReadFileSettings(const plat::IniFile& ini, const Settings& base) {
  FileSettings read;
  read.settings = base;
  Settings& settings = read.settings;
  CheckedReader reader(ini, read.warnings, read.values);
  read.server_password = reader.Secret("Passwords", "ServerPassword", "");
  read.admin_password = reader.Secret("Passwords", "AdminPassword", kDefaultAdminPassword);
  settings.Servername = reader.Text("General", "Servername", settings.Servername);
  settings.MaxClients = reader.Integer("General", "MaxClients", settings.MaxClients);
  settings.TCPPort = reader.Integer("Networking", "TCPPort", settings.TCPPort);
  settings.IP = reader.Text("Networking", "IP", "");
  settings.MaxPingTries = reader.Integer("Ping", "MaxPingTries", settings.MaxPingTries);
  settings.PingWaitTime = reader.Integer("Ping", "PingWaitTime", settings.PingWaitTime);
  settings.IdleTimeBeforePing =
      reader.Integer("Ping", "IdleTimeBeforePing", settings.IdleTimeBeforePing);
  settings.WebStatusActive = reader.Bool("WebStatus", "Active", settings.WebStatusActive);
  settings.ParlowindSite_Active =
      reader.Bool("WebStatus", "ParlowindSite_Active", settings.ParlowindSite_Active);
  settings.ParlowindSite_DisplayInWebList = reader.Bool(
      "WebStatus", "ParlowindSite_DisplayInWebList", settings.ParlowindSite_DisplayInWebList);
  settings.WebPostURL =
      NormaliseWebPostUrl(reader.Text("WebStatus", "WebPostURL", settings.WebPostURL));
  reader.Record("WebStatus", "WebPostURL", settings.WebPostURL);
  CheckKeptValues(reader, settings);
  // Our own settings; the version rewrite leaves these sections alone.
  ReadAbuseLimits(reader, settings);
  ReadObservability(reader, settings);
  ReadOperator(reader, settings);
  ReadWeb(reader, settings);
  ReadVoice(reader, settings);
  CheckUnknownKeys(ini, read.warnings);
  read.rooms = RoomNamesIn(ini);
  read.rooms_in_file = read.rooms.size();
  // The room names get the same word as every text; the rooms' changes are told apart by the
  // names themselves, not as keys.
  SettingValues not_recorded;
  CheckedReader room_reader(ini, read.warnings, not_recorded);
  for (size_t i = 0; i < read.rooms_in_file; ++i)
    room_reader.Text("Channels", std::to_string(i).c_str(), "");
  if (read.rooms.empty()) read.rooms.push_back("Default");
  return read;
}

namespace {

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

FileSettings ReadConfiguration(Settings& settings, PasswordStore& passwords,
                               clients::RoomList& rooms) {
  std::string error;
  std::optional<plat::IniFile> ini = plat::IniFile::Open(settings.ConfigurationPath(), &error);
  if (!ini) throw ConfigurationError(error);
  FileSettings read = ReadFileSettings(*ini, settings);
  settings = read.settings;
  passwords.SetServerPassword(read.server_password);
  passwords.SetAdminPassword(read.admin_password);
  for (const std::string& name : read.rooms) rooms.CreateRoom(name);
  if (ini->ReadString("Version", "ServerVersion", "") != settings.ServerVersion) {
    RewriteForCurrentVersion(*ini, settings, passwords);
  }
  int64_t udp_port = static_cast<int64_t>(settings.TCPPort) + 1;
  if (udp_port > std::numeric_limits<int32_t>::max())
    throw ConfigurationError("TCPPort + 1 overflows");
  settings.UdpPort = static_cast<int32_t>(udp_port);
  read.settings = settings;
  return read;
}

}  // namespace core
