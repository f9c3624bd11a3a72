// ReadConfiguration: the start-up block that reads every setting from the configuration file,
// creates the configured rooms, brings a file of an older version up to the current one and
// derives the UDP port.
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

// Throws ConfigurationError (or RegistryFull from the rooms) on any failure. Warnings about
// the values read are added to `warnings` when given.
void ReadConfiguration(Settings& settings, PasswordStore& passwords, clients::RoomList& rooms,
                       SettingWarnings* warnings = nullptr);

// Every setting of `ini` into `settings` and `passwords`, as start-up reads them, with the
// warnings about the values read. Writes nothing.
SettingWarnings ReadSettingsFrom(const plat::IniFile& ini, Settings& settings,
                                 PasswordStore& passwords);

// The names of the [Channels] rooms start-up creates, in order ("Default" when none).
std::vector<std::string> ConfiguredRoomNames(const plat::IniFile& ini);

// Puts "http://" in front of a non-empty URL that does not contain "HTTP://" in any letter case.
std::string NormaliseWebPostUrl(const std::string& url);

}  // namespace core
