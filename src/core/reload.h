// What a reload of the configuration file did. A reload reads the file again and puts in force
// everything that can change while players talk (the passwords, the server's name and size, the
// pinger's and the poster's settings, every limit, the event lines, the metrics endpoint, the
// operator's limits, the bans, the rooms and whether the web view names the players), or refuses a
// file the check does not pass, whole, changing nothing. The listening ports and address, the
// operator socket's path and the web view's address and stream limits need a restart: a change of
// them is named, and the running value kept.
#pragma once

#include <string>
#include <vector>

namespace core {

struct ReloadOutcome {
  bool applied = false;
  // Why the file was refused, one text per problem ("[General] MaxClients \"abc\": ...").
  std::vector<std::string> problems;
  // What it changed: the keys as "Section.Key" (never with a password's value), and "Channels"
  // or "Bans" when rooms or bans changed.
  std::vector<std::string> changed;
  // Keys changed in the file that only a restart puts in force.
  std::vector<std::string> needs_restart;
  // What it could not do as the file asks, although the file was taken (an occupied room kept,
  // a metrics address that cannot be bound).
  std::vector<std::string> notes;
};

// The keys whose change needs a restart: the listeners' ports and address, the voice socket's
// mark, the operator socket, the web view's address and the stream limits its HTTP server took
// when it started.
inline constexpr const char* kRestartKeys[] = {
    "Networking.TCPPort", "Networking.IP",           "Voice.DSCP", "Operator.Socket", "Web.Listen",
    "Web.MaxStreams",     "Web.MaxStreamsPerAddress"};

}  // namespace core
