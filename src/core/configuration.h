// ReadConfiguration: the start-up block that reads every setting from the configuration file,
// creates the configured rooms, brings a file of an older version up to the current one and
// derives the UDP port. ReadFileSettings is its reading alone, which start-up, the check and a
// reload share: every setting the file holds is read there and nowhere else.
#pragma once

#include <stdexcept>

#include "clients/serverfunctions.h"
#include "core/setting_checks.h"
#include "core/vars.h"
#include "platform/ini_file.h"

namespace core {

class ConfigurationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Everything the configuration file sets, as read.
struct FileSettings {
  Settings settings;
  std::string server_password;
  std::string admin_password = kDefaultAdminPassword;
  // The [Channels] names the list reads, in order; "Default" alone when it reads none.
  std::vector<std::string> rooms;
  size_t rooms_in_file = 0;  // how many of `rooms` the file named
  SettingValues values;      // each key read, with the value in force
  SettingWarnings warnings;  // of the reading
};

// Reads every setting of `ini` over `base` (the defaults, with what the command line and the
// program directory set), as start-up does. Writes nothing.
FileSettings ReadFileSettings(const plat::IniFile& ini, const Settings& base);

// Reads the file into `settings` and `passwords`, creates the rooms and rewrites a file of an
// older version; returns what was read (its warnings among it). Throws ConfigurationError (or
// RegistryFull from the rooms) on any failure.
FileSettings ReadConfiguration(Settings& settings, PasswordStore& passwords,
                               clients::RoomList& rooms);

// Puts "http://" in front of a non-empty URL that does not contain "HTTP://" in any letter case.
std::string NormaliseWebPostUrl(const std::string& url);

}  // namespace core
