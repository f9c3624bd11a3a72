// A server for the fuzz targets: started once per process on a free loopback port pair, with a
// few clients registered directly (no control connection), so datagrams and frames reach the
// code behind the lookups.
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

}  // namespace fuzz
