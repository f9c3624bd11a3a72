// Reading settings with a word for the operator: every value the reading rules turn into
// something other than what was written (text that is no integer, a limit out of its range),
// every value kept although it cannot work (a negative MaxClients, a port outside 1..65534) and
// every unknown key in one of our own sections gives a warning that names the section, the key,
// the value read and the value used. The rules themselves stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ini_file.h"

namespace core {

struct SettingWarning {
  std::string section;
  std::string key;
  std::string read;  // the value as written in the file
  std::string used;  // the value in force ("" for an ignored key)
  std::string reason;
};
using SettingWarnings = std::vector<SettingWarning>;

// Reads values from one file and collects the warnings. Not thread-safe (start-up only).
class CheckedReader {
 public:
  CheckedReader(const plat::IniFile& ini, SettingWarnings& warnings)
      : ini_(ini), warnings_(warnings) {}

  std::string Text(const char* section, const char* key, const std::string& default_value) const;
  // The file's integer rules; text that is no 32-bit integer gives the default and a warning.
  int32_t Integer(const char* section, const char* key, int32_t default_value) const;
  bool Bool(const char* section, const char* key, bool default_value) const;
  // Integer, then limited to lo..hi; a value moved into the range gives a warning.
  int32_t Ranged(const char* section, const char* key, int32_t default_value, int32_t lo,
                 int32_t hi) const;
  // A warning about a value that is used as read but cannot work as meant.
  void WarnKept(const char* section, const char* key, int32_t value, std::string reason) const;
  void Warn(SettingWarning warning) const { warnings_.push_back(std::move(warning)); }

 private:
  const plat::IniFile& ini_;
  SettingWarnings& warnings_;
};

// One warning per key of [Security], [Operator], [Logging] or [Metrics] that this server does
// not know (a misspelt key would otherwise be silently without effect).
void CheckUnknownKeys(const plat::IniFile& ini, SettingWarnings& warnings);

}  // namespace core
