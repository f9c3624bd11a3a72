// The event lines of the server, each built from the event's own fields (never from a text
// that could hold a password). Player and room numbers are those of the protocol (number + 1,
// as clients show them).
#pragma once

#include <cstdint>
#include <string>

#include "core/event_line.h"

namespace core {

struct Settings;

EventLine DefaultAdminPasswordLine();
// metrics: the metrics endpoint's address, or "off".
EventLine StartLine(const Settings& settings, const std::string& metrics = "off");
// The metrics endpoint asked for could not start (the server runs on without it).
EventLine MetricsFailedLine(const std::string& listen, const std::string& error);
// The event lines' file cannot be opened (the lines go on where they went).
EventLine EventFileFailedLine(const std::string& file, const std::string& error);
EventLine StopLine();

// Who did something: a player's number, name and address, or no player: the operator (through
// the operator socket) or a reload of the configuration file.
struct Actor {
  int player = 0;
  std::string name;
  std::string addr;
  const char* role = nullptr;  // "operator" or "reload" when no player did it

  static Actor Operator() { return Role("operator"); }
  static Actor Reload() { return Role("reload"); }

 private:
  static Actor Role(const char* role) {
    Actor who;
    who.role = role;
    return who;
  }
};

EventLine JoinLine(const Actor& who, int room);
EventLine MoveLine(const Actor& who, int from_room, int to_room);
// reason: left, disconnected, kicked, ping-timeout, slow-reader, rate-limit, ban
EventLine LeaveLine(const Actor& who, const char* reason);
EventLine LoginFailedLine(const std::string& name, const std::string& addr, const char* reason);
EventLine AdminLoginLine(const Actor& who);
EventLine AdminLoginFailedLine(const Actor& who, uint32_t failures_on_connection);
// An administration action by `who`: action is room-create, room-delete, kick,
// server-password, admin-password, rooms-save or unban; result ok, refused or what was in the
// way (exists, no-such-room, no-such-player, not-admin).
EventLine AdminActionLine(const Actor& who, const char* action, const char* result);
EventLine BanLine(const std::string& addr, uint32_t seconds, const plat::LocalDateTime& until);

}  // namespace core
