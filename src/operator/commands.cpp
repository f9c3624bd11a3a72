// The operator's command table and the commands that look at the server: status, list, player.
#include "operator/commands.h"

#include "platform/clock.h"
#include "text/safe_text.h"

namespace oper {
namespace {

Json CountersJson(const core::TrafficCounters& counters) {
  Json json = Json::object();
  const std::array<uint32_t, 8> values = counters.Values();
  for (size_t i = 0; i < values.size(); ++i) json[clients::kTrafficCounterNames[i]] = values[i];
  return json;
}

Json Address(plat::Endpoint endpoint) {
  return endpoint.port == 0 ? Json(nullptr) : Json(endpoint.ToString());
}

// The registered clients, each kept alive by its reference once the lock is gone.
std::vector<clients::ClientRef> Snapshot(clients::ClientList& list) {
  clients::ClientList::Lock lock = list.Acquire();
  return list.Entries(lock);
}

Json PlayerJson(const clients::TServerClient& client, uint32_t now) {
  return Json{{"number", client.PlayerNo + 1},
              {"name", text::JsonSafeText(client.Name)},
              {"room", client.RoomId.load() + 1},
              {"admin", client.IsAdmin.load()},
              {"version", text::JsonSafeText(client.ClientVersion)},
              {"tcp_address", client.Connection()->Peer().ToString()},
              {"udp_address", Address(client.Peer())},
              {"idle_ms", now - client.LastSeen.load()},
              {"loss_percent", client.LossPercentage()}};
}

}  // namespace

std::string StringArgument(const Json& request, const char* name) {
  auto found = request.find(name);
  if (found == request.end() || !found->is_string())
    throw CommandError(error_code::kBadArgument, std::string("\"") + name + "\" must be a string");
  return found->get<std::string>();
}

int64_t IntegerArgument(const Json& request, const char* name) {
  auto found = request.find(name);
  if (found == request.end() || !found->is_number_integer())
    throw CommandError(error_code::kBadArgument,
                       std::string("\"") + name + "\" must be a whole number");
  return found->get<int64_t>();
}

CommandError NotSaved(const std::string& reason) {
  return CommandError(error_code::kNotSaved, "the configuration file cannot be written: " + reason);
}

Json OperatorCommands::Handle(const Json& request) {
  const std::string command = StringArgument(request, "command");
  if (command == "status") return Status();
  if (command == "list") return List();
  if (command == "player") return Player(request);
  if (command == "kick") return Kick(request);
  if (command == "room") return Room(request);
  if (command == "password") return Password(request);
  if (command == "save-rooms") return SaveRooms();
  if (command == "ban") return Ban(request);
  if (command == "reload") return Reload();
  throw CommandError(error_code::kUnknownCommand,
                     "unknown command \"" + text::JsonSafeText(command) + "\"");
}

Json OperatorCommands::Status() {
  const security::Counters& defences = access_.guard.counters();
  Json drops{{"voice_queue", access_.voice_queue.Dropped()},
             {"voice_rate_limit", defences.VoiceDropped.load()},
             {"frames_rate_limit", defences.FramesDropped.load()},
             {"flood_disconnects", defences.FloodDisconnects.load()},
             {"banned_connections", defences.BannedConnections.load()},
             {"idle_connections_closed", defences.PendingEvicted.load()},
             {"foreign_datagrams", defences.ForeignDatagramsIgnored.load()},
             {"clients_per_address_refused", defences.ClientsPerAddressRefused.load()},
             {"login_churn_refused", defences.LoginChurnRefused.load()},
             {"broadcast_frames_dropped", defences.BroadcastFramesDropped.load()},
             {"auth_failures", defences.AuthFailures.load()},
             {"addresses_banned", defences.AddressesBanned.load()}};
  return Json{{"version", text::JsonSafeText(access_.version)},
              {"uptime_ms", access_.clock.Now() - access_.start_tick},
              {"players", access_.clients.Count()},
              {"max_players", access_.settings.Get()->MaxClients},
              {"rooms", access_.rooms.Count()},
              {"counters", CountersJson(access_.counters)},
              {"drops", std::move(drops)},
              {"config_changed", access_.config.ChangedOnDisk()}};
}

Json OperatorCommands::Reload() {
  const core::ReloadOutcome outcome = access_.reload();
  auto texts = [](const std::vector<std::string>& items) {
    Json list = Json::array();
    for (const std::string& item : items) list.push_back(text::JsonSafeText(item));
    return list;
  };
  if (!outcome.applied) {
    std::string message = "the configuration file is refused, nothing changed: ";
    for (size_t i = 0; i < outcome.problems.size(); ++i)
      message += (i == 0 ? "" : "; ") + outcome.problems[i];
    throw CommandError(error_code::kRefused, text::JsonSafeText(message));
  }
  return Json{{"changed", texts(outcome.changed)},
              {"needs_restart", texts(outcome.needs_restart)},
              {"notes", texts(outcome.notes)}};
}

Json OperatorCommands::List() {
  Json rooms = Json::array();
  {
    clients::RoomList::Lock lock = access_.rooms.Acquire();
    for (const auto& room : access_.rooms.Entries(lock))
      rooms.push_back(Json{{"number", room->RoomId + 1}, {"name", text::JsonSafeText(room->Name)}});
  }
  Json players = Json::array();
  const uint32_t now = access_.clock.Now();
  for (const clients::ClientRef& client : Snapshot(access_.clients)) {
    if (!client->Dropped) players.push_back(PlayerJson(*client, now));
  }
  return Json{{"rooms", std::move(rooms)}, {"players", std::move(players)}};
}

clients::ClientRef OperatorCommands::FindPlayer(const Json& request) {
  auto found = request.find("player");
  if (found != request.end() && found->is_number_integer()) {
    const int64_t number = found->get<int64_t>();
    if (number < 1 || number > 255)
      throw CommandError(error_code::kNotFound, "no player " + std::to_string(number));
    clients::ClientRef client =
        access_.clients.FindClientByPlayerNo(static_cast<uint8_t>(number - 1));
    if (!client || client->Dropped)
      throw CommandError(error_code::kNotFound, "no player " + std::to_string(number));
    return client;
  }
  if (found != request.end() && found->is_string()) {
    const std::string name = found->get<std::string>();
    for (const clients::ClientRef& client : Snapshot(access_.clients)) {
      if (!client->Dropped && text::JsonSafeText(client->Name) == name) return client;
    }
    throw CommandError(error_code::kNotFound, "no player named \"" + name + "\"");
  }
  throw CommandError(error_code::kBadArgument, "\"player\" must be a number or a name");
}

Json OperatorCommands::Player(const Json& request) {
  clients::ClientRef client = FindPlayer(request);
  const uint32_t now = access_.clock.Now();
  Json result = PlayerJson(*client, now);
  result["connected_ms"] = now - client->ConnectTime;
  result["ping_rtt_ms"] = client->PingSnapshot().PingRtt;
  result["voice_dropped"] = client->VoiceDropped.load();
  result["counters"] = CountersJson(client->Counters);
  return result;
}

}  // namespace oper
