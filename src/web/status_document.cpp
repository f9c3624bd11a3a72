#include "web/status_document.h"

#include <nlohmann/json.hpp>

#include "text/safe_text.h"

namespace web {
namespace {

using Json = nlohmann::ordered_json;

Json NameList(const std::vector<std::string>& names) {
  Json list = Json::array();
  for (const std::string& name : names) list.push_back(text::JsonSafeText(name));
  return list;
}

// A group of players: its count, and its names when they are shown.
void AddPlayers(Json& group, size_t players, const std::vector<std::string>& names, bool shown) {
  group["players"] = players;
  if (shown) group["names"] = NameList(names);
}

}  // namespace

std::string StatusDocument(const ViewState& state, uint32_t uptime_seconds) {
  Json server = {{"name", text::JsonSafeText(state.server_name)},
                 {"players", state.players},
                 {"max_players", state.max_players},
                 {"uptime_seconds", uptime_seconds}};
  Json rooms = Json::array();
  for (const RoomView& room : state.rooms) {
    Json entry = {{"number", room.number}, {"name", text::JsonSafeText(room.name)}};
    AddPlayers(entry, room.players, room.names, state.show_players);
    rooms.push_back(std::move(entry));
  }
  Json elsewhere = Json::object();
  AddPlayers(elsewhere, state.elsewhere, state.elsewhere_names, state.show_players);
  Json document = {{"version", kStatusVersion},
                   {"server", std::move(server)},
                   {"show_players", state.show_players},
                   {"rooms", std::move(rooms)},
                   {"elsewhere", std::move(elsewhere)}};
  return document.dump();
}

}  // namespace web
