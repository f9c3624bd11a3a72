// A server for the fuzz targets: started once per process on a free loopback port pair. Before
// each input ResetState brings it back to one starting state: the default passwords, the rooms
// Lobby and Music, and a few registered clients, each with a real connection pair, so frames and
// datagrams reach the code behind the lookups and a command of one input (a new password, a
// kick) cannot shut the next input out.
#pragma once

#include "core/servermain.h"

namespace fuzz {

struct FuzzClient {
  uint16_t id;
  uint8_t player_no;
  int32_t room;
};
inline constexpr FuzzClient kClients[] = {{101, 0, 0}, {202, 1, 0}, {303, 2, 1}, {404, 3, 0}};
// The clients' recorded UDP port on loopback: the discard port, so relayed copies go nowhere.
inline constexpr uint16_t kClientPort = 9;

core::TParlowindServer& Server();
// The starting state, as described above; whatever the last input left is gone.
void ResetState();
// Reads and discards what the server sent to the registered clients, so their output never
// backs up between resets.
void DrainClients();

}  // namespace fuzz
