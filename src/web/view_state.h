// What the web view shows: the server's name, players online of the maximum, the rooms in their
// order with their players' names (or only their counts), and the players whose room has been
// deleted. Names and rooms only: never an address, a port, an Id or a password.
//
// Gathered under the registries' locks, each held only while numbers and names are copied;
// nothing is written to a browser while a lock is held.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/vars.h"

namespace clients {
class ClientList;
class RoomList;
}  // namespace clients

namespace web {

struct RoomView {
  int number = 0;  // as clients show it (from 1)
  std::string name;
  size_t players = 0;
  std::vector<std::string> names;  // in login order; empty when the names are not shown

  bool operator==(const RoomView&) const = default;
};

struct ViewState {
  std::string server_name;
  size_t max_players = 0;
  size_t players = 0;
  bool show_players = true;
  std::vector<RoomView> rooms;  // in the registry's order
  // Players elsewhere: in a room that no longer exists (a deleted room keeps its players where
  // they were).
  size_t elsewhere = 0;
  std::vector<std::string> elsewhere_names;

  bool operator==(const ViewState&) const = default;
};

// The parts of the server the view reads; they must outlive their use. The server's name, its
// capacity and whether players are named are read from the settings in force each time, so a
// reload reaches the view.
struct ViewSources {
  clients::ClientList& clients;
  clients::RoomList& rooms;
  const core::LiveSettings& settings;
};

ViewState GatherViewState(const ViewSources& sources);

}  // namespace web
