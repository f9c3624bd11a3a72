#include "socket_commands.h"

#include <algorithm>
#include <cstdio>

#include "commands.h"
#include "failure.h"
#include "operator_link.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace plctl {
namespace {

using Raw = Json::Raw;

void ExpectArguments(const Invocation& invocation, size_t count, const std::string& usage) {
  if (invocation.arguments.size() != count) ThrowUsage("usage: plctl " + usage);
}

Raw Call(const Invocation& invocation, Raw request) {
  return OperatorLink::Open(invocation.global)->Call(std::move(request));
}

std::string Text(const Raw& value) {
  if (value.is_null()) return "-";
  if (value.is_string()) return value.get<std::string>();
  return value.dump();
}

std::string Number(const Raw& value) {
  return value.is_number() ? value.dump() : Text(value);
}

// A player or a room as the command line names it: its number, or its name.
Raw Target(const std::string& text) {
  const bool number =
      !text.empty() && text.size() <= 3 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (number) return std::stoi(text);
  return text;
}

std::string CountersText(const Raw& counters) {
  auto n = [&](const char* key) { return Number(counters.value(key, Raw())); };
  return FormatTable({{"  traffic", "packets", "bytes"},
                      {"  UDP sent", n("udp_packets_sent"), n("udp_bytes_sent")},
                      {"  UDP received", n("udp_packets_received"), n("udp_bytes_received")},
                      {"  TCP sent", n("tcp_packets_sent"), n("tcp_bytes_sent")},
                      {"  TCP received", n("tcp_packets_received"), n("tcp_bytes_received")}});
}

std::string LossText(const Raw& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", value.is_number() ? value.get<double>() : 0.0);
  return text;
}

void Print(const Output& output, const Raw& result, const std::string& text) {
  output.Print(Json::FromRaw(result), text);
}

}  // namespace

std::optional<int64_t> ParseBanDuration(const std::string& text) {
  if (text == "permanent") return std::nullopt;
  int64_t unit = 1;
  std::string digits = text;
  if (!digits.empty()) {
    switch (digits.back()) {
      case 's':
        unit = 1;
        digits.pop_back();
        break;
      case 'm':
        unit = 60;
        digits.pop_back();
        break;
      case 'h':
        unit = 3600;
        digits.pop_back();
        break;
      case 'd':
        unit = 86400;
        digits.pop_back();
        break;
      default:
        break;
    }
  }
  const int value = ParseNumber("--duration", digits, 1, 24 * 86400);
  if (value * unit > 24 * 86400)
    ThrowUsage("--duration is at most 24d; a longer ban is a permanent one");
  return value * unit;
}

int SocketStatus(const Invocation& invocation, const Output& output) {
  ExpectArguments(invocation, 0, "status");
  Raw result = Call(invocation, {{"command", "status"}});
  std::string text =
      FormatTable({{"version", Text(result["version"])},
                   {"uptime", FormatDuration(result.value("uptime_ms", 0u))},
                   {"players", Number(result["players"]) + " of " + Number(result["max_players"])},
                   {"rooms", Number(result["rooms"])}}) +
      CountersText(result["counters"]);
  std::vector<std::vector<std::string>> drops = {{"  dropped or refused", "count"}};
  for (auto& [key, value] : result["drops"].items()) drops.push_back({"  " + key, Number(value)});
  Print(output, result, text + FormatTable(drops));
  return kExitDone;
}

int SocketList(const Invocation& invocation, const Output& output) {
  ExpectArguments(invocation, 0, "list");
  Raw result = Call(invocation, {{"command", "list"}});
  std::vector<std::vector<std::string>> rooms = {{"room", "name"}};
  for (const Raw& room : result["rooms"])
    rooms.push_back({Number(room["number"]), Text(room["name"])});
  std::vector<std::vector<std::string>> players = {
      {"player", "name", "room", "admin", "TCP address", "UDP address", "idle", "loss"}};
  for (const Raw& player : result["players"]) {
    players.push_back({Number(player["number"]), Text(player["name"]), Number(player["room"]),
                       player.value("admin", false) ? "yes" : "", Text(player["tcp_address"]),
                       Text(player["udp_address"]), FormatDuration(player.value("idle_ms", 0u)),
                       LossText(player["loss_percent"])});
  }
  Print(output, result,
        FormatTable(rooms) + "\n" +
            (players.size() > 1 ? FormatTable(players) : std::string("no players\n")));
  return kExitDone;
}

