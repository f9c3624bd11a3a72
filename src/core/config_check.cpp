#include "core/config_check.h"

#include "core/ban_book.h"
#include "core/configuration.h"
#include "platform/clock.h"
#include "platform/endpoint.h"
#include "platform/files.h"
#include "platform/interfaces.h"
#include "wire/global_types.h"

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

void ReportSettings(const FileSettings& read, std::string& out) {
  const Settings& s = read.settings;
  out += "[Passwords]\n";
  Line(out, "ServerPassword", SetOrEmpty(read.server_password));
  Line(out, "AdminPassword",
       read.admin_password == kDefaultAdminPassword ? "set (the well-known default)"
                                                    : SetOrEmpty(read.admin_password));
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
  for (size_t i = 0; i < read.rooms.size(); ++i)
    Line(out, std::to_string(i).c_str(), QuoteForLine(read.rooms[i]));
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
  Line(out, "MaxLoginsPerAddress", std::to_string(s.MaxLoginsPerAddress));
  Line(out, "MaxBroadcastFramesPerAddress", std::to_string(s.MaxBroadcastFramesPerAddress));
  out += "[Operator]\n";
  Line(out, "Socket", QuoteForLine(s.OperatorSocket));
  Line(out, "SocketMode", s.OperatorSocketMode == 0660 ? "0660" : "0600");
  Line(out, "MaxConnections", std::to_string(s.OperatorMaxConnections));
  out += "[Logging]\n";
  Line(out, "Events", Flag(s.LogEvents));
  Line(out, "Format", s.LogFormatJson ? "json" : "text");
  Line(out, "File", s.EventFile.empty() ? "(none)" : QuoteForLine(s.EventFile));
  out += "[Metrics]\n";
  Line(out, "Listen", s.MetricsListen.empty() ? "(off)" : s.MetricsListen);
  out += "[Web]\n";
  Line(out, "Listen", s.WebListen.empty() ? "(off)" : s.WebListen);
  Line(out, "ShowPlayers", Flag(s.WebShowPlayers));
  Line(out, "MaxStreams", std::to_string(s.WebMaxStreams));
  Line(out, "MaxStreamsPerAddress", std::to_string(s.WebMaxStreamsPerAddress));
  out += "[Voice]\n";
  Line(out, "DSCP", s.VoiceDscp == 0 ? "0 (unmarked)" : std::to_string(s.VoiceDscp));
}

// What would end start-up although the reading rules take the file.
void CheckStartUp(const plat::IniFile& ini, const FileSettings& read, SettingWarnings& problems) {
  const Settings& s = read.settings;
  if (!s.IP.empty()) {
    const std::optional<plat::IpAddress> address = plat::ParseIpAddress(s.IP);
    if (!address) {
      problems.push_back({"Networking", "IP", s.IP, s.IP,
                          "not an IPv4 or IPv6 address (a.b.c.d or 2001:db8::1, no port): the "
                          "server cannot start"});
    } else if (plat::IsAddressOfThisMachine(*address) == false) {
      problems.push_back(
          {"Networking", "IP", s.IP, s.IP, "no address of this machine: the server cannot start"});
    }
  }
  if (read.rooms.size() > static_cast<size_t>(wire::kMaxNumbers)) {
    problems.push_back({"Channels", std::to_string(wire::kMaxNumbers),
                        ini.ReadString("Channels", std::to_string(wire::kMaxNumbers), ""), "",
                        "more rooms than the server holds (" + std::to_string(wire::kMaxNumbers) +
                            "): the server cannot start"});
  }
  const std::string version = ini.ReadString("Version", "ServerVersion", "");
  if (version != kServerVersion) {
    if (plat::Status writable = plat::CheckReplaceable(s.ConfigurationPath()); !writable.ok())
      problems.push_back({"Version", "ServerVersion", version, kServerVersion,
                          "start-up must bring the file up to version " +
                              std::string(kServerVersion) +
                              " and cannot write it: " + writable.message()});
  }
}

}  // namespace

SettingWarnings ConfigurationProblems(const plat::IniFile& ini, const FileSettings& read) {
  SettingWarnings problems = read.warnings;
  CheckFileAsWritten(ini, read.rooms_in_file, problems);
  for (const std::string& key : ini.KeysOf(kBansSection)) {
    const std::string value = ini.ReadString(kBansSection, key, "");
    if (!BanBook::ParseEntry(key, value))
      problems.push_back({kBansSection, key, value, "", kNotABan});
  }
  CheckStartUp(ini, read, problems);
  return problems;
}

EventLine SettingWarningLine(const SettingWarning& warning) {
  EventLine line(EventLevel::kWarning, "setting");
  line.Word("section", warning.section).Text("key", warning.key).Text("value", warning.read);
  line.Text("used", warning.used).Text("reason", warning.reason);
  if (warning.line != 0) line.Number("line", static_cast<int64_t>(warning.line));
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
  const FileSettings read = ReadFileSettings(ini, settings);
  const SettingWarnings warnings = ConfigurationProblems(ini, read);
  out += "configuration file " + QuoteForLine(path) + "\n";
  if (ini.ReadString("Version", "ServerVersion", "") != kServerVersion)
    out += "note: start-up will bring the file up to version " + std::string(kServerVersion) + "\n";
  ReportSettings(read, out);
  const plat::LocalDateTime now = plat::NowLocal();
  for (const SettingWarning& warning : warnings) out += SettingWarningLine(warning).FormatText(now);
  size_t count = warnings.size();
  if (read.admin_password == kDefaultAdminPassword) {
    out += DefaultAdminPasswordLine().FormatText(now);
    ++count;
  }
  out += count == 0 ? "no warnings\n" : std::to_string(count) + " warning(s)\n";
  return count == 0 ? 0 : 1;
}

}  // namespace core
