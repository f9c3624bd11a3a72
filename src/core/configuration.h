// ReadConfiguration: the start-up block that reads every setting from the configuration file,
// creates the configured rooms, brings a file of an older version up to the current one and
// derives the UDP port.
#pragma once

#include <stdexcept>

#include "clients/serverfunctions.h"
#include "core/vars.h"

namespace core {

class ConfigurationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ConfigurationError (or RegistryFull from the rooms) on any failure.
void ReadConfiguration(Settings& settings, PasswordStore& passwords, clients::RoomList& rooms);

// Puts "http://" in front of a non-empty URL that does not contain "HTTP://" in any letter case.
std::string NormaliseWebPostUrl(const std::string& url);

}  // namespace core