int SocketPlayer(const Invocation& invocation, const Output& output) {
  ExpectArguments(invocation, 1, "player <player>");
  Raw result =
      Call(invocation, {{"command", "player"}, {"player", Target(invocation.arguments[0])}});
  std::string text = FormatTable({{"player", Number(result["number"]) + " " + Text(result["name"])},
                                  {"room", Number(result["room"])},
                                  {"admin", result.value("admin", false) ? "yes" : "no"},
                                  {"version", Text(result["version"])},
                                  {"connected", FormatDuration(result.value("connected_ms", 0u))},
                                  {"idle", Number(result["idle_ms"]) + " ms"},
                                  {"voice loss", LossText(result["loss_percent"])},
                                  {"ping", Number(result["ping_rtt_ms"]) + " ms"},
                                  {"TCP address", Text(result["tcp_address"])},
                                  {"UDP address", Text(result["udp_address"])}}) +
                     CountersText(result["counters"]);
  Print(output, result, text);
  return kExitDone;
}

int SocketKick(const Invocation& invocation, const Output& output) {
  ExpectArguments(invocation, 1, "kick <player>");
  Raw result = Call(invocation, {{"command", "kick"}, {"player", Target(invocation.arguments[0])}});
  Print(output, result,
        "player " + Number(result["number"]) + " \"" + Text(result["name"]) + "\" kicked\n");
  return kExitDone;
}

int SocketRoom(const Invocation& invocation, const Output& output) {
  const std::string usage = "room create <name> | room delete <room>";
  ExpectArguments(invocation, 2, usage);
  const std::string& action = invocation.arguments[0];
  Raw request = {{"command", "room"}, {"action", action}};
  if (action == "create") {
    request["name"] = invocation.arguments[1];
  } else if (action == "delete") {
    Raw target = Target(invocation.arguments[1]);
    if (!target.is_number()) {
      // A room named on the command line: its number from the list.
      Raw lists = Call(invocation, {{"command", "list"}});
      for (const Raw& room : lists["rooms"]) {
        if (room["name"] == target) target = room["number"];
      }
      if (!target.is_number())
        throw CommandFailure(kExitRefused, "not-found",
                             "no room named \"" + invocation.arguments[1] + "\"");
    }
    request["room"] = target;
  } else {
    ThrowUsage("usage: plctl " + usage);
  }
  Raw result = Call(invocation, request);
  Print(output, result,
        "room " + Number(result["number"]) + " \"" + Text(result["name"]) + "\" " +
            (action == "create" ? "created" : "deleted") + "\n");
  return kExitDone;
}

int SocketPassword(const Invocation& invocation, const Output& output) {
  const std::string usage = "password server|admin";
  if (invocation.arguments.empty() || invocation.arguments.size() > 2)
    ThrowUsage("usage: plctl " + usage);
  const std::string& which = invocation.arguments[0];
  if (which != "server" && which != "admin") ThrowUsage("usage: plctl " + usage);
  // A new password given on the command line is still taken, but never needed there.
  const std::string password = invocation.arguments.size() == 2
                                   ? invocation.arguments[1]
                                   : SecretFromUser(invocation.global, "PLCTL_NEW_PASSWORD",
                                                    "New " + which + " password: ", true);
  Raw result =
      Call(invocation, {{"command", "password"}, {"which", which}, {"password", password}});
  Print(output, result,
        (which == "server" ? "server" : "administrator") + std::string(" password changed\n"));
  return kExitDone;
}

int SocketSaveRooms(const Invocation& invocation, const Output& output) {
  ExpectArguments(invocation, 0, "save-rooms");
  Raw result = Call(invocation, {{"command", "save-rooms"}});
  Print(output, result, Number(result["rooms"]) + " rooms saved as the default rooms\n");
  return kExitDone;
}

