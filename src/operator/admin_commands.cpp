// The operator's administration commands: kick, room create|delete, password server|admin,
// save-rooms. Each does what the administration command of the control channel does, and a
// change answered with success has reached memory and the configuration file both.
#include "operator/commands.h"
#include "platform/ascii_case.h"
#include "text/safe_text.h"
#include "wire/global_types.h"

namespace oper {
namespace {

constexpr size_t kMaxText = 30;  // the longest name or password a client can send or see

// A text the configuration file and the protocol can carry: no line breaks or other control
// characters, at most 30 bytes.
void CheckText(const std::string& text, const char* what) {
  if (text.size() > kMaxText)
    throw CommandError(error_code::kBadArgument, std::string(what) + " is longer than 30 bytes");
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F)
      throw CommandError(error_code::kBadArgument,
                         std::string(what) + " holds a control character");
  }
}

}  // namespace

Json OperatorCommands::Kick(const Json& request) {
  clients::ClientRef kicked = FindPlayer(request);
  // Whoever sets the flag first (a kick, a ban, the player's own leave) announces the leave.
  if (kicked->Dropped.exchange(true))
    throw CommandError(error_code::kNotFound, "the player is already leaving");
  kicked->LeaveReason = "kicked";
  access_.events.Emit(ActionLine("kick", "ok")
                          .Number("player", kicked->PlayerNo + 1)
                          .Text("player_name", kicked->Name));
  access_.clients.BroadcastPlayerLeft(*kicked, wire::kReasonKicked);
  kicked->Connection()->RequestClose();
  return Json{{"number", kicked->PlayerNo + 1}, {"name", text::JsonSafeText(kicked->Name)}};
}

Json OperatorCommands::Room(const Json& request) {
  const std::string action = StringArgument(request, "action");
  if (action == "create") {
    const std::string name = StringArgument(request, "name");
    CheckText(name, "the room name");
    if (name.empty()) throw CommandError(error_code::kBadArgument, "the room name is empty");
    bool exists = false;
    {
      clients::RoomList::Lock lock = access_.rooms.Acquire();
      for (const auto& room : access_.rooms.Entries(lock))
        exists = exists || plat::EqualsIgnoringAsciiCase(room->Name, name);
    }
    if (exists) {
      access_.events.Emit(ActionLine("room-create", "exists").Text("room", name));
      throw CommandError(error_code::kExists, "a room of that name exists");
    }
    clients::TRoom room;
    try {
      room = access_.rooms.CreateRoom(name);
    } catch (const clients::RegistryFull&) {
      throw CommandError(error_code::kFull, "every room number is in use");
    }
    access_.events.Emit(ActionLine("room-create", "ok").Text("room", name));
    return Json{{"number", room.RoomId + 1}, {"name", text::JsonSafeText(room.Name)}};
  }
  if (action == "delete") {
    const int64_t number = IntegerArgument(request, "room");
    std::optional<clients::TRoom> room;
    if (number >= 1 && number <= 255)
      room = access_.rooms.FindRoom(static_cast<uint8_t>(number - 1));
    if (!room) throw CommandError(error_code::kNotFound, "no room " + std::to_string(number));
    access_.events.Emit(
        ActionLine("room-delete", "ok").Number("room", number).Text("room_name", room->Name));
    access_.rooms.RemoveRoom(room->RoomId);
    return Json{{"number", number}, {"name", text::JsonSafeText(room->Name)}};
  }
  throw CommandError(error_code::kBadArgument, "\"action\" must be create or delete");
}

Json OperatorCommands::Password(const Json& request) {
  const std::string which = StringArgument(request, "which");
  const std::string password = StringArgument(request, "password");
  if (which != "server" && which != "admin")
    throw CommandError(error_code::kBadArgument, "\"which\" must be server or admin");
  CheckText(password, "the password");
  const bool admin = which == "admin";
  const char* action = admin ? "admin-password" : "server-password";
  // An empty administrator password would let anyone who can connect administer the server.
  if (admin && password.empty())
    throw CommandError(error_code::kBadArgument, "the administrator password cannot be empty");
  const char* key = admin ? "AdminPassword" : "ServerPassword";
  if (!UpdateConfiguration(
          access_, [&](plat::IniFile& ini) { ini.WriteString("Passwords", key, password); })) {
    access_.events.Emit(ActionLine(action, "refused"));
    throw CommandError(error_code::kNotSaved, "the configuration file cannot be written");
  }
  if (admin) {
    access_.passwords.SetAdminPassword(password);
  } else {
    access_.passwords.SetServerPassword(password);
  }
  access_.events.Emit(ActionLine(action, "ok"));
  return Json{{"changed", which}};
}

Json OperatorCommands::SaveRooms() {
  const bool saved = access_.save_rooms && access_.save_rooms();
  access_.events.Emit(ActionLine("rooms-save", saved ? "ok" : "refused"));
  if (!saved) throw CommandError(error_code::kNotSaved, "the configuration file cannot be written");
  return Json{{"rooms", access_.rooms.Count()}};
}

}  // namespace oper
