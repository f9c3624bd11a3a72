// The administration commands: AdminLogin and the six commands only an administrator may use.

#include "control/command_abandoned.h"
#include "core/servermain.h"
#include "platform/ascii_case.h"
#include "platform/clock.h"
#include "platform/ini_file.h"

namespace core {
namespace {

constexpr size_t kTextField = 8;   // password or room name
constexpr size_t kNumberByte = 8;  // room or player number + 1
// Wrong administrator passwords one connection may send; the last one closes it.
constexpr uint32_t kAdminFailuresBeforeClose = 3;

std::string TextField(std::span<const uint8_t> frame) {
  return wire::ReadCountedText(frame, kTextField, wire::kNameLength);
}

// The byte's number, or the command is abandoned for a byte of 0.
uint8_t NumberFromByte(std::span<const uint8_t> frame) {
  uint8_t byte = wire::ReadU8(frame, kNumberByte);
  if (byte == 0) throw control::CommandAbandoned();
  return static_cast<uint8_t>(byte - 1);
}

}  // namespace

// Writes one key of the configuration file, keeping everything else in it; false when the file
// cannot take it (then it is unchanged).
static bool WriteConfigurationKey(TParlowindServer& server, const char* section, const char* key,
                                  const std::string& value) {
  std::lock_guard<std::mutex> lock(server.config_file_mutex());
  std::string error;
  std::optional<plat::IniFile> ini =
      plat::IniFile::Open(server.settings().ConfigurationPath(), &error);
  if (!ini) return false;
  ini->WriteString(section, key, value);
  return ini->Commit().ok();
}

// A line break cannot be kept in the configuration file (it would end the line); any other text
// reads back as written.
static bool StorableText(const std::string& text) {
  return text.find_first_of("\r\n") == std::string::npos;
}

// A password change that is answered with success has reached the file and memory both: the
// next start brings the same password back, and a refusal leaves everything as it was.
// The event line names the change, never the password.
static void ChangePassword(TParlowindServer& server, clients::TServerClient& client,
                           const std::string& password, const char* key, int32_t done,
                           int32_t refused, void (PasswordStore::*set)(std::string)) {
  const char* action = key[0] == 'S' ? "server-password" : "admin-password";
  if (!StorableText(password) || !WriteConfigurationKey(server, "Passwords", key, password)) {
    server.event_output().Emit(
        AdminActionLine(TParlowindServer::ActorOf(client), action, "refused"));
    client.SendResult(refused);
    return;
  }
  (server.passwords().*set)(password);
  server.event_output().Emit(AdminActionLine(TParlowindServer::ActorOf(client), action, "ok"));
  client.SendResult(done);
}

// A command only an administrator may use, sent by someone who is not one.
static void RefuseNotAdmin(TParlowindServer& server, clients::TServerClient& client,
                           const char* action) {
  server.event_output().Emit(
      AdminActionLine(TParlowindServer::ActorOf(client), action, "not-admin"));
  client.SendResult(wire::kResultNotAdmin);
}

bool TParlowindServer::AdminLogin(std::span<const uint8_t> frame, clients::TServerClient& client) {
  std::string password = TextField(frame);
  if (events_.Enabled())
    events_.Report("CMD <-", "AdminLogin PW: " + password, wire::kAdminLogin, &client);
  const uint32_t ip = client.Connection() ? client.Connection()->Peer().ip : 0;
  // A banned address gets no password check at all: its guesses learn nothing.
  if (guard_.bans().IsBanned(ip, clock_.Now())) {
    client.LeaveReason = "ban";
    return true;
  }
  if (password != passwords_.AdminPassword()) {
    security::Count(guard_.counters().AdminPasswordFailures);
    event_output_.Emit(AdminLoginFailedLine(ActorOf(client), client.AdminLoginFailures + 1));
    if (!RecordAuthFailure(ip)) {
      client.LeaveReason = "ban";
      return true;
    }
    client.SendResult(wire::kResultWrongAdminPassword);
    return ++client.AdminLoginFailures >= kAdminFailuresBeforeClose;
  }
  event_output_.Emit(AdminLoginLine(ActorOf(client)));
  client.SetAdmin(true);
  if (client.IsOlderDialect()) client.SendResult(wire::kResultAdminAccepted);
  clients_.BroadcastPlayerIsAdmin(client);
  return false;
}

void TParlowindServer::AdminCreateRoom(std::span<const uint8_t> frame,
                                       clients::TServerClient& client) {
  std::string name = TextField(frame);
  if (events_.Enabled())
    events_.Report("CMD <-", "AdminCreateRoom RoomName: " + name, wire::kAdminCreateRoom, &client);
  if (!client.IsAdmin) {
    event_output_.Emit(
        AdminActionLine(ActorOf(client), "room-create", "not-admin").Text("room", name));
    return client.SendResult(wire::kResultNotAdmin);
  }
  bool exists = false;
  {
    clients::RoomList::Lock lock = rooms_.Acquire();
    for (const auto& room : rooms_.Entries(lock))
      exists = exists || plat::EqualsIgnoringAsciiCase(room->Name, name);
  }
  event_output_.Emit(
      AdminActionLine(ActorOf(client), "room-create", exists ? "exists" : "ok").Text("room", name));
  if (exists) return client.SendResult(wire::kResultRoomExists);
  rooms_.CreateRoom(name);
}

void TParlowindServer::AdminDeleteRoom(std::span<const uint8_t> frame,
                                       clients::TServerClient& client) {
  if (events_.Enabled()) {
    events_.Report("CMD <-",
                   "AdminDeleteRoom RoomId: " + std::to_string(wire::ReadU8(frame, kNumberByte)),
                   wire::kAdminDeleteRoom, &client);
  }
  const int room_byte = wire::ReadU8(frame, kNumberByte);
  if (!client.IsAdmin) {
    event_output_.Emit(
        AdminActionLine(ActorOf(client), "room-delete", "not-admin").Number("room", room_byte));
    return client.SendResult(wire::kResultNotAdmin);
  }
  uint8_t room_id = NumberFromByte(frame);
  const std::optional<clients::TRoom> room = rooms_.FindRoom(room_id);
  event_output_.Emit(AdminActionLine(ActorOf(client), "room-delete", room ? "ok" : "no-such-room")
                         .Number("room", room_byte)
                         .Text("room_name", room ? room->Name : ""));
  if (!room) return client.SendResult(wire::kResultNoSuchRoom);
  rooms_.RemoveRoom(room_id);
}

void TParlowindServer::AdminKickPlayer(std::span<const uint8_t> frame,
                                       clients::TServerClient& client) {
  events_.Report("CMD <-", "AdminKickPlayer", wire::kAdminKickPlayer, &client);
  const int player_byte = wire::ReadU8(frame, kNumberByte);
  if (!client.IsAdmin) {
    event_output_.Emit(
        AdminActionLine(ActorOf(client), "kick", "not-admin").Number("player", player_byte));
    return client.SendResult(wire::kResultNotAdmin);
  }
  clients::ClientRef kicked = clients_.FindClientByPlayerNo(NumberFromByte(frame));
  EventLine line = AdminActionLine(ActorOf(client), "kick", kicked ? "ok" : "no-such-player");
  line.Number("player", player_byte);
  if (kicked) line.Text("player_name", kicked->Name);
  event_output_.Emit(line);
  if (!kicked) return client.SendResult(wire::kResultNoSuchPlayer);
  kicked->LeaveReason = "kicked";
  kicked->Dropped = true;
  clients_.BroadcastPlayerLeft(*kicked, wire::kReasonKicked);
  // Its PlayerLeft has gone out: close the connection now rather than when it next speaks, so a
  // silent kicked client does not keep its place.
  kicked->Connection()->RequestClose();
}

void TParlowindServer::AdminChangeServerPassword(std::span<const uint8_t> frame,
                                                 clients::TServerClient& client) {
  std::string password = TextField(frame);
  if (events_.Enabled()) {
    events_.Report("CMD <-", "AdminChangeServerPassword NewPW: " + password,
                   wire::kAdminChangeServerPassword, &client);
  }
  if (!client.IsAdmin) return RefuseNotAdmin(*this, client, "server-password");
  ChangePassword(*this, client, password, "ServerPassword", wire::kResultServerPasswordChanged,
                 wire::kResultServerPasswordRefused, &PasswordStore::SetServerPassword);
}

void TParlowindServer::AdminChangeAdminPassword(std::span<const uint8_t> frame,
                                                clients::TServerClient& client) {
  std::string password = TextField(frame);
  if (events_.Enabled()) {
    events_.Report("CMD <-", "AdminChangeAdminPassword NewPW: " + password,
                   wire::kAdminChangeAdminPassword, &client);
  }
  if (!client.IsAdmin) return RefuseNotAdmin(*this, client, "admin-password");
  // An empty administrator password would let anyone who can connect administer the server.
  if (password.empty()) {
    event_output_.Emit(AdminActionLine(ActorOf(client), "admin-password", "refused"));
    return client.SendResult(wire::kResultAdminPasswordRefused);
  }
  ChangePassword(*this, client, password, "AdminPassword", wire::kResultAdminPasswordChanged,
                 wire::kResultAdminPasswordRefused, &PasswordStore::SetAdminPassword);
}

void TParlowindServer::AdminSaveAsDefaultChannels(clients::TServerClient& client) {
  events_.Report("CMD <-", "AdminSaveAsDefaultChannels", wire::kAdminSaveAsDefaultChannels,
                 &client);
  if (!client.IsAdmin) return RefuseNotAdmin(*this, client, "rooms-save");
  const bool saved = SaveRooms();
  event_output_.Emit(AdminActionLine(ActorOf(client), "rooms-save", saved ? "ok" : "refused"));
  client.SendResult(saved ? wire::kResultChannelsSaved : wire::kResultChannelsNotSaved);
}

bool TParlowindServer::SaveRooms() {
  std::lock_guard<std::mutex> file_lock(config_file_mutex_);
  std::string error;
  std::optional<plat::IniFile> ini = plat::IniFile::Open(settings_.ConfigurationPath(), &error);
  if (!ini) return false;
  ini->EraseSection("Channels");
  {
    clients::RoomList::Lock lock = rooms_.Acquire();
    int position = 0;
    for (const auto& room : rooms_.Entries(lock)) {
      // Reading the list stops at the first empty name, so a room without a name (which could
      // never come back) is left out rather than cutting off every room after it; the keys stay
      // without gaps. A blank name is kept: the file quotes it.
      if (room->Name.empty() || !StorableText(room->Name)) continue;
      ini->WriteString("Channels", std::to_string(position++), room->Name);
    }
  }
  // One replacement of the file: after a crash it holds the old list or the new one.
  return ini->Commit().ok();
}

}  // namespace core
