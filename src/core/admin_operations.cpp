#include "core/admin_operations.h"

namespace core {
namespace {

// Why `password` cannot become the `which` password; nothing when it can.
std::optional<std::string> PasswordProblem(PasswordKind which, const std::string& password) {
  // A login frame carries at most 30 characters: a longer password could never be given.
  if (password.size() > wire::kNameLength) return "a password has at most 30 characters";
  // It would end its line in the file and come back cut short.
  if (password.find_first_of("\r\n") != std::string::npos)
    return "a password cannot hold a line break";
  // An empty administrator password would let anyone who can connect administer the server.
  if (which == PasswordKind::kAdmin && password.empty())
    return "the administrator password cannot be empty";
  return std::nullopt;
}

}  // namespace

std::optional<clients::TRoom> AdminOperations::CreateRoom(const Actor& by,
                                                          const std::string& name) {
  // The test and the creation are two steps, each under the registry's lock.
  if (rooms_.HasRoomNamed(name)) {
    events_.Emit(AdminActionLine(by, "room-create", "exists").Text("room", name));
    return std::nullopt;
  }
  clients::TRoom room = rooms_.CreateRoom(name);
  events_.Emit(AdminActionLine(by, "room-create", "ok").Text("room", name));
  return room;
}

std::optional<clients::TRoom> AdminOperations::DeleteRoom(const Actor& by, int room_number) {
  std::optional<clients::TRoom> room;
  if (room_number >= 1 && room_number <= wire::kMaxNumbers)
    room = rooms_.RemoveRoom(static_cast<uint8_t>(room_number - 1));
  events_.Emit(AdminActionLine(by, "room-delete", room ? "ok" : "no-such-room")
                   .Number("room", room_number)
                   .Text("room_name", room ? room->Name : ""));
  return room;
}

bool AdminOperations::Kick(const Actor& by, clients::TServerClient* player, int player_number) {
  const bool kicked =
      player && clients::AnnounceDeparture(clients_, *player, "kicked", wire::kReasonKicked);
  EventLine line = AdminActionLine(by, "kick", kicked ? "ok" : "no-such-player");
  line.Number("player", player_number);
  if (kicked) line.Text("player_name", player->Name);
  // Before the leave, whose line follows from the closing connection.
  events_.Emit(line);
  // Closed without waiting for the player to speak.
  if (kicked) player->Connection()->RequestClose();
  return kicked;
}

ChangeResult AdminOperations::ChangePassword(const Actor& by, PasswordKind which,
                                             const std::string& password) {
  const bool admin = which == PasswordKind::kAdmin;
  const char* action = admin ? "admin-password" : "server-password";
  ChangeResult result;
  if (std::optional<std::string> problem = PasswordProblem(which, password)) {
    result = {ChangeResult::Outcome::kBadValue, *problem};
  } else if (plat::Status written = config_.WriteKey(
                 "Passwords", admin ? "AdminPassword" : "ServerPassword", password);
             !written.ok()) {
    result = {ChangeResult::Outcome::kNotSaved, written.message()};
  } else if (admin) {
    passwords_.SetAdminPassword(password);
  } else {
    passwords_.SetServerPassword(password);
  }
  // The line names the change, never the password.
  events_.Emit(AdminActionLine(by, action, result.done() ? "ok" : "refused"));
  return result;
}

plat::Status AdminOperations::SaveRooms(const Actor& by) {
  plat::Status saved = config_.Change([this](plat::IniFile& ini) {
    ini.EraseSection("Channels");
    clients::RoomList::Lock lock = rooms_.Acquire();
    int position = 0;
    for (const auto& room : rooms_.Entries(lock)) {
      // Reading the list stops at the first empty name, so a room without a name (which could
      // never come back) is left out rather than cutting off every room after it, and so is a
      // name the file could not give back; the keys stay without gaps. A blank name is kept:
      // the file quotes it.
      if (room->Name.empty() || !ini.CanStore(room->Name)) continue;
      ini.WriteString("Channels", std::to_string(position++), room->Name);
    }
  });
  events_.Emit(AdminActionLine(by, "rooms-save", saved.ok() ? "ok" : "refused"));
  return saved;
}

}  // namespace core
