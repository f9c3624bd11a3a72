// Watch mode: stays logged in and prints each notification as it arrives (joins, moves,
// leaves, rooms created and deleted, new administrators) until interrupted (SIGINT, SIGTERM,
// SIGHUP) or until --duration has passed. The names of players and rooms are kept up to date
// from the notifications themselves.
#include <cstdio>
#include <map>

#include "commands.h"
#include "failure.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "session.h"
#include "socket_commands.h"
#include "text/safe_text.h"
#include "wire/global_types.h"

namespace plctl {
namespace {

constexpr int kReadSliceMs = 100;  // how often the loop looks for a termination signal

std::string TimeOfDay() {
  plat::LocalDateTime now = plat::NowLocal();
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.hour, now.minute, now.second);
  return text;
}

std::string LeaveReason(uint8_t reason) {
  switch (reason) {
    case wire::kReasonLeft:
      return "left";
    case wire::kReasonPingTimeout:
      return "ping time-out";
    case wire::kReasonKicked:
      return "kicked";
    default:
      return "reason " + std::to_string(reason);
  }
}

class Watcher {
 public:
  Watcher(const plclient::ServerLists& lists, const Output& output) : output_(output) {
    for (const auto& room : lists.rooms) rooms_[room.room_byte] = room.name;
    for (const auto& player : lists.players) players_[player.player_byte] = player.name;
  }

  // Prints the frame as an event; false for a frame that ends the watch (we were kicked).
  bool Show(const plclient::Frame& frame, uint8_t own_player_byte);
  int events() const { return events_; }

 private:
  void Emit(Json event, const std::string& text) {
    ++events_;
    output_.Print(Json::MakeObject().Add("time", TimeOfDay()).Add("event", std::move(event)),
                  TimeOfDay() + "  " + text + "\n");
  }
  std::string Player(uint8_t player_byte) const {
    auto found = players_.find(player_byte);
    return (found != players_.end() ? text::QuotedName(found->second) + " " : std::string()) +
           "(#" + std::to_string(player_byte) + ")";
  }
  std::string Room(uint8_t room_byte) const {
    auto found = rooms_.find(room_byte);
    return std::to_string(room_byte) +
           (found != rooms_.end() ? " " + text::QuotedName(found->second) : std::string());
  }

