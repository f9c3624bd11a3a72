// Commands that look at the server: its statistics, its rooms and players, one player's
// statistics. None needs administrator rights, except that only an administrator is told a
// player's UDP address.
#include <map>

#include "commands.h"
#include "failure.h"
#include "session.h"
#include "socket_commands.h"

namespace plctl {
namespace {

void ExpectNoArguments(const Invocation& invocation, size_t count) {
  if (invocation.arguments.size() != count) {
    ThrowUsage(invocation.command + " takes " +
               (count ? std::to_string(count) : std::string("no")) + " argument" +
               (count == 1 ? "" : "s") + " (see plctl " + invocation.command + " --help)");
  }
}

int Status(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketStatus(invocation, output);
  ExpectNoArguments(invocation, 0);
  auto session = Session::Open(invocation.global);
  session->Send(plclient::ServerStatsReqFrame());
  plclient::ServerStats stats = *plclient::ParseServerStats(session->AwaitReply(
      [](const plclient::Frame& f) { return plclient::ParseServerStats(f).has_value(); },
      "ServerStats"));
  session->Leave();

  Json document = Json::MakeObject();
  document.Add("name", session->servername())
      .Add("version", stats.version)
      .Add("uptime_ms", stats.uptime_ms)
      .Add("rooms", static_cast<int>(session->lists().rooms.size()))
      .Add("players", static_cast<int>(session->lists().players.size()) - 1)
      .Add("counters", CountersJson(stats.counters));
  std::string text =
      FormatTable({{"server", session->servername()},
                   {"version", stats.version},
                   {"uptime", FormatDuration(stats.uptime_ms)},
                   {"rooms", std::to_string(session->lists().rooms.size())},
                   {"players", std::to_string(session->lists().players.size() - 1)}}) +
      CountersText(stats.counters);
  output.Print(document, text);
  return kExitDone;
}

int List(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketList(invocation, output);
  ExpectNoArguments(invocation, 0);
  auto session = Session::Open(invocation.global);
  session->Leave();
  const plclient::ServerLists& lists = session->lists();

  std::map<uint8_t, std::string> room_names;
  Json rooms = Json::MakeArray();
  std::vector<std::vector<std::string>> room_rows = {{"room", "name"}};
  for (const plclient::RoomRecord& room : lists.rooms) {
    room_names[room.room_byte] = room.name;
    rooms.Push(
        Json::MakeObject().Add("number", static_cast<int>(room.room_byte)).Add("name", room.name));
    room_rows.push_back({std::to_string(room.room_byte), room.name});
  }
  Json players = Json::MakeArray();
  std::vector<std::vector<std::string>> player_rows = {{"player", "name", "room", "admin"}};
  for (const plclient::PlayerRecord& player : lists.players) {
    if (player.player_byte == lists.own_player_byte) continue;  // the tool's own connection
    players.Push(Json::MakeObject()
                     .Add("number", static_cast<int>(player.player_byte))
                     .Add("name", player.name)
                     .Add("room", static_cast<int>(player.room_byte))
                     .Add("admin", player.is_admin));
    auto room = room_names.find(player.room_byte);
    player_rows.push_back(
        {std::to_string(player.player_byte), player.name,
         std::to_string(player.room_byte) + (room != room_names.end() ? " " + room->second : ""),
         player.is_admin ? "yes" : ""});
  }
  std::string text =
      FormatTable(room_rows) + "\n" +
      (player_rows.size() > 1 ? FormatTable(player_rows) : std::string("no players\n"));
  output.Print(Json::MakeObject().Add("rooms", std::move(rooms)).Add("players", std::move(players)),
               text);
  return kExitDone;
}

int Player(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketPlayer(invocation, output);
  ExpectNoArguments(invocation, 1);
  const bool as_admin = invocation.Has("admin");
  const std::string admin_password = as_admin ? AdminPassword(invocation) : std::string();
  auto session = Session::Open(invocation.global);
  if (as_admin) session->AdminLogin(admin_password);
  const uint8_t player_byte = ResolvePlayer(session->lists(), invocation.arguments[0]);
  session->Send(plclient::PlayerStatsReqFrame(player_byte));
  plclient::PlayerStats stats = *plclient::ParsePlayerStats(session->AwaitReply(
      [player_byte](const plclient::Frame& f) {
        auto parsed = plclient::ParsePlayerStats(f);
        return parsed && parsed->player_byte == player_byte;
      },
      "PlayerStats"));
  session->Leave();

  std::string name;
  int room = 0;
  for (const plclient::PlayerRecord& player : session->lists().players) {
    if (player.player_byte == player_byte) {
      name = player.name;
      room = player.room_byte;
    }
  }
  const bool has_address = !stats.peer_ip.empty();
  // An IPv6 address does not fit the reply's field: it comes empty, with its port.
  const bool ipv6_address = !has_address && stats.peer_port != 0;
  Json document = Json::MakeObject();
  document.Add("number", static_cast<int>(player_byte))
      .Add("name", name)
      .Add("room", room)
      .Add("version", stats.version)
      .Add("connected_ms", stats.connected_ms)
      .Add("idle_ms", stats.idle_ms)
      .Add("loss_percent", static_cast<double>(stats.loss_percentage))
      .Add("ping_rtt_ms", static_cast<int>(stats.ping_rtt))
      .Add("address", has_address ? Json(stats.peer_ip) : Json())
      .Add("port", has_address || ipv6_address ? Json(static_cast<int>(stats.peer_port)) : Json())
      .Add("counters", CountersJson(stats.counters));
  char loss[32];
  std::snprintf(loss, sizeof loss, "%.2f %%", static_cast<double>(stats.loss_percentage));
  std::string address = has_address ? stats.peer_ip + ":" + std::to_string(stats.peer_port)
                        : ipv6_address
                            ? "an IPv6 address, port " + std::to_string(stats.peer_port) +
                                  " (in full on the operator socket)"
                        : as_admin ? "none yet (no datagram received)"
                                   : "shown to administrators only (--admin)";
  std::string text = FormatTable({{"player", std::to_string(player_byte) + " " + name},
                                  {"room", std::to_string(room)},
                                  {"version", stats.version},
                                  {"connected", FormatDuration(stats.connected_ms)},
                                  {"idle", std::to_string(stats.idle_ms) + " ms"},
                                  {"voice loss", loss},
                                  {"ping", std::to_string(stats.ping_rtt) + " ms"},
                                  {"UDP address", address}}) +
                     CountersText(stats.counters);
  output.Print(document, text);
  return kExitDone;
}

}  // namespace

std::vector<CommandSpec> ServerCommands() {
  return {
      {"status",
       "the server's version, uptime and traffic counters",
       "Usage: plctl status\n"
       "Shows the server's name, version, uptime, the number of rooms and players, and its\n"
       "traffic counters (UDP and TCP, packets and bytes, as the server counts them).\n",
       {},
       Status},
      {"list",
       "the rooms and the players",
       "Usage: plctl list\n"
       "Shows every room and every player with the numbers other commands take. The tool's\n"
       "own connection is left out.\n",
       {},
       List},
      {"player",
       "one player's statistics",
       "Usage: plctl player [--admin [--admin-password TEXT]] <player>\n"
       "Shows a player's statistics: connected and idle time, voice loss, ping time, version\n"
       "and traffic counters. <player> is the number that list shows, or the name.\n"
       "  --admin                  log in as administrator first, so the player's UDP address\n"
       "                           is shown too\n"
       "  --admin-password TEXT    the administrator password (else PLCTL_ADMIN_PASSWORD,\n"
       "                           else a prompt on the terminal)\n"
       "Exit code 1 when there is no such player.\n",
       {{"admin", false}, {"admin-password", true}},
       Player},
  };
}

}  // namespace plctl
