// Test support for the shell's black-box tests: the server binary installed under a name of the
// test's choosing with a configuration file that keeps it on the loopback address, and the
// version text the server tells a client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/blackbox.h"

namespace pltest {

// An installation whose configuration file keeps the server on 127.0.0.1:`port`.
struct ProgramDirectory {
  ProgramDirectory(const std::string& program_name, uint16_t port);
  Installation installation;
  std::string log;  // the log file, given to the server with -LOG=
  uint16_t port;
  std::vector<std::string> Arguments() const { return {"-LOG=" + log}; }
};

// Logs in on a new connection and asks for ServerStats: the server's version text, or nothing
// when any step fails.
std::optional<std::string> ServerVersionOverTheWire(uint16_t port);

}  // namespace pltest
