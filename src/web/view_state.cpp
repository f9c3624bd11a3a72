#include "web/view_state.h"

#include <algorithm>

#include "clients/serverfunctions.h"

namespace web {

ViewState GatherViewState(const ViewSources& sources) {
  ViewState state;
  const std::shared_ptr<const core::Settings> settings = sources.settings.Get();
  state.server_name = settings->Servername;
  state.max_players = settings->PlayerCapacity();
  state.show_players = settings->WebShowPlayers;
  // The room registry's lock, then the client registry's: their order everywhere.
  clients::RoomList::Lock room_lock = sources.rooms.Acquire();
  clients::ClientList::Lock client_lock = sources.clients.Acquire();
  for (const auto& room : sources.rooms.Entries(room_lock))
    state.rooms.push_back({room->RoomId + 1, room->Name, 0, {}});
  const std::vector<clients::ClientRef>& players = sources.clients.Entries(client_lock);
  state.players = players.size();
  for (const clients::ClientRef& player : players) {
    const int number = player->RoomId.load(std::memory_order_relaxed) + 1;
    auto room = std::find_if(state.rooms.begin(), state.rooms.end(),
                             [number](const RoomView& view) { return view.number == number; });
    size_t& count = room == state.rooms.end() ? state.elsewhere : room->players;
    std::vector<std::string>& names =
        room == state.rooms.end() ? state.elsewhere_names : room->names;
    ++count;
    if (state.show_players) names.push_back(player->Name);
  }
  return state;
}

}  // namespace web
