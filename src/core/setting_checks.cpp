#include "core/setting_checks.h"

#include <algorithm>
#include <initializer_list>

#include "platform/ascii_case.h"

namespace core {
namespace {

struct OwnSection {
  const char* name;
  std::initializer_list<const char*> keys;
};

// Our own sections and every key they may hold.
const OwnSection kOwnSections[] = {
    {"Security",
     {"UdpFromAnyAddress", "LoginTimeout", "MaxPendingConnections", "MaxPendingPerAddress",
      "MaxClientsPerAddress", "AuthFailuresBeforeBan", "AuthBanSeconds", "MaxFramesPerSecond",
      "MaxVoicePacketsPerSecond", "MaxVoiceBytesPerSecond"}},
    {"Operator", {"Socket", "SocketMode", "MaxConnections"}},
    {"Logging", {"Events", "Format"}},
    {"Metrics", {"Listen"}},
};

}  // namespace

std::string CheckedReader::Text(const char* section, const char* key,
                                const std::string& default_value) const {
  return ini_.ReadString(section, key, default_value);
}

int32_t CheckedReader::Integer(const char* section, const char* key, int32_t default_value) const {
  if (!ini_.HasKey(section, key)) return default_value;
  std::string read = ini_.ReadString(section, key, "");
  std::optional<int32_t> value = plat::ParseIniInteger(read);
  if (value) return *value;
  warnings_.push_back(
      {section, key, read, std::to_string(default_value), "not an integer; the default is used"});
  return default_value;
}

bool CheckedReader::Bool(const char* section, const char* key, bool default_value) const {
  return Integer(section, key, default_value ? 1 : 0) != 0;
}

int32_t CheckedReader::Ranged(const char* section, const char* key, int32_t default_value,
                              int32_t lo, int32_t hi) const {
  int32_t value = Integer(section, key, default_value);
  int32_t limited = std::clamp(value, lo, hi);
  if (limited != value) {
    warnings_.push_back({section, key, ini_.ReadString(section, key, ""), std::to_string(limited),
                         "outside " + std::to_string(lo) + ".." + std::to_string(hi)});
  }
  return limited;
}

void CheckedReader::WarnKept(const char* section, const char* key, int32_t value,
                             std::string reason) const {
  warnings_.push_back(
      {section, key, ini_.ReadString(section, key, ""), std::to_string(value), std::move(reason)});
}

void CheckUnknownKeys(const plat::IniFile& ini, SettingWarnings& warnings) {
  for (const OwnSection& section : kOwnSections) {
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
}

}  // namespace core