namespace {

int Ban(const Invocation& invocation, const Output& output) {
  const std::string usage =
      "ban add <address>[/<bits>] [--duration D] [--reason TEXT] | ban remove <address> | ban list";
  if (invocation.global.use_protocol)
    ThrowUsage("ban works through the operator socket only, not with --host");
  if (invocation.arguments.empty()) ThrowUsage("usage: plctl " + usage);
  const std::string& action = invocation.arguments[0];
  if (action == "list") {
    ExpectArguments(invocation, 1, usage);
    Raw result = Call(invocation, {{"command", "ban"}, {"action", "list"}});
    std::vector<std::vector<std::string>> rows = {{"address", "kind", "until", "reason"}};
    for (const Raw& ban : result["bans"])
      rows.push_back({Text(ban["address"]), Text(ban["kind"]),
                      ban["until"].is_null() ? "permanent" : Text(ban["until"]),
                      Text(ban["reason"])});
    Print(output, result, rows.size() > 1 ? FormatTable(rows) : std::string("no bans\n"));
    return kExitDone;
  }
  ExpectArguments(invocation, 2, usage);
  if (action == "remove") {
    Raw result =
        Call(invocation,
             {{"command", "ban"}, {"action", "remove"}, {"address", invocation.arguments[1]}});
    Print(output, result, "ban of " + Text(result["address"]) + " lifted\n");
    return kExitDone;
  }
  if (action != "add") ThrowUsage("usage: plctl " + usage);
  Raw request = {{"command", "ban"}, {"action", "add"}, {"address", invocation.arguments[1]}};
  std::optional<int64_t> seconds =
      ParseBanDuration(invocation.Option("duration").value_or("permanent"));
  request["duration"] = seconds ? Raw(*seconds) : Raw(nullptr);
  request["reason"] = invocation.Option("reason").value_or("");
  Raw result = Call(invocation, request);
  Print(output, result,
        Text(result["address"]) + " banned " +
            (result["until"].is_null() ? std::string("permanently")
                                       : "until " + Text(result["until"])) +
            "\n");
  return kExitDone;
}

// One event of the server as a line for people: time, event, then its fields.
std::string EventText(const Raw& event) {
  std::string text = Text(event.value("time", Raw())) + "  " + Text(event.value("event", Raw()));
  for (auto& [key, value] : event.items()) {
    if (key == "time" || key == "event" || key == "level") continue;
    text += " " + key + "=" +
            (value.is_string() ? "\"" + value.get<std::string>() + "\"" : value.dump());
  }
  return text + "\n";
}

}  // namespace

int SocketWatch(const Invocation& invocation, const Output& output) {
  if (!invocation.arguments.empty()) ThrowUsage("usage: plctl watch [--duration SECONDS]");
  const int duration_ms =
      invocation.Has("duration") ? ParseSeconds("--duration", *invocation.Option("duration")) : -1;
  plat::BlockTerminationSignals();
  auto link = OperatorLink::Open(invocation.global);
  link->Call({{"command", "watch"}});
  output.Note("watching " + link->path() + (duration_ms >= 0 ? "" : " until interrupted"));
  const uint32_t started = plat::TickCount();
  int events = 0;
  for (;;) {
    if (plat::WaitForSignalOrKey(false, 0).event == plat::ShellEvent::kTerminationSignal) break;
    int slice = 100;
    if (duration_ms >= 0) {
      const uint32_t elapsed = plat::TickCount() - started;
      if (elapsed >= static_cast<uint32_t>(duration_ms)) break;
      slice = std::min<int>(slice, duration_ms - static_cast<int>(elapsed));
    }
    std::optional<Raw> message = link->ReadMessage(slice);
    if (!message || !message->contains("event")) continue;
    ++events;
    const Raw& event = (*message)["event"];
    Print(output, Raw{{"ok", true}, {"event", event}}, EventText(event));
  }
  output.Note(std::to_string(events) + " events");
  return kExitDone;
}

std::vector<CommandSpec> BanCommands() {
  return {
      {"ban",
       "ban an address or a block of addresses, lift a ban, list the bans",
       "Usage: plctl ban add <address>[/<bits>] [--duration D] [--reason TEXT]\n"
       "       plctl ban remove <address>[/<bits>]\n"
       "       plctl ban list\n"
       "A ban closes the address's connections and players at once, refuses its new\n"
       "connections and ignores its datagrams. It is kept in the configuration file's [Bans]\n"
       "section, so it survives a restart. list shows the automatic bans of failed passwords\n"
       "too, with their end. Through the operator socket only.\n"
       "  --duration D    90, 90s, 15m, 2h or 7d (at most 24d); permanent (the default)\n"
       "  --reason TEXT   why, kept with the ban\n",
       {{"duration", true}, {"reason", true}},
       Ban},
  };
}

}  // namespace plctl
