#include "core/config_check.h"

#include "core/configuration.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace core {
namespace {

std::string SetOrEmpty(const std::string& password) {
  return password.empty() ? "empty" : "set";
}

std::string Flag(bool value) {
  return value ? "1" : "0";
}

void Line(std::string& out, const char* key, const std::string& value) {
  out += "  ";
  out += key;
  out += " = ";
  out += value;
  out += '\n';
}

void ReportSettings(const Settings& s, const PasswordStore& passwords,
                    const std::vector<std::string>& rooms, std::string& out) {
  out += "[Passwords]\n";
  Line(out, "ServerPassword", SetOrEmpty(passwords.ServerPassword()));
  Line(out, "AdminPassword",
       passwords.AdminPassword() == kDefaultAdminPassword ? "set (the well-known default)"
                                                          : SetOrEmpty(passwords.AdminPassword()));
  out += "[General]\n";
  Line(out, "Servername", QuoteForLine(s.Servername));
  Line(out, "MaxClients", std::to_string(s.MaxClients));
  out += "[Networking]\n";
  Line(out, "TCPPort",
       std::to_string(s.TCPPort) + " (UDP " + std::to_string(s.TCPPort + 1LL) + ")");
  Line(out, "IP", s.IP.empty() ? "(all local addresses)" : QuoteForLine(s.IP));
  out += "[Ping]\n";
  Line(out, "MaxPingTries", std::to_string(s.MaxPingTries));
  Line(out, "PingWaitTime", std::to_string(s.PingWaitTime));
  Line(out, "IdleTimeBeforePing", std::to_string(s.IdleTimeBeforePing));
  out += "[WebStatus]\n";
  Line(out, "Active", Flag(s.WebStatusActive));
  Line(out, "ParlowindSite_Active", Flag(s.ParlowindSite_Active));
  Line(out, "ParlowindSite_DisplayInWebList", Flag(s.ParlowindSite_DisplayInWebList));
  Line(out, "WebPostURL", QuoteForLine(s.WebPostURL));
  out += "[Channels]\n";
  for (size_t i = 0; i < rooms.size(); ++i)
    Line(out, std::to_string(i).c_str(), QuoteForLine(rooms[i]));
  out += "[Security]\n";
  Line(out, "UdpFromAnyAddress", Flag(s.UdpFromAnyAddress));
  Line(out, "LoginTimeout", std::to_string(s.LoginTimeoutMs / 1000));
  Line(out, "MaxPendingConnections", std::to_string(s.MaxPendingConnections));
  Line(out, "MaxPendingPerAddress", std::to_string(s.MaxPendingPerAddress));
  Line(out, "MaxClientsPerAddress", std::to_string(s.MaxClientsPerAddress));
  Line(out, "AuthFailuresBeforeBan", std::to_string(s.AuthFailuresBeforeBan));
  Line(out, "AuthBanSeconds", std::to_string(s.AuthBanSeconds));
  Line(out, "MaxFramesPerSecond", std::to_string(s.MaxFramesPerSecond));
  Line(out, "MaxVoicePacketsPerSecond", std::to_string(s.MaxVoicePacketsPerSecond));
  Line(out, "MaxVoiceBytesPerSecond", std::to_string(s.MaxVoiceBytesPerSecond));
  out += "[Operator]\n";
  Line(out, "Socket", QuoteForLine(s.OperatorSocket));
  Line(out, "SocketMode", s.OperatorSocketMode == 0660 ? "0660" : "0600");
  Line(out, "MaxConnections", std::to_string(s.OperatorMaxConnections));
  out += "[Logging]\n";
  Line(out, "Events", Flag(s.LogEvents));
  Line(out, "Format", s.LogFormatJson ? "json" : "text");
  out += "[Metrics]\n";
  Line(out, "Listen", s.MetricsListen.empty() ? "(off)" : s.MetricsListen);
}

}  // namespace

EventLine SettingWarningLine(const SettingWarning& warning) {
  EventLine line(EventLevel::kWarning, "setting");
  line.Word("section", warning.section).Text("key", warning.key).Text("value", warning.read);
  line.Text("used", warning.used).Text("reason", warning.reason);
  return line;
}

int CheckConfiguration(const StartupEnvironment& environment, std::string& out) {
  Settings settings;
  ReadCommandLine(environment.arguments, settings);
  settings.ProgramDir = plat::DirectoryOf(environment.program_file);
  if (settings.ProgramDir.empty()) settings.ProgramDir = "./";
  const std::string path = settings.ConfigurationPath();
  plat::FileContents contents = plat::ReadWholeFile(path);
  if (contents.status == plat::ReadStatus::kMissing) {
    out += "configuration file " + QuoteForLine(path) +
           " does not exist (start-up would create it with every setting at its default)\n";
    return 1;
  }
  if (contents.status != plat::ReadStatus::kOk) {
    out += "configuration file " + QuoteForLine(path) + " cannot be read: " + contents.error + "\n";
    return 1;
  }
  plat::IniFile ini = plat::IniFile::Parse(path, contents.bytes);
  PasswordStore passwords;
  SettingWarnings warnings = ReadSettingsFrom(ini, settings, passwords);
  out += "configuration file " + QuoteForLine(path) + "\n";
  if (ini.ReadString("Version", "ServerVersion", "") != kServerVersion)
    out += "note: start-up will bring the file up to version " + std::string(kServerVersion) + "\n";
  ReportSettings(settings, passwords, ConfiguredRoomNames(ini), out);
  const plat::LocalDateTime now = plat::NowLocal();
  for (const SettingWarning& warning : warnings) out += SettingWarningLine(warning).FormatText(now);
  size_t count = warnings.size();
  if (passwords.AdminPassword() == kDefaultAdminPassword) {
    out += DefaultAdminPasswordLine().FormatText(now);
    ++count;
  }
  out += count == 0 ? "no warnings\n" : std::to_string(count) + " warning(s)\n";
  return count == 0 ? 0 : 1;
}

}  // namespace core
