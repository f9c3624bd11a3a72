#include "socket_commands.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "commands.h"
#include "failure.h"
#include "operator_link.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "text/safe_text.h"

namespace plctl {
namespace {

using Raw = Json::Raw;

// The server's limits on bans, so that plctl can say them before asking.
constexpr int64_t kLongestBanSeconds = 24 * 86400;
constexpr int kWidestUnforcedBits = 16;
constexpr int kWidestUnforcedBits6 = 32;

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
        break;
      case 'm':
        unit = 60;
        break;
      case 'h':
        unit = 3600;
        break;
      case 'd':
        unit = 86400;
        break;
      default:
        unit = 0;
        break;
    }
    if (unit != 0) digits.pop_back();
    unit = std::max<int64_t>(unit, 1);
  }
  int64_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error == std::errc::invalid_argument ||
      end != digits.data() + digits.size() || value < 1)
    ThrowUsage("--duration takes a time such as 90, 90s, 15m, 2h or 7d, not \"" + text + "\"");
  if (error == std::errc::result_out_of_range || value > kLongestBanSeconds / unit)
    ThrowUsage("--duration is at most 24d (" + std::to_string(kLongestBanSeconds) +
               " seconds), the longest ban with an end; --permanent bans without one");
  return value * unit;
}

int SocketStatus(const Invocation& invocation, const Output& output) {
  ExpectArguments(invocation, 0, "status");
  Raw result = Call(invocation, {{"command", "status"}});
  std::string text =
      FormatTable({{"version", Text(result["version"])},
                   {"uptime", FormatDuration(result.value("uptime_ms", 0u))},
                   {"players", Number(result["players"]) + " of " + Number(result["max_players"])},
                   {"rooms", Number(result["rooms"])},
                   {"configuration", result.value("config_changed", false)
                                         ? "changed on disk since it was loaded (plctl reload)"
                                         : "as loaded"}}) +
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
        "player " + Number(result["number"]) + " " + text::QuotedName(Text(result["name"])) +
            " kicked\n");
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
                             "no room named " + text::QuotedName(invocation.arguments[1]));
    }
    request["room"] = target;
  } else {
    ThrowUsage("usage: plctl " + usage);
  }
  Raw result = Call(invocation, request);
  Print(output, result,
        "room " + Number(result["number"]) + " " + text::QuotedName(Text(result["name"])) + " " +
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

// The prefix length of "address/bits"; 128 for a single address or text that is not one.
int BlockBits(const std::string& address) {
  const size_t slash = address.find('/');
  if (slash == std::string::npos) return 128;
  int bits = 128;
  const char* digits = address.data() + slash + 1;
  std::from_chars(digits, address.data() + address.size(), bits);
  return bits;
}

int BanAdd(const Invocation& invocation, const Output& output) {
  const std::string& address = invocation.arguments[1];
  Raw request = {{"command", "ban"}, {"action", "add"}, {"address", address}};
  if (invocation.Has("permanent") && invocation.Has("duration"))
    ThrowUsage("--permanent and --duration exclude each other");
  // Without either the server's default applies (a day).
  if (invocation.Has("permanent")) request["duration"] = nullptr;
  if (invocation.Has("duration")) {
    std::optional<int64_t> seconds = ParseBanDuration(*invocation.Option("duration"));
    request["duration"] = seconds ? Raw(*seconds) : Raw(nullptr);
  }
  const int widest =
      address.find(':') == std::string::npos ? kWidestUnforcedBits : kWidestUnforcedBits6;
  if (BlockBits(address) < widest && !invocation.Has("force"))
    ThrowUsage(address + " is wider than a /" + std::to_string(widest) +
               " and would shut out every player in it; --force bans it all the same");
  if (invocation.Has("force")) request["force"] = true;
  request["reason"] = invocation.Option("reason").value_or("");
  Raw result = Call(invocation, request);
  Print(output, result,
        Text(result["address"]) + " banned " +
            (result["until"].is_null() ? std::string("permanently")
                                       : "until " + Text(result["until"])) +
            "\n");
  return kExitDone;
}

int Ban(const Invocation& invocation, const Output& output) {
  const std::string usage =
      "ban add <address>[/<bits>] [--duration D | --permanent] [--force] [--reason TEXT] | "
      "ban remove <address> | ban list";
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
  return BanAdd(invocation, output);
}

int Reload(const Invocation& invocation, const Output& output) {
  if (invocation.global.use_protocol)
    ThrowUsage("reload works through the operator socket only, not with --host");
  ExpectArguments(invocation, 0, "reload");
  Raw result = Call(invocation, {{"command", "reload"}});
  auto words = [](const Raw& list) {
    std::string text;
    for (const Raw& item : list) text += (text.empty() ? "" : " ") + Text(item);
    return text.empty() ? std::string("nothing") : text;
  };
  std::string text = "configuration reloaded; changed: " + words(result["changed"]) + "\n";
  if (!result["needs_restart"].empty())
    text += "needs a restart (running values kept): " + words(result["needs_restart"]) + "\n";
  for (const Raw& note : result["notes"]) text += "note: " + Text(note) + "\n";
  Print(output, result, text);
  return kExitDone;
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
    if (WatchInterrupted()) break;
    int slice = 100;
    if (duration_ms >= 0) {
      const uint32_t elapsed = plat::TickCount() - started;
      if (elapsed >= static_cast<uint32_t>(duration_ms)) break;
      slice = std::min<int>(slice, duration_ms - static_cast<int>(elapsed));
    }
    std::optional<Raw> message = link->ReadMessage(slice);
    if (!message || !message->contains("event")) continue;
    ++events;
    // The server's own line in the form asked for, as its standard output would have it.
    const Raw line = message->value("line", Raw());
    output.Stream(Json::FromRaw((*message)["event"]),
                  line.is_string() ? line.get<std::string>() : std::string());
  }
  output.Note(std::to_string(events) + " events");
  return kExitDone;
}

std::vector<CommandSpec> SocketOnlyCommands() {
  return {
      {"ban",
       "ban an address or a block of addresses, lift a ban, list the bans",
       "Usage: plctl ban add <address>[/<bits>] [--duration D | --permanent] [--force]\n"
       "                     [--reason TEXT]\n"
       "       plctl ban remove <address>[/<bits>]\n"
       "       plctl ban list\n"
       "A ban closes the address's connections and players at once, refuses its new\n"
       "connections and ignores its datagrams. It is kept in the configuration file's [Bans]\n"
       "section, so it survives a restart. list shows the automatic bans of failed passwords\n"
       "too, with their end. Through the operator socket only.\n"
       "  --duration D    90, 90s, 15m, 2h or 7d, at most 24d (1d when not given)\n"
       "  --permanent     a ban without end, until ban remove\n"
       "  --force         ban a block wider than a /16 (more than 65536 addresses), for\n"
       "                  IPv6 wider than a /32\n"
       "  --reason TEXT   why, kept with the ban\n",
       {{"duration", true}, {"permanent", false}, {"force", false}, {"reason", true}},
       Ban},
      {"reload",
       "re-read the configuration file and put it in force without dropping anyone",
       "Usage: plctl reload\n"
       "The server reads its configuration file again, as SIGHUP has it do, and puts every\n"
       "setting that can change while players talk in force; it names the keys it changed and\n"
       "those that need a restart ([Networking] TCPPort and IP, [Operator] Socket). A file its\n"
       "check (plserver --check-config) does not pass is refused whole: nothing changes, the\n"
       "problems are named and the exit code is 1. Through the operator socket only.\n",
       {},
       Reload},
  };
}

}  // namespace plctl
