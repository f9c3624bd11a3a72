// The administration commands: AdminLogin and the six commands only an administrator may use.

#include "control/command_abandoned.h"
#include "core/servermain.h"

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

// A command only an administrator may use, sent by someone who is not one; `line` is its
// not-admin event line.
static void RefuseNotAdmin(TParlowindServer& server, clients::TServerClient& client,
                           const EventLine& line) {
  server.event_output().Emit(line);
  client.SendResult(wire::kResultNotAdmin);
}

bool TParlowindServer::AdminLogin(std::span<const uint8_t> frame, clients::TServerClient& client) {
  std::string password = TextField(frame);
  if (events_.Enabled())
    events_.Report("CMD <-", "AdminLogin PW: " + password, wire::kAdminLogin, &client);
  const plat::IpAddress ip =
      client.Connection() ? client.Connection()->Peer().ip : plat::IpAddress::FromIpv4(0);
  // A banned address gets no password check at all: its guesses learn nothing.
  if (guard_.bans().IsBanned(ip, clock_.MonotonicMs())) {
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
    return RefuseNotAdmin(
        *this, client,
        AdminActionLine(ActorOf(client), "room-create", "not-admin").Text("room", name));
  }
  if (!admin_.CreateRoom(ActorOf(client), name)) client.SendResult(wire::kResultRoomExists);
}

void TParlowindServer::AdminDeleteRoom(std::span<const uint8_t> frame,
                                       clients::TServerClient& client) {
  const int room_byte = wire::ReadU8(frame, kNumberByte);
  if (events_.Enabled()) {
    events_.Report("CMD <-", "AdminDeleteRoom RoomId: " + std::to_string(room_byte),
                   wire::kAdminDeleteRoom, &client);
  }
  if (!client.IsAdmin) {
    return RefuseNotAdmin(
        *this, client,
        AdminActionLine(ActorOf(client), "room-delete", "not-admin").Number("room", room_byte));
  }
  if (room_byte == 0) throw control::CommandAbandoned();
  if (!admin_.DeleteRoom(ActorOf(client), room_byte)) client.SendResult(wire::kResultNoSuchRoom);
}

void TParlowindServer::AdminKickPlayer(std::span<const uint8_t> frame,
                                       clients::TServerClient& client) {
  events_.Report("CMD <-", "AdminKickPlayer", wire::kAdminKickPlayer, &client);
  const int player_byte = wire::ReadU8(frame, kNumberByte);
  if (!client.IsAdmin) {
    return RefuseNotAdmin(
        *this, client,
        AdminActionLine(ActorOf(client), "kick", "not-admin").Number("player", player_byte));
  }
  clients::ClientRef kicked = clients_.FindClientByPlayerNo(NumberFromByte(frame));
  // A player already on its way out (kicked or banned at the same moment, or leaving) has had
  // its PlayerLeft: it is not there to kick.
  if (!admin_.Kick(ActorOf(client), kicked.get(), player_byte))
    client.SendResult(wire::kResultNoSuchPlayer);
}

void TParlowindServer::AdminChangeServerPassword(std::span<const uint8_t> frame,
                                                 clients::TServerClient& client) {
  ChangePasswordCommand(frame, client, PasswordKind::kServer);
}

void TParlowindServer::AdminChangeAdminPassword(std::span<const uint8_t> frame,
                                                clients::TServerClient& client) {
  ChangePasswordCommand(frame, client, PasswordKind::kAdmin);
}

void TParlowindServer::ChangePasswordCommand(std::span<const uint8_t> frame,
                                             clients::TServerClient& client, PasswordKind which) {
  const bool admin = which == PasswordKind::kAdmin;
  std::string password = TextField(frame);
  if (events_.Enabled()) {
    events_.Report("CMD <-",
                   std::string(admin ? "AdminChangeAdminPassword" : "AdminChangeServerPassword") +
                       " NewPW: " + password,
                   admin ? wire::kAdminChangeAdminPassword : wire::kAdminChangeServerPassword,
                   &client);
  }
  const char* action = admin ? "admin-password" : "server-password";
  if (!client.IsAdmin)
    return RefuseNotAdmin(*this, client, AdminActionLine(ActorOf(client), action, "not-admin"));
  const bool changed = admin_.ChangePassword(ActorOf(client), which, password).done();
  if (admin) {
    client.SendResult(changed ? wire::kResultAdminPasswordChanged
                              : wire::kResultAdminPasswordRefused);
  } else {
    client.SendResult(changed ? wire::kResultServerPasswordChanged
                              : wire::kResultServerPasswordRefused);
  }
}

void TParlowindServer::AdminSaveAsDefaultChannels(clients::TServerClient& client) {
  events_.Report("CMD <-", "AdminSaveAsDefaultChannels", wire::kAdminSaveAsDefaultChannels,
                 &client);
  if (!client.IsAdmin)
    return RefuseNotAdmin(*this, client,
                          AdminActionLine(ActorOf(client), "rooms-save", "not-admin"));
  const bool saved = admin_.SaveRooms(ActorOf(client)).ok();
  client.SendResult(saved ? wire::kResultChannelsSaved : wire::kResultChannelsNotSaved);
}

}  // namespace core