  const Output& output_;
  std::map<uint8_t, std::string> rooms_, players_;
  int events_ = 0;
};

Json Event(const std::string& kind) {
  return Json::MakeObject().Add("kind", kind);
}

bool Watcher::Show(const plclient::Frame& frame, uint8_t own_player_byte) {
  if (auto joined = plclient::ParsePlayerJoined(frame)) {
    players_[joined->player_byte] = joined->name;
    Emit(Event("joined")
             .Add("player", static_cast<int>(joined->player_byte))
             .Add("name", joined->name)
             .Add("room", static_cast<int>(joined->room_byte)),
         "joined   " + Player(joined->player_byte) + " in room " + Room(joined->room_byte));
  } else if (auto moved = plclient::ParsePlayerMoved(frame)) {
    Emit(Event("moved")
             .Add("player", static_cast<int>(moved->player_byte))
             .Add("name", players_[moved->player_byte])
             .Add("room", static_cast<int>(moved->room_byte)),
         "moved    " + Player(moved->player_byte) + " to room " + Room(moved->room_byte));
  } else if (auto left = plclient::ParsePlayerLeft(frame)) {
    Emit(Event("left")
             .Add("player", static_cast<int>(left->player_byte))
             .Add("name", players_[left->player_byte])
             .Add("reason", LeaveReason(left->reason)),
         "left     " + Player(left->player_byte) + " (" + LeaveReason(left->reason) + ")");
    players_.erase(left->player_byte);
    if (left->player_byte == own_player_byte) return false;
  } else if (auto created = plclient::ParseRoomCreated(frame)) {
    rooms_[created->room_byte] = created->name;
    Emit(Event("room-created")
             .Add("room", static_cast<int>(created->room_byte))
             .Add("name", created->name),
         "room     " + Room(created->room_byte) + " created");
  } else if (auto deleted = plclient::ParseRoomDeleted(frame)) {
    Emit(Event("room-deleted")
             .Add("room", static_cast<int>(deleted->room_byte))
             .Add("name", rooms_[deleted->room_byte]),
         "room     " + Room(deleted->room_byte) + " deleted");
    rooms_.erase(deleted->room_byte);
  } else if (auto admin = plclient::ParsePlayerIsAdmin(frame)) {
    Emit(Event("admin")
             .Add("player", static_cast<int>(admin->player_byte))
             .Add("name", players_[admin->player_byte]),
         "admin    " + Player(admin->player_byte) + " is an administrator now");
  } else {
    Emit(Event("frame")
             .Add("code", static_cast<int>(frame.Code()))
             .Add("size", static_cast<int>(frame.size())),
         "frame    " + plclient::DescribeFrame(frame));
  }
  return true;
}

int Watch(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketWatch(invocation, output);
  if (!invocation.arguments.empty()) ThrowUsage("usage: plctl watch [--duration SECONDS]");
  // Below 0: until interrupted.
  const int duration_ms =
      invocation.Has("duration") ? ParseSeconds("--duration", *invocation.Option("duration")) : -1;
  // Signals are taken in by the loop below, so an interrupted watch still leaves politely.
  plat::BlockTerminationSignals();
  auto session = Session::Open(invocation.global);
  Watcher watcher(session->lists(), output);
  output.Note("watching " + invocation.global.host + ":" + std::to_string(invocation.global.port) +
              (duration_ms >= 0 ? "" : " until interrupted"));
  const uint32_t started = plat::TickCount();
  for (;;) {
    if (WatchInterrupted()) break;
    int slice = kReadSliceMs;
    if (duration_ms >= 0) {
      const uint32_t elapsed = plat::TickCount() - started;
      if (elapsed >= static_cast<uint32_t>(duration_ms)) break;
      slice = std::min<int>(slice, duration_ms - static_cast<int>(elapsed));
    }
    // Notifications that came while the lists were awaited are shown first, in their order.
    std::optional<plclient::Frame> frame = session->TakeUnclaimed();
    if (!frame) frame = session->client().ReadFrame(slice);
    if (frame) {
      if (!watcher.Show(*frame, session->own_player_byte())) {
        throw CommandFailure(kExitRefused, "kicked", "kicked by an administrator");
      }
      continue;
    }
    if (session->client().LastStatus() != plat::IoStatus::kTimeout) {
      throw CommandFailure(kExitFailure, "closed", "the server closed the connection");
    }
  }
  session->Leave();
  output.Note(std::to_string(watcher.events()) + " events");
  return kExitDone;
}

}  // namespace

bool WatchInterrupted() {
  const plat::ShellEvent event = plat::WaitForSignalOrKey(plat::StdinWatch::kNothing, 0).event;
  return event == plat::ShellEvent::kTerminationSignal || event == plat::ShellEvent::kReloadSignal;
}

std::vector<CommandSpec> WatchCommands() {
  return {
      {"watch",
       "print notifications as they arrive",
       "Usage: plctl watch [--duration SECONDS]\n"
       "Prints the server's events as they happen: joins, moves, leaves with their reason,\n"
       "rooms, administrator logins, kicks, bans and failed logins, until interrupted (Ctrl-C)\n"
       "or until --duration seconds have passed. Through the operator socket it is no player\n"
       "and prints the server's own event lines, as its standard output has them (the JSON\n"
       "form with --json). With --host it logs in and shows up as one, sees only what players\n"
       "are told, and prints that in a form of its own.\n"
       "  --duration SECONDS   stop after this long\n"
       "Exit code 1 when an administrator kicks the watcher, 2 when the connection is lost.\n",
       {{"duration", true}},
       Watch},
  };
}

}  // namespace plctl
