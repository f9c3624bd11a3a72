// Reading settings with a word for the operator: every value the reading rules turn into
// something other than what was written (text that is no integer, a limit out of its range),
// every value kept although it cannot work (a negative MaxClients, a port outside 1..65534) and
// every unknown key in one of our own sections gives a warning that names the section, the key,
// the value read and the value used. The rules themselves stay as they are.
//
// Beside the warnings of the reading, the check of a file (--check-config, and a reload, which
// refuses a file the check does not pass) points out what a hand edit gets wrong without the
// reading rules complaining: lines they pass over, keys no section knows, rooms that are never
// read, and what would stop start-up.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ini_file.h"

namespace core {

struct SettingWarning {
  std::string section;
  std::string key;
  std::string read;  // the value as written in the file (the line, for a line's warning)
  std::string used;  // the value in force ("" for an ignored key)
  std::string reason;
  size_t line = 0;  // the line of the file it is about; 0: none in particular
};
using SettingWarnings = std::vector<SettingWarning>;

// Each key read, as "Section.Key", with the value in force: what a reload compares to say which
// settings it changed.
using SettingValues = std::map<std::string, std::string>;

// Reads values from one file, collects the warnings and records the values used. Not
// thread-safe.
class CheckedReader {
 public:
  CheckedReader(const plat::IniFile& ini, SettingWarnings& warnings, SettingValues& values)
      : ini_(ini), warnings_(warnings), values_(values) {}

  // Text; from a UTF-16 file, characters that Windows-1252 lacks are read as "?" with a warning.
  std::string Text(const char* section, const char* key, const std::string& default_value) const;
  // The same for a password: its warning shows neither the value read nor the value used.
  std::string Secret(const char* section, const char* key, const std::string& default_value) const;
  // The file's integer rules; text that is no 32-bit integer gives the default and a warning.
  int32_t Integer(const char* section, const char* key, int32_t default_value) const;
  bool Bool(const char* section, const char* key, bool default_value) const;
  // Integer, then limited to lo..hi; a value moved into the range gives a warning.
  int32_t Ranged(const char* section, const char* key, int32_t default_value, int32_t lo,
                 int32_t hi) const;
  // A warning about a value that is used as read but cannot work as meant.
  void WarnKept(const char* section, const char* key, int32_t value, std::string reason) const;
  void Warn(SettingWarning warning) const { warnings_.push_back(std::move(warning)); }
  // The value in force when it is not the one read (a text made into one of its forms).
  void Record(const char* section, const char* key, std::string used) const;

 private:
  const plat::IniFile& ini_;
  SettingWarnings& warnings_;
  SettingValues& values_;
};

// One warning per key of [Security], [Operator], [Logging] or [Metrics] that this server does
// not know (a misspelt key would otherwise be silently without effect).
void CheckUnknownKeys(const plat::IniFile& ini, SettingWarnings& warnings);

// The check's own findings about a file as written: the lines the reading passes over or never
// reaches, the keys of the server's classic sections that it does not know, and the [Channels]
// keys that are never read (`rooms_read`: how many names the room list took).
void CheckFileAsWritten(const plat::IniFile& ini, size_t rooms_read, SettingWarnings& warnings);

}  // namespace core
