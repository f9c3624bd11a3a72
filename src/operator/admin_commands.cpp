// The operator's administration commands: kick, room create|delete, password server|admin,
// save-rooms. Each is the administration operation the control channel's commands use, with the
// operator's own checks of its arguments and its own answers.
#include "operator/commands.h"
#include "text/safe_text.h"

namespace oper {
namespace {

// A room name as clients can be shown it: one line of at most 30 bytes, no control characters.
void CheckRoomName(const std::string& name) {
  if (name.empty()) throw CommandError(error_code::kBadArgument, "the room name is empty");
  if (name.size() > wire::kNameLength)
    throw CommandError(error_code::kBadArgument, "the room name is longer than 30 bytes");
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F)
      throw CommandError(error_code::kBadArgument, "the room name holds a control character");
  }
}

}  // namespace

Json OperatorCommands::Kick(const Json& request) {
  clients::ClientRef kicked = FindPlayer(request);
  const int number = kicked->PlayerNo + 1;
  if (!access_.admin.Kick(core::Actor::Operator(), kicked.get(), number))
    throw CommandError(error_code::kNotFound, "the player is already leaving");
  return Json{{"number", number}, {"name", text::JsonSafeText(kicked->Name)}};
}

Json OperatorCommands::Room(const Json& request) {
  const std::string action = StringArgument(request, "action");
  if (action == "create") {
    const std::string name = StringArgument(request, "name");
    CheckRoomName(name);
    std::optional<clients::TRoom> room;
    try {
      room = access_.admin.CreateRoom(core::Actor::Operator(), name);
    } catch (const clients::RegistryFull&) {
      throw CommandError(error_code::kFull, "every room number is in use");
    }
    if (!room) throw CommandError(error_code::kExists, "a room of that name exists");
    return Json{{"number", room->RoomId + 1}, {"name", text::JsonSafeText(room->Name)}};
  }
  if (action == "delete") {
    const int64_t number = IntegerArgument(request, "room");
    std::optional<clients::TRoom> room;
    if (number >= 1 && number <= wire::kMaxNumbers)
      room = access_.admin.DeleteRoom(core::Actor::Operator(), static_cast<int>(number));
    if (!room) throw CommandError(error_code::kNotFound, "no room " + std::to_string(number));
    return Json{{"number", number}, {"name", text::JsonSafeText(room->Name)}};
  }
  throw CommandError(error_code::kBadArgument, "\"action\" must be create or delete");
}

Json OperatorCommands::Password(const Json& request) {
  const std::string which = StringArgument(request, "which");
  const std::string password = StringArgument(request, "password");
  if (which != "server" && which != "admin")
    throw CommandError(error_code::kBadArgument, "\"which\" must be server or admin");
  const core::ChangeResult result = access_.admin.ChangePassword(
      core::Actor::Operator(),
      which == "admin" ? core::PasswordKind::kAdmin : core::PasswordKind::kServer, password);
  switch (result.outcome) {
    case core::ChangeResult::Outcome::kDone:
      break;
    case core::ChangeResult::Outcome::kBadValue:
      throw CommandError(error_code::kBadArgument, result.reason);
    case core::ChangeResult::Outcome::kNotSaved:
      throw NotSaved(result.reason);
  }
  return Json{{"changed", which}};
}

Json OperatorCommands::SaveRooms() {
  if (plat::Status saved = access_.admin.SaveRooms(core::Actor::Operator()); !saved.ok())
    throw NotSaved(saved.message());
  return Json{{"rooms", access_.rooms.Count()}};
}

}  // namespace oper
