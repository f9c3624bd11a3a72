#include "core/setting_checks.h"

#include <algorithm>
#include <initializer_list>

#include "platform/ascii_case.h"

namespace core {
namespace {

struct KnownSection {
  const char* name;
  std::initializer_list<const char*> keys;
};

// Our own sections and every key they may hold.
const KnownSection kOwnSections[] = {
    {"Security",
     {"UdpFromAnyAddress", "LoginTimeout", "MaxPendingConnections", "MaxPendingPerAddress",
      "MaxClientsPerAddress", "AuthFailuresBeforeBan", "AuthBanSeconds", "MaxFramesPerSecond",
      "MaxVoicePacketsPerSecond", "MaxVoiceBytesPerSecond", "MaxLoginsPerAddress",
      "MaxBroadcastFramesPerAddress"}},
    {"Operator", {"Socket", "SocketMode", "MaxConnections"}},
    {"Logging", {"Events", "Format", "File"}},
    {"Metrics", {"Listen"}},
    {"Web", {"Listen", "ShowPlayers", "MaxStreams", "MaxStreamsPerAddress"}},
    {"Voice", {"DSCP"}},
};

// The sections the server has always had, with fixed keys. ([Channels] and [Bans] name their
// keys after rooms and addresses.)
const KnownSection kClassicSections[] = {
    {"Version", {"ServerVersion"}},
    {"Passwords", {"ServerPassword", "AdminPassword"}},
    {"General", {"Servername", "MaxClients"}},
    {"Networking", {"TCPPort", "IP"}},
    {"Ping", {"MaxPingTries", "PingWaitTime", "IdleTimeBeforePing"}},
    {"WebStatus",
     {"Active", "ParlowindSite_Active", "ParlowindSite_DisplayInWebList", "WebPostURL"}},
};

void WarnUnknownKeys(const plat::IniFile& ini, const KnownSection& section,
                     SettingWarnings& warnings) {
  for (const std::string& key : ini.KeysOf(section.name)) {
    bool known = std::any_of(section.keys.begin(), section.keys.end(), [&](const char* name) {
      return plat::EqualsIgnoringAsciiCase(key, name);
    });
    if (!known) {
      warnings.push_back(
          {section.name, key, ini.ReadString(section.name, key, ""), "", "unknown key; ignored"});
    }
  }
}

std::string OddityReason(const plat::IniFile::Oddity& oddity) {
  using Kind = plat::IniFile::Oddity::Kind;
  const std::string owner = oddity.section.empty() ? "no section" : "[" + oddity.section + "]";
  switch (oddity.kind) {
    case Kind::kUnclosedHeader:
      return "a section header without its closing ']'; the line is skipped and the keys below "
             "it belong to " +
             owner;
    case Kind::kNotAKey:
      return "neither a key (name=value), a comment (;) nor a section header; skipped";
    case Kind::kKeyOutsideSection:
      return "a key above the first section header; never read";
    case Kind::kRepeatedSection:
      return "the section's second header; only the keys under its first are read";
    case Kind::kRepeatedKey:
      return "the key's second line in its section; only the first is read";
  }
  return "";
}

bool IsRoomNumber(const std::string& key, size_t* number) {
  if (key.empty() || key.size() > 4 ||
      !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  *number = std::stoul(key);
  // The list reads "0", "1", ...: "01" is never asked for.
  return std::to_string(*number) == key;
}

}  // namespace

namespace {

constexpr char kInexactReason[] = "characters that Windows-1252 lacks are read as ?";

}  // namespace

std::string CheckedReader::Text(const char* section, const char* key,
                                const std::string& default_value) const {
  std::string value = ini_.ReadString(section, key, default_value);
  if (std::optional<std::string> written = ini_.InexactValue(section, key))
    warnings_.push_back({section, key, *written, value, kInexactReason});
  Record(section, key, value);
  return value;
}

std::string CheckedReader::Secret(const char* section, const char* key,
                                  const std::string& default_value) const {
  if (ini_.InexactValue(section, key)) warnings_.push_back({section, key, "", "", kInexactReason});
  std::string value = ini_.ReadString(section, key, default_value);
  Record(section, key, value);
  return value;
}

int32_t CheckedReader::Integer(const char* section, const char* key, int32_t default_value) const {
  int32_t value = default_value;
  if (ini_.HasKey(section, key)) {
    std::string read = ini_.ReadString(section, key, "");
    if (std::optional<int32_t> parsed = plat::ParseIniInteger(read)) {
      value = *parsed;
    } else {
      warnings_.push_back({section, key, read, std::to_string(default_value),
                           "not an integer; the default is used"});
    }
  }
  Record(section, key, std::to_string(value));
  return value;
}

bool CheckedReader::Bool(const char* section, const char* key, bool default_value) const {
  const bool value = Integer(section, key, default_value ? 1 : 0) != 0;
  Record(section, key, value ? "1" : "0");
  return value;
}

int32_t CheckedReader::Ranged(const char* section, const char* key, int32_t default_value,
                              int32_t lo, int32_t hi) const {
  int32_t value = Integer(section, key, default_value);
  int32_t limited = std::clamp(value, lo, hi);
  if (limited != value) {
    warnings_.push_back({section, key, ini_.ReadString(section, key, ""), std::to_string(limited),
                         "outside " + std::to_string(lo) + ".." + std::to_string(hi)});
    Record(section, key, std::to_string(limited));
  }
  return limited;
}

void CheckedReader::WarnKept(const char* section, const char* key, int32_t value,
                             std::string reason) const {
  warnings_.push_back(
      {section, key, ini_.ReadString(section, key, ""), std::to_string(value), std::move(reason)});
}

void CheckedReader::Record(const char* section, const char* key, std::string used) const {
  values_[std::string(section) + "." + key] = std::move(used);
}

void CheckUnknownKeys(const plat::IniFile& ini, SettingWarnings& warnings) {
  for (const KnownSection& section : kOwnSections) WarnUnknownKeys(ini, section, warnings);
}

void CheckFileAsWritten(const plat::IniFile& ini, size_t rooms_read, SettingWarnings& warnings) {
  const size_t first = warnings.size();
  for (const plat::IniFile::Oddity& oddity : ini.Oddities()) {
    SettingWarning warning{oddity.section, oddity.key, oddity.text, "", OddityReason(oddity)};
    warning.line = oddity.line;
    warnings.push_back(std::move(warning));
  }
  for (const KnownSection& section : kClassicSections) WarnUnknownKeys(ini, section, warnings);
  // A line of [Passwords] that is read wrongly may well hold a password: it is named, never
  // shown.
  for (size_t i = first; i < warnings.size(); ++i) {
    if (plat::EqualsIgnoringAsciiCase(warnings[i].section, "Passwords"))
      warnings[i].read = "(not shown)";
  }
  for (const std::string& key : ini.KeysOf("Channels")) {
    size_t number = 0;
    if (IsRoomNumber(key, &number) && number < rooms_read) continue;
    // An empty name only ends the list.
    if (ini.ReadString("Channels", key, "").empty()) continue;
    warnings.push_back({"Channels", key, ini.ReadString("Channels", key, ""), "",
                        IsRoomNumber(key, &number)
                            ? "never read: the room list stops at the first missing or empty "
                              "number"
                            : "not a room number (0, 1, 2, ...); ignored"});
  }
}

}  // namespace core
